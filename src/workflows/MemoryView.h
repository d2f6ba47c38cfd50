#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "workflows/View.h"

namespace veltrin::workflows {

// A window without a toolkit: controls are values in memory. Tests drive workflows with it and
// read back every text, message and colour; tools without a window use it too.
class MemoryView final : public View {
public:
    struct Message {
        std::string text;
        int style = 0;
        std::string title;
    };

    MemoryView();

    std::string text(std::string_view control) override;
    void setText(std::string_view control, const std::string& text) override;
    bool isTicked(std::string_view control) override;
    void setTicked(std::string_view control, bool ticked) override;
    void setEnabled(std::string_view control, bool enabled) override;
    bool isEnabled(std::string_view control) override;
    void appendResult(const std::string& text) override;
    void setStatusColour(Rgb colour) override;
    bool isVisible(std::string_view control) override;
    void setVisible(std::string_view control, bool visible) override;
    void setAlwaysOnTop(bool onTop) override;
    int rowCount(std::string_view list) override;
    int selectedRow(std::string_view list) override;
    std::string cell(std::string_view list, int row, int column) override;

    void setRows(std::string_view list, std::vector<std::vector<std::string>> rows);
    void select(std::string_view list, int row);
    bool alwaysOnTop();

    // Every text each control was given, in order (the status line's history shows dial stages).
    std::vector<std::string> history(std::string_view control);
    std::vector<Message> messages();
    Rgb statusColour();

    // Called after every text change, on the writer's thread.
    void onTextChanged(
        std::function<void(std::string_view control, const std::string& text)> listener);

    // Waits (bounded, unscaled) until the control's text satisfies the predicate.
    bool waitForText(std::string_view control, const std::function<bool(const std::string&)>& pred,
                     std::chrono::milliseconds timeout);

protected:
    void presentMessage(const std::string& text, int style, const std::string& title) override;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, std::string, std::less<>> texts_;
    std::map<std::string, std::vector<std::string>, std::less<>> history_;
    std::map<std::string, bool, std::less<>> ticked_;
    std::map<std::string, bool, std::less<>> enabled_;
    std::vector<Message> messages_;
    Rgb statusColour_;
    std::map<std::string, bool, std::less<>> visible_;
    std::map<std::string, std::vector<std::vector<std::string>>, std::less<>> rows_;
    std::map<std::string, int, std::less<>> selection_;
    bool alwaysOnTop_ = false;
    std::function<void(std::string_view, const std::string&)> listener_;
};

}  // namespace veltrin::workflows
