#include <utility>

#include "platform/LocalNetwork.h"
#include "platform/Spawn.h"

namespace veltrin::platform {

NetworkManagerSwitch::NetworkManagerSwitch(std::string program) : program_(std::move(program)) {}

void NetworkManagerSwitch::release() {
    startDetached({program_, "networking", "off"});
}

void NetworkManagerSwitch::renew() {
    startDetached({program_, "networking", "on"});
}

}  // namespace veltrin::platform
