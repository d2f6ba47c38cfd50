#include "workflows/ConnectCommand.h"

#include <atomic>

#include "engine/EntryName.h"
#include "engine/Wait.h"
#include "service/Account.h"
#include "text/LocalText.h"
#include "workflows/CommonSteps.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {
namespace {

namespace c = control;
using engine::WaitPumping;

std::atomic<int> running{0};

// Protocol and server address from the chosen row; a mixed-dial row draws a pool server.
void chooseProtocolAndServer(MainContext& ctx) {
    const int code = takeProtocolFromRadios(ctx);
    if (code == 0) {
        return;
    }
    if (const auto chosen = selectedRowAddress(ctx.view, code == engine::kSstp ? 6 : 3)) {
        if (chosen->drawnRow) {
            ctx.state.selectedRow = *chosen->drawnRow;
        }
        ctx.state.serverAddress.set(chosen->address);
    }
}

void startFollowUps(MainContext& ctx) {
    View& v = ctx.view;
    const auto& a = ctx.actions;
    if (v.isTicked(c::选择框_定时连断)) {
        v.setText(kStatusLine,
                  "连接成功【" + ctx.state.lineName.get() + "】，定时自动换IP进行中...");
        if (v.isTicked(c::选择框_连接成功系统托盘)) {
            startIf(a.hideToTray);
        }
        startIf(a.startTimedChange);
        return;
    }
    if (ctx.state.stopRequested == 0) {
        startIf(a.connectionMonitor);
    }
    if (v.isTicked(c::选择框_连接成功系统托盘)) {
        startIf(a.hideToTray);
    }
    if (v.isTicked(c::选择框_记录每次连接ip)) {
        startIf(a.verifyNewIp);
    }
}

}  // namespace

bool connectRunning() {
    return running.load() > 0;
}

ConnectRunningMark::ConnectRunningMark() {
    ++running;
}
ConnectRunningMark::~ConnectRunningMark() {
    --running;
}

void connectCommand(MainContext& ctx) {
    const ConnectRunningMark mark;
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    const std::string special(connect_text::kSpecialTitle);

    s.stopRequested = 0;
    if (v.isTicked(c::选择框_IE缓存和cookie)) {
        startIf(ctx.actions.clearBrowserTraces);
    }
    if (v.isTicked(c::选择框_找回指定ip) && trimmedText(v, c::编辑框_找回指定ip).empty()) {
        v.showMessage(std::string(connect_text::kHuntEmpty), message_style::kPlain, special);
        return;
    }
    if (!v.isTicked(c::选择框_服务器列表拨号) && s.serverAddress.get().empty()) {
        v.showMessage(std::string(connect_text::kNoServer), message_style::kPlain, special);
        return;
    }
    if (v.text(c::编辑框_用户名).empty()) {
        v.showMessage(std::string(connect_text::kNoUser), message_style::kPlain, special);
        return;
    }
    if (v.text(c::编辑框_密码).empty()) {
        v.showMessage(std::string(connect_text::kNoPassword), message_style::kPlain, special);
        return;
    }
    if (s.accountVerified == 0) {
        const std::string answer = ctx.actions.accountCheck
                                       ? ctx.actions.accountCheck(trimmedText(v, c::编辑框_用户名))
                                       : std::string();
        const auto decision = service::connectTimeDecision(answer);
        if (!decision.passed) {
            v.showMessage(decision.message);
            return;
        }
        s.accountVerified = 1;
    }
    const auto expiryCaption = v.text(c::标签_用户过期时间查询);
    if (expiryCaption == "点击查询" || expiryCaption == "暂无法查询，请稍后再试！" ||
        expiryCaption == "错误,填错用户名或密码,或已过期!") {
        startIf(ctx.actions.queryExpiry);
    }
    setLockedControls(v, false);
    v.setStatusColour({0, 0, 0});
    chooseProtocolAndServer(ctx);
    if (v.isTicked(c::选择框_服务器列表拨号)) {
        startIf(ctx.actions.startTimedChange);
        return;
    }

    const std::string entry = engine::makeEntryName();
    s.entryName.set(entry);
    provisionCurrentLine(ctx, entry);
    dialFromWindow(ctx, entry);
    WaitPumping(1000);
    if (s.stopRequested == 0 && dialLeftNoTrace(v.text(kStatusLine))) {
        v.setText(kStatusLine, std::string(status::kDialError));
    }
    while (!statusIs(v.text(kStatusLine), status::kConnected)) {
        WaitPumping(200);
        if (s.stopRequested == 1) {
            break;
        }
    }
    if (s.stopRequested == 1) {
        return;
    }
    if (ctx.engine.probeConnection(s.entryName.get()) == 1) {
        if (s.stopRequested == 0) {
            startFollowUps(ctx);
        }
        return;
    }
    if (s.stopRequested == 0) {
        v.setText(kStatusLine, std::string(connect_text::kSystemFault));
    }
}

void onServerListDoubleClick(MainContext& ctx) {
    if (ctx.view.isEnabled(c::按钮_连接)) {
        connectCommand(ctx);
    }
}

}  // namespace veltrin::workflows
