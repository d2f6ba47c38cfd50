#include "service/TextTools.h"

#include <algorithm>
#include <limits>

#include "text/LocalText.h"

namespace veltrin::service {
namespace {

std::string withQuotes(std::string_view marker) {
    static constexpr std::string_view kPlaceholder = "#引号";
    std::string out;
    out.reserve(marker.size());
    for (std::size_t at = 0; at < marker.size();) {
        if (marker.substr(at).starts_with(kPlaceholder)) {
            out.push_back('"');
            at += kPlaceholder.size();
        } else {
            out.push_back(marker[at++]);
        }
    }
    return out;
}

}  // namespace

std::string textBetween(std::string_view source, std::string_view left, std::string_view right) {
    const std::string l = withQuotes(left);
    const std::string r = withQuotes(right);
    const auto found = source.find(l);
    if (found == std::string_view::npos) {
        return {};
    }
    const auto start = found + l.size();
    const auto end = source.find(r, start);
    if (end == std::string_view::npos) {
        return {};
    }
    return std::string(source.substr(start, end - start));
}

std::string utf8ToLocal(std::string_view utf8) {
    // Code page 936 holds ASCII byte for byte, and no broken sequence reaches into an ASCII byte,
    // so only the runs of other bytes need the round trip through iconv.
    const auto wide = [](char c) { return static_cast<unsigned char>(c) >= 0x80; };
    std::string out;
    out.reserve(utf8.size());
    auto at = utf8.begin();
    while (at != utf8.end()) {
        const auto runStart = std::find_if(at, utf8.end(), wide);
        out.append(at, runStart);
        if (runStart == utf8.end()) {
            break;
        }
        const auto runEnd = std::find_if_not(runStart, utf8.end(), wide);
        out += text::fromLocal(text::toLocal(std::string_view(runStart, runEnd)));
        at = runEnd;
    }
    return out;
}

std::string localBodyToText(std::string_view body) {
    return text::fromLocal(body.substr(0, body.find('\0')));
}

std::string queryEscaped(std::string_view utf8) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text::toLocal(utf8)) {
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                                (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' ||
                                c == '~';
        if (unreserved) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kDigits[c >> 4]);
            out.push_back(kDigits[c & 0x0F]);
        }
    }
    return out;
}

std::optional<std::int64_t> leadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i == text.size() || text[i] < '0' || text[i] > '9') {
        return std::nullopt;
    }
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return value;
}

}  // namespace veltrin::service
