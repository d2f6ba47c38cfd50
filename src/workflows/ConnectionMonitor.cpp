#include "workflows/ConnectionMonitor.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/EntryName.h"
#include "engine/Wait.h"
#include "service/IpLookup.h"
#include "text/LocalText.h"
#include "workflows/CommonSteps.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {
namespace {

namespace c = control;
namespace t = monitor_text;
using engine::WaitPumping;

constexpr double kTolerance = 1e-7;

// Returns on a stop or on a drop (the second failed check of this run).
void watch(MainContext& ctx) {
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    double elapsed = 0;
    int passes = 0;
    for (;;) {
        ++passes;
        if (passes == 3 || s.stopRequested == 1) {
            return;
        }
        while (ctx.engine.probeConnection(s.entryName.get()) == 1) {
            const std::string period = v.text(c::编辑框_监控时间秒);
            elapsed += textToNumber(period);
            const auto tint = service::tintStatusLine();
            v.setStatusColour({tint.red, tint.green, tint.blue});
            v.setText(kStatusLine, "已连接成功！IP已切换成功。每" +
                                       std::string(text::trimmed(period)) +
                                       "秒自动检测一次，已在线时长：" + onlineTimeText(elapsed) +
                                       "！已连城市名称：" + s.lineName.get());
            v.setText(c::编辑框_监控计次, decimalText(elapsed));
            if (s.stopRequested == 1) {
                break;
            }
            WaitPumping(checkWaitMs(trimmedText(v, c::编辑框_监控时间秒)));
            if (s.stopRequested == 1) {
                break;
            }
        }
    }
}

void reactWithoutRedial(MainContext& ctx) {
    View& v = ctx.view;
    setLockedControls(v, true);
    if (ctx.state.stopRequested == 1) {
        return;
    }
    if (!v.isTicked(c::选择框_是否断网)) {
        v.setText(kStatusLine, std::string(t::kDroppedLocal));
    } else {
        startIf(ctx.actions.disableLocalNetwork);
        v.setText(kStatusLine, std::string(t::kDroppedNetworkCut));
    }
    if (v.isTicked(c::选择框_掉线音效) && ctx.state.stopRequested != 1 &&
        ctx.actions.playAlarmLoop) {
        ctx.actions.playAlarmLoop();
    }
}

void redialLoop(MainContext& ctx) {
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    const auto stopped = [&] { return s.stopRequested == 1; };
    for (;;) {
        if (ctx.engine.probeConnection(s.entryName.get()) == 1) {
            return;
        }
        v.setText(kStatusLine, std::string(t::kRedialing));
        ctx.engine.removeEntry(s.entryName.get());
        WaitPumping(1000);
        const std::string entry = engine::makeEntryName();
        s.entryName.set(entry);
        provisionCurrentLine(ctx, entry);
        dialFromWindow(ctx, entry);
        v.appendResult(std::string(t::kRecovering));
        if (stopped()) {
            return;
        }
        WaitPumping(10000);
        if (stopped()) {
            return;
        }
        if (ctx.engine.probeConnection(s.entryName.get()) == 1) {
            if (!v.isTicked(c::选择框_记录每次连接ip)) {
                continue;
            }
            v.setText(kStatusLine, std::string(t::kRedialedStatus));
            v.appendResult(std::string(t::kRedialedResult));
            if (stopped()) {
                return;
            }
            WaitPumping(1000);
            if (stopped()) {
                return;
            }
            startIf(ctx.actions.connectionMonitor);
            startIf(ctx.actions.verifyNewIp);
            if (stopped()) {
                return;
            }
            WaitPumping(5000);
            if (stopped()) {
                return;
            }
            continue;
        }
        ctx.engine.hangUp();
        WaitPumping(20);
        ctx.engine.hangUp();
        v.setText(kStatusLine, std::string(t::kRedialFailedStatus));
        v.appendResult(std::string(t::kRedialFailedResult));
        startIf(ctx.actions.releaseSessionQuietly);
        if (stopped()) {
            return;
        }
        WaitPumping(1980);
        if (stopped()) {
            return;
        }
        ctx.engine.removeEntry(s.entryName.get());
        if (v.isTicked(c::选择框_记录每次连接ip)) {
            v.setText(kStatusLine, std::string(t::kNoLookupStatus));
            v.appendResult(std::string(t::kNoLookupResult));
            if (stopped()) {
                return;
            }
            WaitPumping(1000);
            if (stopped()) {
                return;
            }
        }
    }
}

}  // namespace

std::string decimalText(double value) {
    if (!std::isfinite(value)) {
        return "0";
    }
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    const double rounded = std::strtod(buffer, nullptr);
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer,
                                         rounded == 0 ? 0.0 : rounded, std::chars_format::fixed);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("0");
}

std::string onlineTimeText(double elapsed) {
    if (elapsed >= 3600 - kTolerance) {
        const double h = std::floor(elapsed / 3600);
        const double m = std::floor((elapsed - h * 3600) / 60);
        const double sec = elapsed - std::floor(elapsed / 60) * 60;
        return decimalText(h) + "小时" + decimalText(m) + "分" + decimalText(sec) + "秒";
    }
    if (elapsed >= 60 - kTolerance) {
        const double m = std::floor(elapsed / 60);
        return decimalText(m) + "分" + decimalText(elapsed - m * 60) + "秒";
    }
    return decimalText(elapsed) + "秒";
}

double textToNumber(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    const double v = std::strtod(begin, &end);
    return (end == begin || !std::isfinite(v)) ? 0.0 : v;
}

int checkWaitMs(const std::string& periodText) {
    const double ms = textToNumber(periodText) * 1000.0;
    if (!(ms >= kMinimumCheckWaitMs)) {
        return kMinimumCheckWaitMs;
    }
    return ms > 2e9 ? 2000000000 : static_cast<int>(ms);
}

void connectionMonitor(MainContext& ctx) {
    watch(ctx);
    ctx.view.setStatusColour({0, 0, 0});
    if (ctx.state.stopRequested == 1) {
        setLockedControls(ctx.view, true);
        return;
    }
    if (ctx.view.isTicked(c::选择框_掉线重拨)) {
        redialLoop(ctx);
    } else {
        reactWithoutRedial(ctx);
    }
}

}  // namespace veltrin::workflows
