#include "workflows/DisconnectCommands.h"

#include "engine/Wait.h"
#include "workflows/CommonSteps.h"
#include "workflows/ConnectCommand.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {
namespace {

namespace c = control;
namespace t = disconnect_text;
using engine::WaitPumping;

void run(const std::function<void()>& action) {
    if (action) {
        action();
    }
}

void setEnabled(View& v, std::initializer_list<std::string_view> controls, bool enabled) {
    for (auto control : controls) {
        v.setEnabled(control, enabled);
    }
}

void releaseLine(MainContext& ctx) {
    ctx.engine.hangUp();
    WaitPumping(20);
    ctx.engine.hangUp();
    ctx.engine.removeEntry(ctx.state.entryName.get());
    WaitPumping(1500);
}

}  // namespace

void disconnectCommand(MainContext& ctx) {
    View& v = ctx.view;
    ctx.state.stopRequested = 1;
    if (v.isTicked(c::选择框_定时连断) || v.isTicked(c::选择框_找回指定ip)) {
        run(ctx.actions.stopChangeTimers);
        startWorker([&ctx] { countdownDisconnect(ctx); });
        v.setText(kStatusLine, std::string(t::kCountdownNotice));
        return;
    }
    startWorker([&ctx] { plainDisconnect(ctx); });
}

void countdownDisconnect(MainContext& ctx) {
    View& v = ctx.view;
    v.setStatusColour({0, 0, 0});
    v.setText(kStatusLine, std::string(t::kCountdownStart));
    setEnabled(v, {c::按钮_高级设置, c::编辑框_用户名, c::编辑框_密码}, true);
    releaseLine(ctx);
    v.setEnabled(c::按钮_断开, false);
    run(ctx.actions.stopSound);
    setEnabled(v,
               {c::按钮_高级设置, c::编辑框_用户名, c::编辑框_密码, c::超级列表框_线路超级列表1,
                c::超级列表框_线路超级列表2, c::按钮_断开},
               true);
    for (int n = 8; n >= 0; --n) {
        v.setEnabled(c::按钮_连接, false);
        v.setText(c::按钮_连接, "等待" + std::to_string(n) + "秒");
        v.setText(
            kStatusLine,
            "请稍等待" + std::to_string(n) +
                "秒后再连接使用。只有勾选【定时自动换ip】或【找回指定ip】功能才会有此倒计时。");
        WaitPumping(1000);
    }
    v.setText(kStatusLine, std::string(status::kManualStop));
    v.setEnabled(c::按钮_连接, true);
    v.setText(c::按钮_连接, std::string(t::kConnectCaption));
}

void plainDisconnect(MainContext& ctx) {
    View& v = ctx.view;
    setEnabled(v, {c::按钮_高级设置, c::编辑框_用户名, c::编辑框_密码}, true);
    v.setStatusColour({0, 0, 0});
    v.setText(kStatusLine, std::string(t::kPlainStart));
    releaseLine(ctx);
    v.setEnabled(c::按钮_断开, false);
    run(ctx.actions.stopSound);
    setEnabled(
        v, {c::按钮_连接, c::超级列表框_线路超级列表1, c::超级列表框_线路超级列表2, c::按钮_断开},
        true);
    v.setText(kStatusLine, std::string(status::kManualStop));
}

void hotKeyReconnect(MainContext& ctx) {
    if (connectRunning()) {
        return;
    }
    const ConnectRunningMark mark;
    View& v = ctx.view;
    v.setStatusColour({0, 0, 0});
    v.setEnabled(c::按钮_断开, false);
    ctx.state.stopRequested = 1;
    v.setText(kStatusLine, std::string(t::kHotKeyStart));
    ctx.engine.hangUp();
    WaitPumping(20);
    ctx.engine.hangUp();
    WaitPumping(480);
    ctx.engine.removeEntry(ctx.state.entryName.get());
    run(ctx.actions.stopSound);
    setLockedControls(v, true);
    v.setText(kStatusLine, std::string(t::kHotKeyReconnecting));
    v.setEnabled(c::按钮_断开, true);
    WaitPumping(1000);
    connectCommand(ctx);
}

void autoRepair(MainContext& ctx) {
    ctx.view.setText(kStatusLine, std::string(t::kRepairing));
    ctx.view.setText(kStatusLine, std::string(status::kRepairDone));
}

void dropTest(MainContext& ctx) {
    ctx.engine.hangUp();
    WaitPumping(500);
    ctx.view.setText(kStatusLine, std::string(t::kDropTestDone));
}

}  // namespace veltrin::workflows
