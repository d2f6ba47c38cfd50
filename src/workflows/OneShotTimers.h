#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace veltrin::workflows {

// Named one-shot timers: arming one with a period fires its handler once, that (scaled) time
// later, on a worker; arming again replaces the pending firing; a period of 0 or less stops it.
// Windows without a toolkit timer use these; the handlers do the work the window's timers do.
class OneShotTimers final {
public:
    ~OneShotTimers();

    void setHandler(std::string_view timer, std::function<void()> handler);
    void arm(std::string_view timer, int milliseconds);
    // The period last set (0 when stopped or fired), as a window's timer shows it.
    int period(std::string_view timer);
    void stopAll();

private:
    struct Timer {
        std::function<void()> handler;
        int period = 0;
        unsigned long generation = 0;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Timer, std::less<>> timers_;
    int waiting_ = 0;
    bool closing_ = false;
};

}  // namespace veltrin::workflows
