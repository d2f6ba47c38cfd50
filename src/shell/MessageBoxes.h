#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <vector>

class QWidget;

namespace veltrin::shell {

// Every message box of the application goes through here, so a GUI test can answer the next
// boxes itself: with an answer queued (or auto-answer on) the box is recorded and not shown.
class MessageBoxes final {
public:
    struct Box {
        std::string title;
        std::string text;
        int style = 0;
    };

    // Shows a modal box with an OK button; style 0x40 adds the information icon. UI thread only.
    static void show(QWidget* parent, const std::string& text, int style, const std::string& title);

    static void setNextAnswers(int count);  // the next `count` boxes are answered with OK
    static void setAutoAnswer(bool on);     // every box is answered until switched off
    static std::vector<Box> shown();        // boxes answered by the test hook, in order
    static void clearShown();

private:
    static std::mutex mutex_;
    static int queued_;
    static bool auto_;
    static std::vector<Box> shown_;
};

}  // namespace veltrin::shell
