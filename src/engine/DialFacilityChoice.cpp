// The one place that picks the dial facility this build uses.
#include <cstdlib>

#include "engine/DialFacility.h"

#if VELTRIN_FACILITY_LAB
#include "engine/LabDialFacility.h"
#endif

namespace veltrin::engine {

std::shared_ptr<DialFacility> makeDialFacility(const FacilityOptions& options) {
#if VELTRIN_FACILITY_LAB
    LabFacilityOptions lab;
    lab.dataDirectory = options.dataDirectory;
    if (const char* t = std::getenv("VELTRIN_LAB_DIAL_TIMEOUT_MS");
        t != nullptr && std::atoi(t) > 0) {
        lab.answerTimeout = std::chrono::milliseconds{std::atoi(t)};
    }
    return std::make_shared<LabDialFacility>(lab);
#endif
}

}  // namespace veltrin::engine
