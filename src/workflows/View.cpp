#include "workflows/View.h"

namespace veltrin::workflows {

void View::showMessage(const std::string& text, std::optional<int> style,
                       std::optional<std::string> title) {
    presentMessage(text, style.value_or(message_style::kInformation),
                   title.value_or(std::string(kDefaultMessageTitle)));
}

}  // namespace veltrin::workflows
