#pragma once

#include <string>
#include <string_view>

// Code page 936 ("local text") lives only at the boundaries: files, service answers, byte-counting
// rules. Inside the program text is UTF-8.
namespace veltrin::text {

// UTF-8 to code page 936 bytes. A character the code page cannot hold becomes "?"; an invalid
// UTF-8 byte becomes "?" too, so the result is always complete.
std::string toLocal(std::string_view utf8);

// Code page 936 bytes to UTF-8. A byte sequence that is not code page 936 becomes U+FFFD.
std::string fromLocal(std::string_view local);

// Number of bytes the text takes in code page 936.
std::size_t localLength(std::string_view utf8);

// Text trimmed of surrounding blanks (space, tab, CR, LF), as the status and input rules compare.
std::string_view trimmed(std::string_view text);

}  // namespace veltrin::text
