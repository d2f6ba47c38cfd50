#include "engine/TimeScale.h"

#include <atomic>
#include <cmath>
#include <cstdlib>

namespace veltrin::engine {
namespace {

std::atomic<double>& factor() {
    static std::atomic<double> value{parseTimeScale(std::getenv("VELTRIN_TIME_SCALE"))};
    return value;
}

}  // namespace

double parseTimeScale(const char* text) {
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v <= 0.0) {
        return 1.0;
    }
    return v;
}

double timeScale() {
    return factor().load();
}

void setTimeScale(double f) {
    factor().store(f > 0.0 && std::isfinite(f) ? f : 1.0);
}

std::chrono::microseconds scaled(std::chrono::milliseconds wait) {
    if (wait.count() <= 0) {
        return std::chrono::microseconds{0};
    }
    return std::chrono::microseconds{
        std::llround(static_cast<double>(wait.count()) * 1000.0 * timeScale())};
}

}  // namespace veltrin::engine
