#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veltrin::text {

// The whole file, or nothing when it cannot be read.
std::optional<std::string> readWholeFile(const std::filesystem::path& path);

// Writes the bytes to a temporary file beside the target and renames it into place, so a crash
// never leaves half a file. False when any step failed; the old file is then untouched.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         unsigned mode = 0644);

}  // namespace veltrin::text
