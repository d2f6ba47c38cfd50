#include "workflows/ConnectionState.h"

#include "engine/DialEngine.h"

namespace veltrin::workflows {

engine::ConnectionHandle ConnectionState::rasConnection() const {
    return engine::dialEngine().rasConnection();
}

ConnectionState& connectionState() {
    static ConnectionState state;
    return state;
}

}  // namespace veltrin::workflows
