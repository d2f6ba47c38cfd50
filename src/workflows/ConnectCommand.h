#pragma once

#include "workflows/MainContext.h"

namespace veltrin::workflows {

// The connect button: checks, account check once per run, protocol and server, fresh entry, dial,
// wait for success, probe, follow-ups. Runs on the UI thread and waits only through WaitPumping.
void connectCommand(MainContext& context);

// True while a connect command (or the hot-key reconnect around one) is running; the hot key is
// ignored meanwhile instead of nesting a second run inside the first one's waits.
bool connectRunning();

// Marks a connect-like run for connectRunning() while it lives.
class ConnectRunningMark final {
public:
    ConnectRunningMark();
    ~ConnectRunningMark();
    ConnectRunningMark(const ConnectRunningMark&) = delete;
    ConnectRunningMark& operator=(const ConnectRunningMark&) = delete;
};

// A double click on a visible line list connects only while the connect button is enabled.
void onServerListDoubleClick(MainContext& context);

namespace connect_text {
inline constexpr std::string_view kSpecialTitle = "特别提示";
inline constexpr std::string_view kHuntEmpty =
    "您已启用找回指定ip功能！但找回指定ip的内容为空，请先到[高级设置]"
    "里面填好要找回的指定ip值，或取消这个功能后再连接！";
inline constexpr std::string_view kNoServer = "请先选好【动态城市服务器地址】再连接！";
inline constexpr std::string_view kNoUser = "用户名不能为空！";
inline constexpr std::string_view kNoPassword = "密码不能为空！";
inline constexpr std::string_view kSystemFault =
    "重要提醒：系统故障，请【重启电脑】再打开本软件连接使用！";
}  // namespace connect_text

}  // namespace veltrin::workflows
