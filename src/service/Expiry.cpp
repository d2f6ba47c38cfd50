#include "service/Expiry.h"

#include <algorithm>
#include <cmath>

#include "service/Account.h"
#include "service/Endpoints.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

namespace c = expiry_colour;

// The service's number is not trusted to stay in the calendar: 9999-12-31 23:59:59 at most.
constexpr std::int64_t kLatestTime = 253402300799 - 8 * 3600;

// A hair added before truncating hours and minutes, as the label always has.
constexpr double kNudge = 0.0000058;

std::int64_t truncated(double units) {
    return static_cast<std::int64_t>(std::trunc(units));
}

// Days since 1970-01-01 to year, month, day (proleptic Gregorian).
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2 ? 1 : 0;
}

ExpiryStep captionStep(std::string caption) {
    ExpiryStep step;
    step.caption = std::move(caption);
    return step;
}

ExpiryStep blueStyle() {
    return {std::nullopt, c::kBlue, c::kLightGrey, c::kBlack, "点击查询账户到期时间：", 0};
}

// Rounds of (colour on light grey, wait) and (black on pink, wait) with the note's caption.
void blink(std::vector<ExpiryStep>& steps, int rounds, Rgb colour, const std::string& note,
           int waitMs) {
    for (int i = 0; i < rounds; ++i) {
        steps.push_back({std::nullopt, colour, c::kLightGrey, colour, note, waitMs});
        steps.push_back({std::nullopt, c::kBlack, c::kPink, c::kBlack, note, waitMs});
    }
}

}  // namespace

std::string expiryText(std::int64_t endTime) {
    const std::int64_t t = std::clamp<std::int64_t>(endTime, -8 * 3600, kLatestTime) + 8 * 3600;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    civilFromDays(t / 86400, y, m, d);
    const std::int64_t secondOfDay = t % 86400;
    return std::to_string(y) + "年" + std::to_string(m) + "月" + std::to_string(d) + "日" +
           std::to_string(secondOfDay / 3600) + "时" + std::to_string(secondOfDay % 3600 / 60) +
           "分";
}

std::optional<std::int64_t> expiryEndTime(std::string_view answer) {
    if (text::trimmed(answer).empty() || !text::trimmed(answerInfo(answer)).empty()) {
        return std::nullopt;
    }
    const std::string endText = textBetween(answer, "end_time\":", "\"");
    if (endText.empty()) {
        return std::nullopt;
    }
    return std::min(leadingInteger(endText).value_or(0), kLatestTime);
}

ExpiryPlan expiryPlan(std::string_view answer, std::optional<std::int64_t> networkNow) {
    ExpiryPlan plan;
    auto& steps = plan.steps;
    if (text::trimmed(answer).empty()) {
        steps.push_back(captionStep(std::string(kExpiryCaptionNoAnswer)));
        return plan;
    }
    if (!text::trimmed(answerInfo(answer)).empty()) {
        const std::string caption(kExpiryCaptionRefused);
        const std::string note = "点击查询账户到期时间：";
        for (int i = 0; i < 2; ++i) {
            steps.push_back({caption, c::kBlue, c::kLightGrey, c::kBlack, note, 250});
            steps.push_back({caption, c::kBlack, c::kPink, std::nullopt, note, 250});
        }
        return plan;
    }
    const auto end = expiryEndTime(answer);
    if (!end) {
        steps.push_back(captionStep(std::string(kExpiryCaptionNoEndTime)));
        return plan;
    }
    const std::string expiry = expiryText(*end);
    if (!networkNow) {
        ExpiryStep step = blueStyle();
        step.caption = expiry;
        steps.push_back(step);
        return plan;
    }

    const std::int64_t diff = *end - std::clamp<std::int64_t>(*networkNow, 0, kLatestTime);
    const std::int64_t minutes = truncated(diff / 60.0 + kNudge);
    if (minutes < 1) {
        plan.message = PlainMessage{"到期提示：", "用户名过期了！"};
    }
    const std::int64_t days = truncated(diff / 86400.0);
    if (days != 0) {
        const std::int64_t hours = truncated((diff - days * 86400) / 3600.0 + kNudge);
        const std::int64_t wholeHours = truncated(diff / 3600.0 + kNudge);
        const std::int64_t restMinutes = truncated((diff - wholeHours * 3600) / 60.0 + kNudge);
        steps.push_back(captionStep(expiry + " 剩余:" + std::to_string(days) + "天" +
                                    std::to_string(hours) + "时" + std::to_string(restMinutes) +
                                    "分"));
        if (days == 1) {
            blink(steps, 2, c::kGreen, "剩余时间只有不到2天，推荐您续费，谢谢", 1000);
        } else if (days >= 2) {
            steps.push_back(blueStyle());
        }
        return plan;
    }
    const std::int64_t hours = truncated(diff / 3600.0 + kNudge);
    if (hours != 0) {
        steps.push_back(captionStep(expiry + " 共:" + std::to_string(hours) + "小时"));
        blink(steps, 2, c::kPurple, "剩余时间不足24小时，建议您续费!", 1000);
        return plan;
    }
    steps.push_back(captionStep(expiry + " 共:" + std::to_string(minutes) + "分钟"));
    blink(steps, 3, c::kRed, "剩余时间不足1小时，请及时续费!", 1000);
    return plan;
}

