#include "shell/Startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace veltrin::shell {
namespace fs = std::filesystem;

ModeChoice modeFromMarker(std::string_view markerText) {
    if (markerText.empty()) {
        return {};
    }
    std::string_view between;
    if (const auto open = markerText.find('{'); open != std::string_view::npos) {
        const auto close = markerText.find('}', open + 1);
        if (close != std::string_view::npos) {
            between = markerText.substr(open + 1, close - open - 1);
        }
    }
    if (between == kLegacyMarker) {
        return {Mode::legacy, false};
    }
    return {Mode::main, true};
}

namespace {

// A directory counts as usable only when a file can really be created in it: permission bits
// say nothing for root or on a read-only mount.
bool usable(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir, ec)) {
        return false;
    }
    const auto probe = dir / (".veltrin-probe-" + std::to_string(::getpid()));
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    fs::remove(probe, ec);
    return true;
}

}  // namespace

SettingsDirectory prepareSettingsDirectory(const fs::path& programDir, const char* dataHome,
                                           const char* home) {
    const auto beside = programDir / "vlset";
    if (usable(beside)) {
        return {beside, false};
    }
    fs::path base;
    if (dataHome != nullptr && *dataHome != '\0') {
        base = dataHome;
    } else if (home != nullptr && *home != '\0') {
        base = fs::path(home) / ".local" / "share";
    } else {
        base = fs::temp_directory_path();
    }
    const auto fallback = base / "veltrin";
    usable(fallback);
    return {fallback, true};
}

std::string instanceName() {
    if (const char* name = std::getenv("VELTRIN_INSTANCE_NAME"); name != nullptr && *name) {
        return name;
    }
    return "veltrin-" + std::to_string(::getuid());
}

}  // namespace veltrin::shell
