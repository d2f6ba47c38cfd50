#pragma once

#include "workflows/MainContext.h"

namespace veltrin::workflows {

// Walks the visible server list from the top: dials each usable row for one interval, notes rows
// under maintenance, draws a pool server for mix rows, and starts again after the last row.
void startListCycle(MainContext& context);
void cycleStep(MainContext& context);
void onListCycleTick(MainContext& context);

namespace cycle_text {
inline constexpr std::string_view kPassStarts =
    "\r\n你已勾选服务列表全自动循环拨号，正在进行中\r\n";
inline constexpr std::string_view kMaintenance = "此城市 维护中 ，自动换下一个城市连接\r\n";
inline constexpr std::string_view kRowFailedStatus = "本次连接失败！下一步进行中...";
inline constexpr std::string_view kRowFailedResult = "\r\n本次连接失败！下一步进行中...";
// A whole pass without a row to dial would restart at once, for ever; it waits instead.
inline constexpr std::string_view kNothingToDial =
    "\r\n列表中没有可以拨号的线路，稍后重新从第一条开始...\r\n";
inline constexpr int kEmptyPassPauseMs = 10000;
}  // namespace cycle_text

}  // namespace veltrin::workflows
