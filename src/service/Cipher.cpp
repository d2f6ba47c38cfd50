#include "service/Cipher.h"

#include <array>
#include <cstdint>
#include <vector>

namespace veltrin::service {
namespace {

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return 0;  // not a digit: the byte is meaningless either way, keep it bounded
}

std::vector<std::uint8_t> parseHex(std::string_view hex) {
    std::string digits;
    digits.reserve(hex.size());
    for (char c : hex) {
        if (c != ',') {
            digits.push_back(c);
        }
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(digits.size() / 2 + 1);
    std::size_t i = 0;
    for (; i + 1 < digits.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(16 * digitValue(digits[i]) + digitValue(digits[i + 1])));
    }
    if (i < digits.size()) {
        bytes.push_back(static_cast<std::uint8_t>(digitValue(digits[i])));
    }
    return bytes;
}

std::string applyStream(const std::vector<std::uint8_t>& data, std::string_view key) {
    std::array<std::uint8_t, 256> s{};
    for (int m = 0; m < 256; ++m) {
        s[m] = static_cast<std::uint8_t>(m);
    }
    // The +1 on j (and on i below) is what the stored constants were made with.
    unsigned j = 0;
    for (unsigned m = 0; m < 256; ++m) {
        // An empty key would divide by zero; it counts as a key of zero bytes.
        const unsigned k = key.empty() ? 0u : static_cast<unsigned char>(key[m % key.size()]);
        j = ((j + s[m] + k) % 256) + 1;
        std::swap(s[m], s[j - 1]);
    }
    std::string out;
    out.reserve(data.size());
    unsigned i = 0;
    j = 0;
    for (std::uint8_t d : data) {
        i = ((i + 1) % 256) + 1;
        j = ((j + s[i - 1]) % 256) + 1;
        std::swap(s[i - 1], s[j - 1]);
        const unsigned t = (s[i - 1] + s[j - 1]) % 256;
        out.push_back(static_cast<char>(d ^ s[t]));
    }
    return out;
}

}  // namespace

std::string decipherConstant(std::string_view hex, std::string_view key) {
    std::string out = applyStream(parseHex(hex), key);
    if (const auto zero = out.find('\0'); zero != std::string::npos) {
        out.resize(zero);
    }
    return out;
}

std::string encipherConstant(std::string_view plain, std::string_view key) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::string stream =
        applyStream(std::vector<std::uint8_t>(plain.begin(), plain.end()), key);
    std::string hex;
    hex.reserve(stream.size() * 3);
    for (unsigned char b : stream) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 0x0F]);
        hex.push_back(',');
    }
    return hex;
}

}  // namespace veltrin::service
