#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace veltrin::fuzz {

// A broken property is a finding: libFuzzer keeps the input that led here.
inline void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

inline bool validUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        unsigned min = 0;
        if (b < 0x80) {
            n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            n = 2, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            n = 3, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            n = 4, min = 0x10000;
        } else {
            return false;
        }
        if (i + n > s.size()) {
            return false;
        }
        unsigned cp = n == 1 ? b : (b & (0x7F >> n));
        for (std::size_t k = 1; k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += n;
    }
    return true;
}

}  // namespace veltrin::fuzz
