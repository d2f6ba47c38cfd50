#include "workflows/VerifyIp.h"

#include <algorithm>
#include <cctype>

#include "engine/EntryName.h"
#include "engine/Wait.h"
#include "text/Files.h"
#include "text/LocalText.h"
#include "workflows/CommonSteps.h"
#include "workflows/ConnectionMonitor.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {
namespace {

namespace c = control;
namespace t = verify_text;
using engine::WaitPumping;

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char ch) { return std::tolower(ch); });
    return out;
}

bool containsNoCase(std::string_view haystack, std::string_view needle) {
    return lower(haystack).find(lower(needle)) != std::string::npos;
}

std::string trim(const std::string& s) {
    return std::string(text::trimmed(s));
}

void lookup(MainContext& ctx, std::span<const service::IpSource> order,
            service::IpLookupResult& result) {
    if (ctx.actions.lookupIp) {
        ctx.actions.lookupIp(order, result);
    }
}

void tint(View& v) {
    const auto colour = service::tintStatusLine();
    v.setStatusColour({colour.red, colour.green, colour.blue});
}

// The server address of the chosen row (of the drawn pool row for a mix row); empty when none.
std::string listedServerAddress(MainContext& ctx) {
    View& v = ctx.view;
    const auto list = visibleServerList(v);
    const int row = v.selectedRow(list);
    if (row < 0) {
        return {};
    }
    if (isMixMarker(v.cell(list, row, 7))) {
        return v.cell(c::超级列表框_线路超级列表3, ctx.state.selectedRow, 3);
    }
    return v.cell(list, row, 3);
}

std::string resultLine(MainContext& ctx, const service::IpLookupResult& r) {
    return "当前IP：" + r.address +
           (r.placeless ? "，线路名称：" + ctx.state.lineName.get() : "，地区：" + r.place);
}

void setAndAppend(View& v, const std::string& line) {
    v.setText(kStatusLine, line);
    v.appendResult("\r\n" + line + "\r\n");
}

void recordAndHunt(MainContext& ctx, service::IpLookupResult& r) {
    View& v = ctx.view;
    if (!r.address.empty()) {
        std::string listed = listedServerAddress(ctx);
        if (listed.empty()) {
            listed = ctx.state.serverAddress.get();
        }
        if (r.address == listed) {
            v.setText(kStatusLine, std::string(t::kServerAnswered));
            WaitPumping(3000);
            startIf(ctx.actions.queryCurrentIp);
        } else {
            setAndAppend(v, resultLine(ctx, r));
        }
    }
    if (!v.isTicked(c::选择框_找回指定ip)) {
        return;
    }
    const std::string wanted = trimmedText(v, c::编辑框_找回指定ip);
    if (huntMatches(r.address, wanted)) {
        if (ctx.actions.playAlarmOnce) {
            ctx.actions.playAlarmOnce();
        }
        v.showMessage("恭喜，已找回包含指定IP值：" + wanted + "的IP,\r\n目前连接的IP值：" +
                          r.address + "，已连接成功状态中，请及时使用！",
                      message_style::kPlain, std::string(t::kHuntFoundTitle));
        return;
    }
    startWorker([&ctx] { redialForWantedIp(ctx); });
}

void filterRepeats(MainContext& ctx, service::IpLookupResult& r) {
    View& v = ctx.view;
    const std::string listed = trim(listedServerAddress(ctx));
    const std::string server = listed.empty() ? trim(ctx.state.serverAddress.get()) : listed;
    if (trim(r.address) == server) {
        v.setText(kStatusLine,
                  std::string(listed.empty() ? t::kServerAnswered : t::kServerAnsweredListed));
        r.address.clear();
        r.placeless = false;
        WaitPumping(3000);
        lookup(ctx, service::kSecondLookOrder, r);
    }
    const bool threeSegments = v.isTicked(c::单选框_分析IP前三组);
    const auto key = repeatKey(r.address, threeSegments);
    if (key && isRepeat(v.text(kResultsBox), *key)) {
        setAndAppend(v, "本次IP：" + r.address +
                            std::string(threeSegments ? t::kRepeatThree : t::kRepeatFour));
        WaitPumping(500);
        if (ctx.state.stopRequested != 1) {
            startWorker([&ctx] { redialForRepeat(ctx); });
        }
        return;
    }
    // The line written is recorded, not the status line read back: a monitor started beside this
    // verification may already have replaced it, and the address would drop out of the history.
    setAndAppend(v, key ? resultLine(ctx, r) : std::string(t::kNoAddressSecond));
}

enum class RedialKind { kRepeat, kWantedIp };

void reprovision(MainContext& ctx) {
    const std::string entry = engine::makeEntryName();
    ctx.state.entryName.set(entry);
    provisionCurrentLine(ctx, entry);
}

