#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veltrin::service {

// Endpoints, page markers and switches the service publishes in its remote parameter text. An
// empty field means the reader uses its built-in endpoint (or skips its step).
struct RemoteParameters final {
    std::string serverListUrl;
    std::string ipQuery1Url;
    std::string ipQuery1IpBefore;
    std::string ipQuery1IpAfter;
    std::string ipQuery1PlaceBefore;
    std::string ipQuery1PlaceAfter;
    std::string ipQuery2Url;
    std::string ipQuery2IpBefore;
    std::string ipQuery2IpAfter;
    std::string expiryUrlBeforeUser;
    std::string expiryUrlBeforePassword;
    std::string timeSourceUrl;
    std::string timeSourceBefore;
    std::string timeSourceAfter;
    std::string loginUrl;
    std::string loginQueryPrefix;
    std::string loginSignPrefix;
    std::string loginSignKey;
    std::string onlineUrl;
    std::string onlineQueryPrefix;
    std::string onlineSignPrefix;
    std::string onlineSignKey;
    std::string supportContact;
    std::string autoUpdateEnabled;
    std::string showUpdateNotes;

    bool operator==(const RemoteParameters&) const = default;
};

// The head marks, which only the start-up worker (and the version check) use.
struct RemoteHead final {
    std::string latestVersion;  // between "【" and "】"
    std::string retiredFlag;    // between the first two "+"
    std::string updateNotes;    // between "<" and ">"
    std::string downloadPage;   // between the first "[" and "]"
};

struct ParsedRemoteText final {
    RemoteHead head;
    RemoteParameters parameters;
};

// The running client's version and the support number used when the service names none.
inline constexpr std::string_view kClientVersion = "9.81";
inline constexpr std::string_view kBuiltInSupportContact = "800083615";

// The value of a key line `key=[value]`; empty when the key is missing.
std::string remoteValue(std::string_view text, std::string_view key);

// Reads every mark and key of the text (UTF-8, already converted from the local code page).
ParsedRemoteText parseRemoteText(std::string_view text);

// The decimal number the text starts with; 0 when it does not start with one.
double versionValue(std::string_view version);

// Newer only by more than 0.0000001, so float noise in the service's number is not an update.
bool isNewerVersion(std::string_view latest, std::string_view running = kClientVersion);

// The record every reader sees. Readers get a whole record, old or new, never a mix.
std::shared_ptr<const RemoteParameters> loadRemoteParameters();
void publishRemoteParameters(RemoteParameters parameters);
// Changes the current record in one step, retrying when another writer got in between.
void updateRemoteParameters(const std::function<void(RemoteParameters&)>& change);

// A plain message box (no icon).
struct PlainMessage final {
    std::string title;
    std::string text;
    bool operator==(const PlainMessage&) const = default;
};

enum class NoticeBox { navigate, hide };

// What the start-up worker leaves for the window to do, in this order: the notice box; then the
// forced update (box, hide the main window, modal self-update window, exit 0); or the new-version
// notice, followed by the withdrawal (box, 15 s responsive wait, exit 0) when present.
struct StartupDecisions final {
    NoticeBox noticeBox = NoticeBox::hide;
    std::optional<PlainMessage> forcedUpdate;
    std::optional<PlainMessage> newVersionNotice;
    std::optional<PlainMessage> withdrawal;
};

StartupDecisions startupDecisions(const RemoteHead& head, const RemoteParameters& parameters);

// The start-up worker without its window: fetches the remote text from `url` (2 s), publishes the
// parameters when an answer came and returns the decisions. A blank answer leaves the record as
// it was.
StartupDecisions fetchRemoteParameters(const std::string& url);
// The same from the built-in address.
StartupDecisions fetchRemoteParameters();

}  // namespace veltrin::service
