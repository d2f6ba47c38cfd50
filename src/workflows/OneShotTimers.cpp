#include "workflows/OneShotTimers.h"

#include "engine/TimeScale.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {

OneShotTimers::~OneShotTimers() {
    std::unique_lock lock(mutex_);
    closing_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return waiting_ == 0; });
}

void OneShotTimers::setHandler(std::string_view timer, std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    timers_[std::string(timer)].handler = std::move(handler);
}

int OneShotTimers::period(std::string_view timer) {
    std::lock_guard lock(mutex_);
    const auto it = timers_.find(timer);
    return it == timers_.end() ? 0 : it->second.period;
}

void OneShotTimers::stopAll() {
    std::lock_guard lock(mutex_);
    for (auto& [name, t] : timers_) {
        t.period = 0;
        ++t.generation;
    }
    changed_.notify_all();
}

void OneShotTimers::arm(std::string_view timer, int milliseconds) {
    std::unique_lock lock(mutex_);
    auto& t = timers_[std::string(timer)];
    t.period = milliseconds > 0 ? milliseconds : 0;
    const unsigned long generation = ++t.generation;
    changed_.notify_all();
    if (milliseconds <= 0 || closing_) {
        return;
    }
    ++waiting_;
    const auto due =
        std::chrono::steady_clock::now() + engine::scaled(std::chrono::milliseconds{milliseconds});
    startWorker([this, name = std::string(timer), generation, due] {
        std::function<void()> handler;
        {
            std::unique_lock lock(mutex_);
            auto& t = timers_[name];
            changed_.wait_until(lock, due, [&] { return closing_ || t.generation != generation; });
            if (!closing_ && t.generation == generation) {
                t.period = 0;  // one shot: a handler re-arms when it wants another
                handler = t.handler;
            }
            --waiting_;
            changed_.notify_all();
        }
        if (handler) {
            handler();
        }
    });
}

}  // namespace veltrin::workflows
