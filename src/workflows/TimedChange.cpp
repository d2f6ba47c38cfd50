#include "workflows/TimedChange.h"


#include "engine/EntryName.h"
#include "engine/Wait.h"
#include "text/LocalText.h"
#include "workflows/CommonSteps.h"
#include "workflows/Controls.h"
#include "workflows/ListCycle.h"
#include "workflows/StatusChannel.h"
#include "workflows/VerifyIp.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {

std::atomic<int> changeCount{0};

namespace {

namespace c = control;
using engine::WaitPumping;

void setTimer(MainContext& ctx, std::string_view timer, int ms) {
    if (ctx.actions.setTimer) {
        ctx.actions.setTimer(timer, ms);
    }
}

// The address of the selected row again (a fresh pool draw for a mix row; selectedRow keeps the
// row drawn at connect time).
void chooseAddressAgain(MainContext& ctx) {
    if (const auto chosen =
            selectedRowAddress(ctx.view, ctx.view.isTicked(c::单选框_SSTP) ? 6 : 3)) {
        ctx.state.serverAddress.set(chosen->address);
    }
}

}  // namespace

int leadingInteger(const std::string& text) {
    const auto t = text::trimmed(text);
    long value = 0;
    size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (negative || (!t.empty() && t[0] == '+')) {
        i = 1;
    }
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        value = std::min(value * 10 + (t[i] - '0'), 100000000L);
    }
    return static_cast<int>(negative ? -value : value);
}

int changeTimerPeriodMs(const std::string& intervalText) {
    const int seconds = leadingInteger(intervalText) - 20;
    return std::max(seconds, 1) * 1000;
}

void countChange(MainContext& ctx) {
    ctx.view.setText(c::编辑框_连断计次, std::to_string(++changeCount));
}

void startTimedChange(MainContext& ctx) {
    changeCount = 1;
    ctx.view.setText(c::编辑框_连断计次, "1");
    if (ctx.state.stopRequested != 1) {
        startWorker([&ctx] { beginChangeRound(ctx); });
    }
}

void beginChangeRound(MainContext& ctx) {
    if (ctx.view.isTicked(c::选择框_IE缓存和cookie)) {
        startIf(ctx.actions.clearBrowserTraces);
    }
    if (ctx.state.stopRequested != 1) {
        startWorker([&ctx] { settleAndArm(ctx); });
    }
}

void settleAndArm(MainContext& ctx) {
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    if (v.isTicked(c::选择框_服务器列表拨号)) {
        if (s.stopRequested != 1) {
            startWorker([&ctx] { startListCycle(ctx); });
        }
        return;
    }
    if (s.stopRequested != 1) {
        WaitPumping(10000);
    }
    if (s.stopRequested != 1 && ctx.engine.probeConnection(s.entryName.get()) == 0) {
        ctx.engine.hangUp();
        WaitPumping(20);
        ctx.engine.hangUp();
        v.setText(kStatusLine, std::string(change_text::kTimedFailedStatus));
        v.appendResult(std::string(change_text::kTimedFailedResult));
        startIf(ctx.actions.releaseSessionQuietly);
        WaitPumping(6980);
        ctx.engine.removeEntry(s.entryName.get());
        s.entryName.set(engine::makeEntryName());
        provisionCurrentLine(ctx, s.entryName.get());
    }
    if (ctx.engine.probeConnection(s.entryName.get()) == 1) {
        if (s.stopRequested != 1 && v.isTicked(c::选择框_记录每次连接ip)) {
            startIf(ctx.actions.verifyNewIp);
            WaitPumping(5000);
        }
        if (s.stopRequested == 1) {
            return;
        }
        setTimer(ctx, c::时钟_定时自动换ip, changeTimerPeriodMs(v.text(c::编辑框_连断时间秒)));
        return;
    }
    if (s.stopRequested != 1) {
        startWorker([&ctx] { timedRedial(ctx); });
    }
}

void onChangeTimerTick(MainContext& ctx) {
    setTimer(ctx, c::时钟_定时自动换ip, 0);
    if (ctx.state.stopRequested != 1) {
        ctx.view.setText(kStatusLine, "正在自动断开连接【" + ctx.state.lineName.get() + "】...");
        ctx.engine.hangUp();
        WaitPumping(20);
        ctx.engine.hangUp();
        WaitPumping(1980);
    }
    if (ctx.state.stopRequested != 1) {
        startWorker([&ctx] { timedRedial(ctx); });
    }
}

void timedRedial(MainContext& ctx) {
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    if (s.stopRequested != 1) {
        v.setText(kStatusLine, "已自动断开【" + s.lineName.get() + "】，定时自动换IP进行中...");
        WaitPumping(3000);
    }
    chooseAddressAgain(ctx);
    if (s.stopRequested != 1) {
        const std::string entry = s.entryName.get();
        provisionCurrentLine(ctx, entry);
        dialFromWindow(ctx, entry);
        countChange(ctx);
    }
    if (s.stopRequested != 1) {
        startWorker([&ctx] { beginChangeRound(ctx); });
    }
}

void onRepeatRestartTick(MainContext& ctx) {
    setTimer(ctx, c::时钟_时间大于50秒出现重复ip定时自动换ip, 0);
    setTimer(ctx, c::时钟_定时自动换ip, 0);
    ctx.state.stopRequested = 0;
    if (ctx.view.isTicked(c::选择框_服务器列表拨号)) {
        startWorker([&ctx] { beginChangeRound(ctx); });
    } else {
        startWorker([&ctx] { timedRedial(ctx); });
    }
}

}  // namespace veltrin::workflows
