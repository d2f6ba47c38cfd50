#pragma once

#include <atomic>

#include "workflows/MainContext.h"

namespace veltrin::workflows {

// The ring of the timed IP change: tick -> timedRedial -> beginChangeRound -> settleAndArm ->
// armed timer -> tick. Each step runs on a worker of its own; the tick handlers run where the
// window's timers fire.
void startTimedChange(MainContext& context);
void beginChangeRound(MainContext& context);
void settleAndArm(MainContext& context);
void timedRedial(MainContext& context);
void onChangeTimerTick(MainContext& context);
void onRepeatRestartTick(MainContext& context);

// Changes made since the timed change started, shown in the counter box.
extern std::atomic<int> changeCount;
void countChange(MainContext& context);

// The period of the change timers from the interval text: (interval - 20) s. An interval of 20 s
// or less would give a period of 0 (the ring silently stops) or a negative one; the period is
// kept at least one second instead.
int changeTimerPeriodMs(const std::string& intervalText);

// The integer value of an interval text: its leading digits, fraction dropped; 0 when none.
int leadingInteger(const std::string& text);

namespace change_text {
inline constexpr std::string_view kTimedFailedStatus = "1本次连接失败！下一步进行中...";
inline constexpr std::string_view kTimedFailedResult = "\r\n1本次连接失败！不查询ip\r\n";
}  // namespace change_text

}  // namespace veltrin::workflows
