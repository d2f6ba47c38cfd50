#pragma once

#include <chrono>

namespace veltrin::engine {

// The factor every workflow wait and timer period is multiplied by (VELTRIN_TIME_SCALE, default 1),
// so tests can run the long waits quickly. Network timeouts are never scaled.
double timeScale();

// Overrides the factor for this process; tests use it.
void setTimeScale(double factor);

std::chrono::microseconds scaled(std::chrono::milliseconds wait);

// Parses a time scale text; anything but a positive finite number gives 1.
double parseTimeScale(const char* text);

}  // namespace veltrin::engine
