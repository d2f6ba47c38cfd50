#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace veltrin::engine {

// The draw behind entry names: a + ((t * 23 + 7) mod (b - a + 1)), all in unsigned 32-bit
// arithmetic, t being the low 32 bits of the processor's time-stamp counter.
std::uint32_t drawBetween(std::uint32_t t, std::uint32_t a, std::uint32_t b);

// Low 32 bits of the time-stamp counter (a monotonic nanosecond clock where there is none).
std::uint32_t readTimestampCounter();

// A fresh 8-letter entry name. The counter source is replaceable so tests can pin the draws.
std::string makeEntryName(const std::function<std::uint32_t()>& counter = readTimestampCounter);

}  // namespace veltrin::engine
