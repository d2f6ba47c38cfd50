#pragma once

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

namespace veltrin::shell {

// An INI file read and written the way the platform's private-profile functions do it, one value
// per call: code page 936 on disk, sections in first-written order, a new key at the end of its
// section, a new section at the end of the file, keys and sections matched without regard to
// letter case, values read back trimmed of blanks and of one pair of surrounding quotes.
// Unlike those functions, every write replaces the file whole (temporary file + rename), so a
// crash never leaves half a settings file, and the file is created private (mode 0600): it holds
// the password.
class ProfileFile final {
public:
    explicit ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

    // The value, or an empty text when the file, the section or the key is missing.
    std::string read(const std::string& section, const std::string& key) const;
    // Whether the key exists at all.
    bool has(const std::string& section, const std::string& key) const;
    // False when the file could not be written; the old file is then left as it was.
    bool write(const std::string& section, const std::string& key, const std::string& value);

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    mutable std::mutex mutex_;  // a read-modify-write must not lose another thread's write
};

// Pure forms of the two operations on the file's UTF-8 text, for tests.
std::optional<std::string> profileValue(const std::string& text, const std::string& section,
                                        const std::string& key);
std::string withProfileValue(const std::string& text, const std::string& section,
                             const std::string& key, const std::string& value);

}  // namespace veltrin::shell
