#include "text/LocalText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace veltrin::text {
namespace {

class Converter final {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            throw std::runtime_error("iconv cannot convert between code page 936 and UTF-8");
        }
    }
    ~Converter() { iconv_close(cd_); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as possible; on an unconvertible or invalid input sequence appends
    // `replacement` and skips `skip(in)` bytes of input.
    template <typename Skip>
    std::string convert(std::string_view input, std::string_view replacement, Skip skip) {
        std::string out;
        out.reserve(input.size() * 2);
        char buffer[1024];
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        while (inLeft > 0) {
            char* o = buffer;
            size_t oLeft = sizeof buffer;
            const size_t r = iconv(cd_, &in, &inLeft, &o, &oLeft);
            out.append(buffer, o - buffer);
            if (r != static_cast<size_t>(-1)) {
                break;
            }
            if (errno == E2BIG) {
                continue;
            }
            // EILSEQ or EINVAL (truncated sequence at the end)
            out.append(replacement);
            const size_t n = std::min(inLeft, skip(std::string_view(in, inLeft)));
            in += n;
            inLeft -= n;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        return out;
    }

private:
    iconv_t cd_;
};

// Length of the UTF-8 sequence that starts the text, or 1 for a byte that starts none.
size_t utf8SequenceLength(std::string_view s) {
    const auto b = static_cast<unsigned char>(s[0]);
    size_t n = 1;
    if (b >= 0xF0 && b < 0xF8) {
        n = 4;
    } else if (b >= 0xE0) {
        n = b < 0xF0 ? 3 : 1;
    } else if (b >= 0xC2) {
        n = 2;
    }
    // A broken or truncated sequence is skipped up to its first byte that does not continue it.
    const size_t end = std::min(n, s.size());
    for (size_t i = 1; i < end; ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            return i;
        }
    }
    return end;
}

// A lead byte of code page 936 takes its trail byte with it; anything else is one byte.
size_t localSequenceLength(std::string_view s) {
    const auto b = static_cast<unsigned char>(s[0]);
    return (b >= 0x81 && b <= 0xFE && s.size() >= 2) ? 2 : 1;
}

}  // namespace

std::string toLocal(std::string_view utf8) {
    thread_local Converter c("CP936", "UTF-8");
    return c.convert(utf8, "?", utf8SequenceLength);
}

std::string fromLocal(std::string_view local) {
    thread_local Converter c("UTF-8", "CP936");
    return c.convert(local, "\xEF\xBF\xBD", localSequenceLength);
}

std::size_t localLength(std::string_view utf8) {
    return toLocal(utf8).size();
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace veltrin::text
