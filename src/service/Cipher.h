#pragma once

#include <string>
#include <string_view>

// The endpoint cipher: an RC4 relative with two +1 departures, kept byte-exact because the stored
// constants were made with it. It only XORs a key stream onto the data, so one routine serves both
// directions.
namespace veltrin::service {

// The one key every endpoint constant is enciphered with.
inline constexpr std::string_view kCipherKey = "wkbzat";

// "3A,0F,..." (commas optional, any letter case) to the deciphered bytes; a zero byte ends the
// text. Never fails: malformed input gives meaningless but bounded output.
std::string decipherConstant(std::string_view hex, std::string_view key);

// The bytes enciphered and written as upper-case hex pairs, each followed by a comma.
std::string encipherConstant(std::string_view plain, std::string_view key);

}  // namespace veltrin::service
