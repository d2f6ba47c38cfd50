#pragma once

#include <string_view>

namespace veltrin::workflows {

// Controls of the main window that the workflows report through.
inline constexpr std::string_view kStatusLine = "编辑框_接收信息";
inline constexpr std::string_view kResultsBox = "编辑框_列表结果显示";

inline constexpr std::string_view kResultsStartText = " 【严禁非法用途，所有使用后果自负！】";

// Status texts other steps compare against; they must be written character for character.
namespace status {
inline constexpr std::string_view kConnected = "连接成功";
inline constexpr std::string_view kManualStop = "注意：已手动停止并成功断开连接，请重新连接使用。";
inline constexpr std::string_view kRepairDone = "自动修复故障已完成，请连接使用！";
inline constexpr std::string_view kDialError =
    "注意：拨号出错，请重试，重试还有问题的请重启电脑再用！";
}  // namespace status

// The status line compared as the connect command compares it: trimmed at both ends, then exact.
bool statusIs(std::string_view statusText, std::string_view expected);

// After a dial has been started: the status line still shows nothing new from it (empty, or a
// text left by a stop or a repair), so the dial did not start.
bool dialLeftNoTrace(std::string_view statusText);

}  // namespace veltrin::workflows
