#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/ControlWriter.h"

namespace veltrin::workflows {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

// Message box styles the workflows pass.
namespace message_style {
inline constexpr int kPlain = 0;           // an OK button, no icon
inline constexpr int kInformation = 0x40;  // an OK button with the information icon
}  // namespace message_style
inline constexpr std::string_view kDefaultMessageTitle = "友情提醒";

// What the workflows need of a window. Controls are named by their form names. The window
// implementation runs every call on its own thread; callers on workers wait for it.
class View : public engine::ControlWriter {
public:
    virtual std::string text(std::string_view control) = 0;
    virtual bool isTicked(std::string_view control) = 0;
    virtual void setTicked(std::string_view control, bool ticked) = 0;
    virtual void setEnabled(std::string_view control, bool enabled) = 0;
    virtual bool isEnabled(std::string_view control) = 0;
    // Moves the caret to the end of the results box and inserts the text there.
    virtual void appendResult(const std::string& text) = 0;
    virtual void setStatusColour(Rgb colour) = 0;

    virtual bool isVisible(std::string_view control) = 0;
    virtual void setVisible(std::string_view control, bool visible) = 0;
    virtual void setAlwaysOnTop(bool onTop) = 0;

    // Report lists: rows of text columns; the selection is -1 when no row is selected.
    virtual int rowCount(std::string_view list) = 0;
    virtual int selectedRow(std::string_view list) = 0;
    virtual std::string cell(std::string_view list, int row, int column) = 0;

    // A modal message box; returns when the user closes it. Without a style: OK with the
    // information icon; without a title: "友情提醒".
    void showMessage(const std::string& text, std::optional<int> style = std::nullopt,
                     std::optional<std::string> title = std::nullopt);

protected:
    virtual void presentMessage(const std::string& text, int style, const std::string& title) = 0;
};

}  // namespace veltrin::workflows
