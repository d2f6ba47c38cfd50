#pragma once

#include <string>

#include "workflows/MainContext.h"

namespace veltrin::workflows {

// Watches the line of a plain connect; on a drop redials forever, or cuts the network and sounds
// the alarm, as the options say. Runs on a worker of its own.
void connectionMonitor(MainContext& context);

// "1小时0分0秒", "1分0秒", "0.5秒" from seconds online.
std::string onlineTimeText(double elapsed);
// Shortest decimal form, integers without a point; 15 significant digits at most, so sums of
// periods like 0.1 read as people expect.
std::string decimalText(double value);
// An option text as a number: its leading number, or 0 when it has none.
double textToNumber(const std::string& text);

// The wait between checks in milliseconds. A period that is 0 or not a number would make the
// monitor spin a core; it waits at least this long.
inline constexpr int kMinimumCheckWaitMs = 10;
int checkWaitMs(const std::string& periodText);

namespace monitor_text {
inline constexpr std::string_view kDroppedLocal =
    "注意：已断开连接！已回到本地连接ip，请重新【连接】换ip！";
inline constexpr std::string_view kDroppedNetworkCut =
    "注意：已断开连接！已禁用本地连接，请先【启用本地连接】再重新【连接】！";
inline constexpr std::string_view kRedialing = "注意：出现掉线情况，正在拼命为您重拨修复中...";
inline constexpr std::string_view kRecovering = "\r\n正在恢复中...";
inline constexpr std::string_view kRedialedStatus = "已重拨连接成功，继续进行检测中...";
inline constexpr std::string_view kRedialedResult = "\r\n已重拨连接成功，继续进行检测中...\r\n";
inline constexpr std::string_view kRedialFailedStatus = "本次重拨连接失败！下一步进行中...";
inline constexpr std::string_view kRedialFailedResult = "\r\n本次重拨连接失败！下一步进行中...";
inline constexpr std::string_view kNoLookupStatus = "连接失败不查询IP值，继续进行...";
inline constexpr std::string_view kNoLookupResult = "\r\n连接失败不查询IP值，继续进行...\r\n";
}  // namespace monitor_text

}  // namespace veltrin::workflows
