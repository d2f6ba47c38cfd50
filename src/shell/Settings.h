#pragma once

#include <functional>

#include "shell/ProfileFile.h"
#include "workflows/ConnectionState.h"
#include "workflows/View.h"

namespace veltrin::shell {

// Fills the main window's option controls and two connection fields from the settings file.
// `openTermsGate` is called when the file shows no acceptance of the terms; loading goes on.
void loadSettings(const ProfileFile& file, workflows::View& view, workflows::ConnectionState& state,
                  const std::function<void()>& openTermsGate);

// Writes every setting in its fixed order. Returns false when any write failed; the save button
// then says so in the status line instead of claiming the file was written.
bool saveSettings(ProfileFile& file, workflows::View& view, workflows::ConnectionState& state,
                  bool onExit);

inline constexpr std::string_view kSettingsSaved =
    "已生成‘veltrinset.ini’文件到本软件目录vlset目录下，请不要删除！删除则所有记录还原！";
inline constexpr std::string_view kSettingsNotSaved =
    "配置保存失败：无法写入本软件目录vlset目录下的‘veltrinset.ini’文件，请检查目录是否可写！";

// Settings sections and keys; "23" and "24" share their key name.
namespace settings_key {
inline constexpr const char* kMarker = "是否已生成配置";
inline constexpr const char* kTermsAccepted = "服务条款签署";
}  // namespace settings_key

// The terms gate's one write.
bool recordTermsAccepted(ProfileFile& file);

}  // namespace veltrin::shell
