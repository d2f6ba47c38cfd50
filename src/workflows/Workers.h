#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace veltrin::workflows {

// Runs fn on a worker thread of its own. Workers are counted so shutdown and tests can wait for
// them; an exception in a worker ends that worker, never the process.
void startWorker(std::function<void()> fn);

std::size_t runningWorkers();
// True when every worker has ended within the timeout.
bool waitForWorkers(std::chrono::milliseconds timeout);

}  // namespace veltrin::workflows
