#include "engine/EntryName.h"

#include <chrono>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace veltrin::engine {

std::uint32_t drawBetween(std::uint32_t t, std::uint32_t a, std::uint32_t b) {
    const std::uint32_t range = b - a + 1u;
    const std::uint32_t mixed = t * 23u + 7u;
    return a + (range == 0u ? mixed : mixed % range);
}

std::uint32_t readTimestampCounter() {
#if defined(__x86_64__) || defined(__i386__)
    return static_cast<std::uint32_t>(__rdtsc());
#else
    return static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

std::string makeEntryName(const std::function<std::uint32_t()>& counter) {
    std::string name;
    name.reserve(8);
    for (int i = 0; i < 8; ++i) {
        const bool lower = drawBetween(counter(), 1, 2) == 1;
        const std::uint32_t code =
            lower ? drawBetween(counter(), 97, 122) : drawBetween(counter(), 65, 90);
        name.push_back(static_cast<char>(code));
    }
    return name;
}

}  // namespace veltrin::engine
