# Writes a C++ source holding a file's bytes: cmake -DINPUT=.. -DOUTPUT=.. -DSYMBOL=.. -P embed_bytes.cmake
# SYMBOL names a std::span<const std::uint8_t> function in veltrin::platform.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hexLength)
math(EXPR size "${hexLength} / 2")
# Sixteen bytes a line keeps the generated file readable.
set(bytes "")
set(offset 0)
while(offset LESS hexLength)
    string(SUBSTRING "${hex}" ${offset} 32 line)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1, " line "${line}")
    string(STRIP "${line}" line)
    string(APPEND bytes "    ${line}\n")
    math(EXPR offset "${offset} + 32")
endwhile()
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${name} at build time; do not edit.
#include <cstdint>
#include <span>

namespace veltrin::platform {
namespace {
constexpr std::uint8_t kBytes[${size}] = {
${bytes}};
}  // namespace

std::span<const std::uint8_t> ${SYMBOL}() {
    return kBytes;
}

}  // namespace veltrin::platform
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
