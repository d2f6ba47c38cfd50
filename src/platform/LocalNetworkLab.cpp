#include <system_error>
#include <utility>

#include "platform/LocalNetwork.h"
#include "text/Files.h"

namespace veltrin::platform {

LabNetworkSwitch::LabNetworkSwitch(std::filesystem::path dataDirectory)
    : dataDirectory_(std::move(dataDirectory)) {}

void LabNetworkSwitch::release() {
    record(lab_network_state::kReleased);
}

void LabNetworkSwitch::renew() {
    record(lab_network_state::kRenewed);
}

std::filesystem::path LabNetworkSwitch::stateFile() const {
    return dataDirectory_ / kLabNetworkStateFile;
}

void LabNetworkSwitch::record(std::string_view state) {
    std::error_code ignored;
    std::filesystem::create_directories(dataDirectory_, ignored);
    text::writeFileAtomically(stateFile(), state);
}

std::optional<std::string> readLabNetworkState(const std::filesystem::path& dataDirectory) {
    return text::readWholeFile(dataDirectory / kLabNetworkStateFile);
}

}  // namespace veltrin::platform
