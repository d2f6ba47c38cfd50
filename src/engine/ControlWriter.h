#pragma once

#include <string>
#include <string_view>

namespace veltrin::engine {

// What the dial engine needs of a window: replace the whole text of one of its controls. Windows
// implement it; a call from another thread reaches the window's own thread before it returns.
class ControlWriter {
public:
    virtual ~ControlWriter() = default;
    virtual void setText(std::string_view control, const std::string& text) = 0;
};

}  // namespace veltrin::engine
