#include "LineProtocol.h"

#include <vector>

namespace veltrin::lab {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::vector<std::string_view> splitSpaces(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t space = text.find(' ', start);
        parts.push_back(text.substr(start, space - start));
        if (space == std::string_view::npos) {
            return parts;
        }
        start = space + 1;
    }
}

}  // namespace

std::optional<std::string> decodeHexField(std::string_view field) {
    if (field == "-") {
        return std::string{};
    }
    if (field.empty() || field.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    bytes.reserve(field.size() / 2);
    for (std::size_t i = 0; i < field.size(); i += 2) {
        const int high = hexDigit(field[i]);
        const int low = hexDigit(field[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

std::optional<DialRequest> parseDialLine(std::string_view line) {
    const auto parts = splitSpaces(line);
    if (parts.size() != 4 || parts[0] != "DIAL") {
        return std::nullopt;
    }
    const auto protocol = parseProtocol(parts[1]);
    auto user = decodeHexField(parts[2]);
    auto password = decodeHexField(parts[3]);
    if (!protocol || !user || !password) {
        return std::nullopt;
    }
    return DialRequest{*protocol, std::move(*user), std::move(*password)};
}

}  // namespace veltrin::lab
