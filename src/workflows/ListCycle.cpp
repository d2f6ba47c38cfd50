#include "workflows/ListCycle.h"

#include <mutex>

#include "engine/EntryName.h"
#include "engine/Wait.h"
#include "service/TextTools.h"
#include "text/LocalText.h"
#include "workflows/CommonSteps.h"
#include "workflows/ConnectCommand.h"
#include "workflows/ConnectionMonitor.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/TimedChange.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {
namespace {

namespace c = control;
namespace t = cycle_text;
using engine::WaitPumping;

// Only one step runs at a time (each starts the next as its last act), but the window reads and
// the verification workers run beside it.
struct CycleState {
    std::mutex mutex;
    int rowCount = 0;
    int rowIndex = 0;
    bool awaitingTimer = false;
    bool dialledThisPass = false;
};
CycleState cycle;

// Refills the pool with the usable server rows of the full list that pass the test, then draws
// one; empty address and state when the pool stays empty.
std::pair<std::string, std::string> fillPoolAndDraw(
    MainContext& ctx, int column, const std::function<bool(const std::string&)>& test) {
    View& v = ctx.view;
    std::vector<std::vector<std::string>> pool;
    const int n = v.rowCount(c::超级列表框_线路超级列表1);
    for (int i = 0; i < n; ++i) {
        const auto name = v.cell(c::超级列表框_线路超级列表1, i, 0);
        if (test(name) && v.cell(c::超级列表框_线路超级列表1, i, 1) != "维护中" &&
            v.cell(c::超级列表框_线路超级列表1, i, 7).empty()) {
            std::vector<std::string> row(8);
            for (int col : {0, 2, 3, 6}) {
                row[col] = v.cell(c::超级列表框_线路超级列表1, i, col);
            }
            pool.push_back(std::move(row));
        }
    }
    if (ctx.actions.setPoolRows) {
        ctx.actions.setPoolRows(pool);
    }
    if (pool.empty()) {
        return {};
    }
    const int drawn = drawRow(static_cast<int>(pool.size()));
    ctx.state.selectedRow = drawn;
    return {pool[drawn][column], std::string(text::trimmed(pool[drawn][2]))};
}

void dialRow(MainContext& ctx) {
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    takeProtocolFromRadios(ctx);
    if (s.stopRequested != 1) {
        v.setText(kStatusLine, "正在进行自动连接【" + s.lineName.get() + "】中...");
        const std::string entry = engine::makeEntryName();
        s.entryName.set(entry);
        provisionCurrentLine(ctx, entry);
        dialFromWindow(ctx, entry);
        v.appendResult("\r\n【" + s.lineName.get() + "】");
    }
    if (s.stopRequested != 1) {
        WaitPumping(10000);
    }
    if (ctx.engine.probeConnection(s.entryName.get()) == 0) {
        if (s.stopRequested != 1) {
            ctx.engine.hangUp();
            WaitPumping(20);
            ctx.engine.hangUp();
            v.setText(kStatusLine, std::string(t::kRowFailedStatus));
            v.appendResult(std::string(t::kRowFailedResult));
            startIf(ctx.actions.releaseSessionQuietly);
            WaitPumping(1980);
            ctx.engine.removeEntry(s.entryName.get());
        }
        if (s.stopRequested != 1 && v.isTicked(c::选择框_记录每次连接ip)) {
            v.setText(kStatusLine, std::string(monitor_text::kNoLookupStatus));
            v.appendResult(std::string(monitor_text::kNoLookupResult));
            WaitPumping(5000);
        }
    } else if (s.stopRequested != 1 && v.isTicked(c::选择框_记录每次连接ip)) {
        startIf(ctx.actions.verifyNewIp);
        WaitPumping(5000);
    }
    if (s.stopRequested != 1) {
        {
            std::lock_guard lock(cycle.mutex);
            cycle.awaitingTimer = true;
        }
        if (ctx.actions.setTimer) {
            ctx.actions.setTimer(c::时钟_自动列表循环,
                                 changeTimerPeriodMs(v.text(c::编辑框_连断时间秒)));
        }
    }
}

}  // namespace

