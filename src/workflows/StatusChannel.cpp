#include "workflows/StatusChannel.h"

#include "text/LocalText.h"

namespace veltrin::workflows {

bool statusIs(std::string_view statusText, std::string_view expected) {
    return text::trimmed(statusText) == expected;
}

bool dialLeftNoTrace(std::string_view statusText) {
    const auto t = text::trimmed(statusText);
    return t.empty() || t == status::kManualStop || t == status::kRepairDone;
}

}  // namespace veltrin::workflows
