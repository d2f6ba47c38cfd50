#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrin::service {

// The text between the first `left` and the first `right` after it; empty when either is missing.
// "#引号" in a marker stands for a double quote (markers from the remote text need it).
std::string textBetween(std::string_view source, std::string_view left, std::string_view right);

// Keeps only what code page 936 can hold: every other character becomes "?", as does an invalid
// UTF-8 sequence. Input and result are UTF-8.
std::string utf8ToLocal(std::string_view utf8);

// A body the service sends as local text: code page 936 bytes up to the first zero byte, as UTF-8.
std::string localBodyToText(std::string_view body);

// The code page 936 bytes of the text, percent-encoded except for unreserved characters, so
// that a value cannot break out of its query parameter.
std::string queryEscaped(std::string_view utf8);

// The integer written by the leading digits of the text (after blanks); nullopt without digits.
// Saturates instead of overflowing.
std::optional<std::int64_t> leadingInteger(std::string_view text);

}  // namespace veltrin::service
