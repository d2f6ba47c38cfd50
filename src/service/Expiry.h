#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/Fetch.h"
#include "service/RemoteParameters.h"

namespace veltrin::service {

struct Rgb final {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

namespace expiry_colour {
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kLightGrey{236, 236, 236};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kPink{255, 168, 255};
inline constexpr Rgb kGreen{0, 128, 0};
inline constexpr Rgb kPurple{144, 0, 255};
inline constexpr Rgb kRed{255, 0, 0};
}  // namespace expiry_colour

// Captions of the two expiry labels that other parts compare.
inline constexpr std::string_view kExpiryCaptionIdle = "点击查询";
inline constexpr std::string_view kExpiryCaptionBusy = "查询中...";
inline constexpr std::string_view kExpiryCaptionNoAnswer =
    "查询失败，请检查网络是否正常，或稍后再试";
inline constexpr std::string_view kExpiryCaptionNoEndTime = "暂无法查询，请稍后再试！";
inline constexpr std::string_view kExpiryCaptionRefused = "错误,填错用户名或密码,或已过期!";

// One change of the expiry label (标签_用户过期时间查询) and the note above it (透明标签17),
// then a responsive wait. Unset fields stay as they are.
struct ExpiryStep final {
    std::optional<std::string> caption;
    std::optional<Rgb> labelText;
    std::optional<Rgb> labelBackground;
    std::optional<Rgb> noteText;
    std::optional<std::string> noteCaption;
    int waitMs = 0;
    bool operator==(const ExpiryStep&) const = default;
};

// What a finished query shows: first the message box, if any, then the steps in order.
struct ExpiryPlan final {
    std::optional<PlainMessage> message;
    std::vector<ExpiryStep> steps;
};

// Times count seconds from 1970-01-01 08:00:00 (Beijing time written as Unix seconds).

// "2019年7月8日11时15分": the expiry as the label writes it.
std::string expiryText(std::int64_t endTime);

// The end time of an answer that goes on to the remaining-time display; nullopt when the answer
// is blank, refused or has no end time (then no time page is asked).
std::optional<std::int64_t> expiryEndTime(std::string_view answer);

// Everything the label shows for an answer (UTF-8) and the network time, if one was obtained.
ExpiryPlan expiryPlan(std::string_view answer, std::optional<std::int64_t> networkNow);

// The expiry query address and its timeout. The name and password are trimmed and escaped.
FetchRequest expiryQueryRequest(std::string_view name, std::string_view password,
                                const RemoteParameters& parameters,
                                std::string_view builtInBeforeUser,
                                std::string_view builtInSeparator);

// A time page and the markers around its millisecond count.
struct TimeSource final {
    std::string url;
    std::string before;
    std::string after;
    bool operator==(const TimeSource&) const = default;
};

// The service's own time source first, then the remote one or else the public page.
std::vector<TimeSource> timeSources(const RemoteParameters& parameters,
                                    std::string_view serviceTimeUrl,
                                    std::string_view publicTimeUrl);

// The seconds of the millisecond count a time page body carries between the markers.
std::optional<std::int64_t> networkTimeFromPage(std::string_view body, const TimeSource& source);

// The network time from the first source that yields one (each asked with 2 s); nullopt when
// none did.
std::optional<std::int64_t> networkNow(const std::vector<TimeSource>& sources);

// What queryExpiry needs of the main window. Calls come from the worker thread.
class ExpiryView {
public:
    virtual ~ExpiryView() = default;
    // A plain box (no icon); returns when it is closed.
    virtual void showPlainMessage(const PlainMessage& message) = 0;
    virtual void setExpiryCaption(const std::string& caption) = 0;
    virtual void setExpiryColours(Rgb text, Rgb background) = 0;
    virtual void setNoteColour(Rgb text) = 0;
    virtual void setNoteCaption(const std::string& caption) = 0;
    // Waits while keeping the window responsive.
    virtual void wait(int milliseconds) = 0;
};

void showExpiryPlan(const ExpiryPlan& plan, ExpiryView& view);

// The built-in addresses the query falls back on, deciphered for one query.
struct ExpiryAddresses final {
    std::string beforeUser;
    std::string separator;
    std::string serviceTime;
    std::string publicTime;
};
ExpiryAddresses builtInExpiryAddresses();

// The expiry label's worker, for the account name and password as typed.
void queryExpiry(std::string_view name, std::string_view password, ExpiryView& view,
                 const RemoteParameters& parameters, const ExpiryAddresses& addresses);
void queryExpiry(std::string_view name, std::string_view password, ExpiryView& view);

}  // namespace veltrin::service
