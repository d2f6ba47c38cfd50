#include "workflows/TimedChange.h"

#include <chrono>
#include <random>

#include "engine/EntryName.h"
#include "engine/Wait.h"
#include "text/LocalText.h"
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

std::string trimmedText(View& v, std::string_view control) {
    return std::string(text::trimmed(v.text(control)));
}

void startIf(const std::function<void()>& action) {
    if (action) {
        startWorker(action);
    }
}

void setTimer(MainContext& ctx, std::string_view timer, int ms) {
    if (ctx.actions.setTimer) {
        ctx.actions.setTimer(timer, ms);
    }
}

void provisionCurrent(MainContext& ctx) {
    View& v = ctx.view;
    ctx.engine.provisionEntry(
        ctx.state.entryName.get(), trimmedText(v, c::编辑框_用户名), trimmedText(v, c::编辑框_密码),
        std::string(text::trimmed(ctx.state.serverAddress.get())), ctx.state.protocolCode);
}

// The address of the selected row again (a fresh pool draw for a mix row).
void chooseAddressAgain(MainContext& ctx) {
    View& v = ctx.view;
    const int column = v.isTicked(c::单选框_SSTP) ? 6 : 3;
    const auto list = v.isVisible(c::超级列表框_线路超级列表2) ? c::超级列表框_线路超级列表2
                                                               : c::超级列表框_线路超级列表1;
    const int row = v.selectedRow(list);
    if (row < 0) {
        return;
    }
    const auto marker = v.cell(list, row, 7);
    if (marker == "1" || marker == "2") {
        std::mt19937 random(
            static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count()));
        const int n = v.rowCount(c::超级列表框_线路超级列表3);
        const int drawn = n > 0 ? std::uniform_int_distribution<int>(0, n - 1)(random) : 0;
        ctx.state.serverAddress.set(v.cell(c::超级列表框_线路超级列表3, drawn, column));
    } else {
        ctx.state.serverAddress.set(v.cell(list, row, column));
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
        provisionCurrent(ctx);
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
        provisionCurrent(ctx);
        ctx.engine.dialEntry(s.entryName.get(), trimmedText(v, c::编辑框_用户名),
                             trimmedText(v, c::编辑框_密码), &v, kStatusLine);
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