FetchRequest expiryQueryRequest(std::string_view name, std::string_view password,
                                const RemoteParameters& p, std::string_view builtInBeforeUser,
                                std::string_view builtInSeparator) {
    const std::string user = queryEscaped(text::trimmed(name));
    const std::string pass = queryEscaped(text::trimmed(password));
    if (!p.expiryUrlBeforeUser.empty()) {
        return {p.expiryUrlBeforeUser + user + p.expiryUrlBeforePassword + pass, 2};
    }
    return {std::string(builtInBeforeUser) + user + std::string(builtInSeparator) + pass, 3};
}

std::vector<TimeSource> timeSources(const RemoteParameters& p, std::string_view serviceTimeUrl,
                                    std::string_view publicTimeUrl) {
    std::vector<TimeSource> sources{{std::string(serviceTimeUrl), "data:", "."}};
    if (!p.timeSourceUrl.empty()) {
        sources.push_back({p.timeSourceUrl, p.timeSourceBefore, p.timeSourceAfter});
    } else {
        sources.push_back({std::string(publicTimeUrl), "var time = '", "';"});
    }
    return sources;
}

std::optional<std::int64_t> networkTimeFromPage(std::string_view body, const TimeSource& source) {
    const std::string text = localBodyToText(body);
    if (text::trimmed(text).empty()) {
        return std::nullopt;
    }
    // A value that is no number is no time: the next source gets its turn.
    const auto milliseconds = leadingInteger(textBetween(text, source.before, source.after));
    if (!milliseconds) {
        return std::nullopt;
    }
    return std::min(*milliseconds / 1000, kLatestTime);
}

std::optional<std::int64_t> networkNow(const std::vector<TimeSource>& sources) {
    for (const auto& source : sources) {
        if (auto now = networkTimeFromPage(fetchText(source.url, 2), source)) {
            return now;
        }
    }
    return std::nullopt;
}

void showExpiryPlan(const ExpiryPlan& plan, ExpiryView& view) {
    if (plan.message) {
        view.showPlainMessage(*plan.message);
    }
    for (const auto& step : plan.steps) {
        if (step.caption) {
            view.setExpiryCaption(*step.caption);
        }
        if (step.labelText && step.labelBackground) {
            view.setExpiryColours(*step.labelText, *step.labelBackground);
        }
        if (step.noteText) {
            view.setNoteColour(*step.noteText);
        }
        if (step.noteCaption) {
            view.setNoteCaption(*step.noteCaption);
        }
        if (step.waitMs > 0) {
            view.wait(step.waitMs);
        }
    }
}

ExpiryAddresses builtInExpiryAddresses() {
    return {endpointAddress(Endpoint::expiryBeforeUser), endpointAddress(Endpoint::expirySeparator),
            endpointAddress(Endpoint::serviceTime), endpointAddress(Endpoint::publicTime)};
}

void queryExpiry(std::string_view name, std::string_view password, ExpiryView& view,
                 const RemoteParameters& parameters, const ExpiryAddresses& addresses) {
    if (name.empty() || password.empty()) {
        view.showPlainMessage({"【用户名和密码】未填写提示！",
                               "请先在左边填好已开通的【用户名和密码】，再查询剩余时间！"});
        return;
    }
    view.setExpiryCaption(std::string(kExpiryCaptionBusy));
    const FetchRequest request =
        expiryQueryRequest(name, password, parameters, addresses.beforeUser, addresses.separator);
    const std::string answer = utf8ToLocal(fetch(request).body);
    std::optional<std::int64_t> now;
    if (expiryEndTime(answer)) {
        now = networkNow(timeSources(parameters, addresses.serviceTime, addresses.publicTime));
    }
    showExpiryPlan(expiryPlan(answer, now), view);
}

void queryExpiry(std::string_view name, std::string_view password, ExpiryView& view) {
    queryExpiry(name, password, view, *loadRemoteParameters(), builtInExpiryAddresses());
}

}  // namespace veltrin::service