void startListCycle(MainContext& ctx) {
    View& v = ctx.view;
    v.appendResult(std::string(t::kPassStarts));
    {
        std::lock_guard lock(cycle.mutex);
        cycle.rowCount = v.rowCount(visibleServerList(v));
        cycle.rowIndex = 0;
        cycle.dialledThisPass = false;
    }
    if (ctx.state.stopRequested != 1) {
        startWorker([&ctx] { cycleStep(ctx); });
    }
}

void cycleStep(MainContext& ctx) {
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    int index = 0;
    bool pastEnd = false;
    bool dialledThisPass = false;
    {
        std::lock_guard lock(cycle.mutex);
        cycle.awaitingTimer = false;
        index = ++cycle.rowIndex;
        pastEnd = index > cycle.rowCount;
        dialledThisPass = cycle.dialledThisPass;
    }
    if (pastEnd) {
        if (!dialledThisPass && s.stopRequested != 1) {
            v.appendResult(std::string(t::kNothingToDial));
            WaitPumping(t::kEmptyPassPauseMs);
        }
        if (s.stopRequested != 1) {
            startWorker([&ctx] { beginChangeRound(ctx); });
        }
        return;
    }
    if (v.isTicked(c::选择框_IE缓存和cookie)) {
        startIf(ctx.actions.clearBrowserTraces);
    }
    const auto list = visibleServerList(v);
    const int row = index - 1;
    const int column = v.isTicked(c::单选框_SSTP) ? 6 : 3;
    const auto name = v.cell(list, row, 0);
    const auto marker = v.cell(list, row, 7);
    std::string rowState;
    if (marker == "1") {
        const std::string key(text::trimmed(service::textBetween(name, "[", "]")));
        auto [address, state] = fillPoolAndDraw(
            ctx, column, [&](const std::string& n) { return n.find(key) != std::string::npos; });
        s.serverAddress.set(address);
        rowState = state;
    } else if (marker == "2") {
        auto [address, state] = fillPoolAndDraw(
            ctx, column, [](const std::string& n) { return n.find("超级") == std::string::npos; });
        s.serverAddress.set(address);
        rowState = state;
    } else {
        s.serverAddress.set(v.cell(list, row, column));
        rowState = std::string(text::trimmed(v.cell(list, row, 2)));
    }
    s.lineName.set(name);
    if (rowState == "0") {
        v.appendResult("\r\n" + name + std::string(t::kMaintenance));
    }
    if (rowState == "1") {
        {
            std::lock_guard lock(cycle.mutex);
            cycle.dialledThisPass = true;
        }
        dialRow(ctx);
    }
    bool awaiting = false;
    {
        std::lock_guard lock(cycle.mutex);
        awaiting = cycle.awaitingTimer;
    }
    if (s.stopRequested == 1 || awaiting) {
        return;
    }
    startWorker([&ctx] { cycleStep(ctx); });
}

void onListCycleTick(MainContext& ctx) {
    if (ctx.actions.setTimer) {
        ctx.actions.setTimer(c::时钟_自动列表循环, 0);
    }
    ConnectionState& s = ctx.state;
    if (s.stopRequested != 1) {
        ctx.view.setText(kStatusLine, "正在自动断开连接【" + s.lineName.get() + "】...");
        while (s.stopRequested != 1 && ctx.engine.probeConnection(s.entryName.get()) == 1) {
            ctx.engine.hangUp();
            WaitPumping(20);
            ctx.engine.hangUp();
            WaitPumping(1980);
        }
    }
    if (s.stopRequested != 1) {
        WaitPumping(3000);
        countChange(ctx);
    }
    if (s.stopRequested != 1) {
        startWorker([&ctx] { cycleStep(ctx); });
    }
}

}  // namespace veltrin::workflows
