#pragma once

#include <functional>
#include <memory>

namespace veltrin::platform {

// The system-wide F1 key (no modifiers). One implementation per window system; the build picks
// the one file that provides makeHotKey().
class HotKey {
public:
    virtual ~HotKey() = default;
    // Grabs F1 for the whole session; onPress runs on the UI thread for each press. Returns a
    // non-zero identifier, or 0 when the key cannot be had (taken, or no such window system).
    virtual int registerF1(std::function<void()> onPress) = 0;
    // Releases the grab of that identifier; 0 does nothing.
    virtual void unregister(int id) = 0;
};

std::unique_ptr<HotKey> makeHotKey();

}  // namespace veltrin::platform
