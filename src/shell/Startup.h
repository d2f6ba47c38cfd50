#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Start-up and shutdown rules of the application that need no window.
namespace veltrin::shell {

enum class Mode { main, legacy };

struct ModeChoice final {
    Mode mode = Mode::main;
    bool waitAfterLoading = false;  // main mode chosen by a marker that names another version
    bool operator==(const ModeChoice&) const = default;
};

inline constexpr std::string_view kMarkerFile = "desktop.ini";
inline constexpr std::string_view kLegacyMarker = "ver=9.81";
inline constexpr int kMarkerWaitMs = 5000;

inline constexpr std::string_view kMainTitle = "Veltrin(多功能高级版9.81)";
inline constexpr std::string_view kLegacyTitle = "Oskadi(多功能高级版)V9.81";

// The mode the marker file's text selects (empty text: no marker).
ModeChoice modeFromMarker(std::string_view markerText);

struct SettingsDirectory final {
    std::filesystem::path path;
    bool fellBack = false;  // the program directory was not writable
};

// vlset beside the program; when it cannot be created or written, $XDG_DATA_HOME/veltrin
// (~/.local/share/veltrin). `dataHome` is the value of XDG_DATA_HOME, `home` of HOME.
SettingsDirectory prepareSettingsDirectory(const std::filesystem::path& programDir,
                                           const char* dataHome, const char* home);

inline constexpr std::string_view kHistoryFile = "defendrerepeat.txt";
inline constexpr std::string_view kSettingsNotSavedOnExit =
    "配置保存失败：无法写入本软件目录vlset目录下的‘veltrinset.ini’文件，本次的配置没有记住！";

// The phone-book file the lab facility writes beside the settings.
inline constexpr std::string_view kPhoneBookFile = "pptp.pbk";

// The per-user name the running main window listens on; VELTRIN_INSTANCE_NAME overrides it so
// tests can run side by side.
std::string instanceName();

}  // namespace veltrin::shell
