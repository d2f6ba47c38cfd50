#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "workflows/MainContext.h"

namespace veltrin::workflows {

// Looks up the new public address, records it, and with the duplicate filter or the wanted-IP
// hunt on may hang up and redial. Runs on a worker of its own.
void verifyNewIp(MainContext& context);
void redialForRepeat(MainContext& context);
void redialForWantedIp(MainContext& context);

// The text a repeat is searched by: the trimmed address, or its part before the last "." in
// three-segment mode. Nothing for a text without a ".": that is no address, and its key would
// match any history.
std::optional<std::string> repeatKey(const std::string& address, bool threeSegments);
// Plain substring search over the whole history, ignoring letter case; an empty history holds
// nothing.
bool isRepeat(const std::string& history, const std::string& key);
// The hunt's test: the address equals or contains the wanted value (letter case ignored).
bool huntMatches(const std::string& address, const std::string& wanted);

// The history file: the results box in code page 936, written whole. Saving reports the outcome
// in a box (success or failure); loading replaces the box's text when the file exists.
bool saveRepeatHistory(View& view, const std::filesystem::path& file);
void loadRepeatHistory(View& view, const std::filesystem::path& file);

namespace verify_text {
inline constexpr std::string_view kNoAddress = "IP已切换成功，请百度一下ip查询当前ip值";
inline constexpr std::string_view kNoAddressSecond = "IP已切换成功，请百度一下ip查询当前ip值哦";
inline constexpr std::string_view kServerAnswered = "已连接成功，正在获取新IP，请稍等！";
inline constexpr std::string_view kServerAnsweredListed = "已连接成功，正在获取新IP，请稍等哦！";
inline constexpr std::string_view kRepeatThree =
    "【前三段】为重复IP，正在为您断开，重新连接获取新IP...";
inline constexpr std::string_view kRepeatFour = "为重复IP，正在为您断开，重新连接获取新IP...";
inline constexpr std::string_view kHuntFoundTitle = "恭喜，已找回包含指定IP值！";
inline constexpr std::string_view kRedialRepeat = "正在为您断开，重新连接获取新IP...";
inline constexpr std::string_view kHandedToTimer = "重新连接获取新IP...稍等10秒，软件自动操作中...";
inline constexpr std::string_view kHistorySavedTitle = "已保存通知！";
inline constexpr std::string_view kHistorySaved =
    "过滤重复ip数据已保存，名称为软件同目录vlset目录下【defendrerepeat.txt】的文件！";
inline constexpr std::string_view kHistoryNotSavedTitle = "保存失败";
inline constexpr std::string_view kHistoryNotSaved =
    "过滤重复ip数据保存失败：无法写入软件同目录vlset目录下的【defendrerepeat."
    "txt】文件，请检查目录是否可写！";
}  // namespace verify_text

}  // namespace veltrin::workflows
