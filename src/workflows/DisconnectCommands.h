#pragma once

#include "workflows/MainContext.h"

namespace veltrin::workflows {

// The disconnect button: stops every workflow and releases the line, with a countdown when an
// automatic change is on. Runs on the UI thread and hands the slow part to a worker.
void disconnectCommand(MainContext& context);
void countdownDisconnect(MainContext& context);
void plainDisconnect(MainContext& context);

// F1: disconnect and connect again, on the UI thread. Ignored while a connect is running.
void hotKeyReconnect(MainContext& context);

void autoRepair(MainContext& context);
void dropTest(MainContext& context);

namespace disconnect_text {
inline constexpr std::string_view kCountdownNotice =
    "请稍等几秒后再使用，只有勾选【定时自动换ip】或【找回指定ip】功能才会有此倒计时！";
inline constexpr std::string_view kCountdownStart =
    "正在断开中...请稍等8秒后再使用，只有勾选【定时自动换ip】功能才会有此倒计时！";
inline constexpr std::string_view kPlainStart = "注意：正在断开中...【还没断开完成不要点击连接！】";
inline constexpr std::string_view kHotKeyStart = "快捷键操作中：正在断开中...";
inline constexpr std::string_view kHotKeyReconnecting =
    "快捷键操作中：已手动停止并成功断开连接，正在重新连接中...";
inline constexpr std::string_view kRepairing = "正在自动修复中...";
inline constexpr std::string_view kDropTestDone =
    "注意：测试掉线完成，要测试掉线同时禁用本地网络的，必须勾选上【掉线断网】才有效！";
inline constexpr std::string_view kConnectCaption = "启动连接";
}  // namespace disconnect_text

}  // namespace veltrin::workflows
