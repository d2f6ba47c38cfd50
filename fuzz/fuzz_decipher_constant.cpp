// decipherConstant over any hex text and key, and the round trip through encipherConstant.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "service/Cipher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using veltrin::fuzz::require;
    namespace s = veltrin::service;
    FuzzedDataProvider in(data, size);
    const std::string key = in.ConsumeRandomLengthString(64);
    const std::string hex = in.ConsumeRemainingBytesAsString();

    const std::string plain = s::decipherConstant(hex, key);
    require(plain.size() <= hex.size() / 2 + 1, "one byte per two digits at most");
    require(plain.find('\0') == std::string::npos, "a zero byte ends the text");

    // The input as clear text must come back up to its first zero byte.
    const std::string back = s::decipherConstant(s::encipherConstant(hex, key), key);
    require(back == hex.substr(0, hex.find('\0')), "encipher then decipher gives the text back");
    return 0;
}