void redial(MainContext& ctx, RedialKind kind) {
    View& v = ctx.view;
    ConnectionState& s = ctx.state;
    const auto stopped = [&] { return s.stopRequested == 1; };
    const bool wanted = kind == RedialKind::kWantedIp;

    ctx.engine.hangUp();
    WaitPumping(20);
    if (stopped()) {
        return;  // a disconnect meanwhile: nothing may be handed on to the timers
    }
    ctx.engine.hangUp();
    WaitPumping(2000);
    if (stopped()) {
        return;
    }
    setLockedControls(v, false);
    v.setText(kStatusLine, wanted ? "本次ip与您要找回包含的指定ip值" +
                                        trimmedText(v, c::编辑框_找回指定ip) +
                                        "不匹配，正在为您断开，重新连接获取新IP..."
                                  : std::string(t::kRedialRepeat));
    ctx.engine.removeEntry(s.entryName.get());
    if (wanted) {
        WaitPumping(2000);
    }
    reprovision(ctx);

    if (v.isTicked(c::选择框_定时连断)) {
        if (wanted || textToNumber(v.text(c::编辑框_连断时间秒)) < 50 - 1e-7) {
            return;  // the timed change redials at its next tick
        }
        s.stopRequested = 1;
        if (ctx.actions.setTimer) {
            ctx.actions.setTimer(c::时钟_自动列表循环, 0);
            ctx.actions.setTimer(c::时钟_定时自动换ip, 0);
        }
        v.setText(kStatusLine, std::string(t::kHandedToTimer));
        if (ctx.actions.setTimer) {
            ctx.actions.setTimer(c::时钟_时间大于50秒出现重复ip定时自动换ip, 10000);
        }
        return;
    }

    while (!stopped()) {
        if (ctx.engine.probeConnection(s.entryName.get()) == 1) {
            break;
        }
        WaitPumping(3000);
        if (stopped()) {
            break;
        }
        dialFromWindow(ctx, s.entryName.get());
        if (stopped()) {
            break;
        }
        WaitPumping(10000);
        if (stopped()) {
            break;
        }
        if (ctx.engine.probeConnection(s.entryName.get()) == 1) {
            continue;
        }
        ctx.engine.hangUp();
        WaitPumping(20);
        ctx.engine.hangUp();
        if (wanted) {
            startIf(ctx.actions.releaseSessionQuietly);
        }
        v.setText(kStatusLine,
                  wanted ? "本次连接失败！下一步进行中..." : "2本次连接失败！下一步进行中...");
        v.appendResult(wanted ? "\r\n本次连接失败！不查询ip\r\n"
                              : "\r\n2本次连接失败！不查询ip\r\n");
        if (stopped()) {
            break;
        }
        WaitPumping(5000);
        if (stopped()) {
            break;
        }
        ctx.engine.removeEntry(s.entryName.get());
        if (wanted) {
            WaitPumping(2000);
        }
        reprovision(ctx);
    }
    if (!stopped()) {
        startWorker([&ctx] { verifyNewIp(ctx); });
        startIf(ctx.actions.connectionMonitor);
    }
}

}  // namespace

std::optional<std::string> repeatKey(const std::string& address, bool threeSegments) {
    const std::string a = trim(address);
    const auto dot = a.rfind('.');
    if (dot == std::string::npos) {
        return std::nullopt;
    }
    return threeSegments ? trim(a.substr(0, dot)) : a;
}

bool isRepeat(const std::string& history, const std::string& key) {
    return !history.empty() && containsNoCase(history, key);
}

bool huntMatches(const std::string& address, const std::string& wanted) {
    const std::string a = trim(address);
    const std::string w = trim(wanted);
    return !a.empty() && (a == w || containsNoCase(a, w));
}

void verifyNewIp(MainContext& ctx) {
    View& v = ctx.view;
    if (ctx.state.stopRequested == 1) {
        return;
    }
    service::IpLookupResult result;
    lookup(ctx, service::kVerificationOrder, result);
    if (trim(result.address).empty()) {
        setAndAppend(v, std::string(t::kNoAddress));
    }
    tint(v);
    if (!v.isTicked(c::选择框_启动过滤重复ip)) {
        recordAndHunt(ctx, result);
    } else if (!result.address.empty()) {
        filterRepeats(ctx, result);
    }
}

void redialForRepeat(MainContext& ctx) {
    redial(ctx, RedialKind::kRepeat);
}
void redialForWantedIp(MainContext& ctx) {
    redial(ctx, RedialKind::kWantedIp);
}

bool saveRepeatHistory(View& view, const std::filesystem::path& file) {
    const bool ok = text::writeFileAtomically(file, text::toLocal(view.text(kResultsBox)));
    if (ok) {
        view.showMessage(std::string(t::kHistorySaved), message_style::kPlain,
                         std::string(t::kHistorySavedTitle));
    } else {
        view.showMessage(std::string(t::kHistoryNotSaved), message_style::kPlain,
                         std::string(t::kHistoryNotSavedTitle));
    }
    return ok;
}

void loadRepeatHistory(View& view, const std::filesystem::path& file) {
    if (const auto bytes = text::readWholeFile(file)) {
        view.setText(kResultsBox, text::fromLocal(*bytes));
    }
}

}  // namespace veltrin::workflows
