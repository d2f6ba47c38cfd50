#include "workflows/Workers.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

namespace veltrin::workflows {
namespace {

std::mutex mutex;
std::condition_variable ended;
std::size_t running = 0;

}  // namespace

void startWorker(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex);
        ++running;
    }
    std::thread([fn = std::move(fn)] {
        try {
            fn();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "veltrin: a worker ended with an error: %s\n", e.what());
        } catch (...) {
            std::fprintf(stderr, "veltrin: a worker ended with an unknown error\n");
        }
        std::lock_guard lock(mutex);
        --running;
        ended.notify_all();
    }).detach();
}

std::size_t runningWorkers() {
    std::lock_guard lock(mutex);
    return running;
}

bool waitForWorkers(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return ended.wait_for(lock, timeout, [] { return running == 0; });
}

}  // namespace veltrin::workflows
