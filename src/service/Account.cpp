#include "service/Account.h"

#include <openssl/evp.h>

#include <memory>

#include "service/Endpoints.h"
#include "service/Fetch.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {

std::int64_t signTimestampAt(std::time_t unixTime, long utcOffsetSeconds) {
    return static_cast<std::int64_t>(unixTime) + utcOffsetSeconds - 8 * 3600;
}

std::int64_t signTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return signTimestampAt(now, local.tm_gmtoff);
}

std::string md5Hex(std::string_view utf8) {
    const std::string bytes = text::toLocal(utf8);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) != 1) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(kDigits[digest[i] >> 4]);
        hex.push_back(kDigits[digest[i] & 0x0F]);
    }
    return hex;
}

std::string accountCheckUrl(std::string_view name, std::int64_t timestamp,
                            const RemoteParameters& p, std::string_view builtInAddress) {
    const std::string t = std::to_string(timestamp);
    const std::string user(name);
    if (!p.loginUrl.empty()) {
        const std::string signedText = p.loginSignPrefix + t + "&user=" + user + p.loginSignKey;
        return p.loginUrl + p.loginQueryPrefix + t + "&user=" + queryEscaped(user) +
               "&sign=" + md5Hex(signedText);
    }
    const std::string signedText =
        "apiid=198&sendtime=" + t + "&user=" + user + std::string(kBuiltInSignKey);
    return std::string(builtInAddress) + "?apiid=198&sendtime=" + t +
           "&user=" + queryEscaped(user) + "&sign=" + md5Hex(signedText);
}

std::string sessionLogoffUrl(std::string_view sessionId, std::int64_t timestamp,
                             const RemoteParameters& p, std::string_view builtInAddress) {
    const std::string t = std::to_string(timestamp);
    const std::string id(sessionId);
    if (!p.onlineUrl.empty()) {
        const std::string signedText = p.onlineSignPrefix + id + "&sendtime=" + t + p.onlineSignKey;
        return p.onlineUrl + p.onlineQueryPrefix + queryEscaped(id) + "&sendtime=" + t +
               "&sign=" + md5Hex(signedText);
    }
    const std::string signedText =
        "apiid=198&id=" + id + "&sendtime=" + t + std::string(kBuiltInSignKey);
    return std::string(builtInAddress) + "?apiid=198&id=" + queryEscaped(id) + "&sendtime=" + t +
           "&sign=" + md5Hex(signedText);
}

std::string accountCheck(std::string_view name, const RemoteParameters& parameters) {
    const std::string builtIn =
        parameters.loginUrl.empty() ? endpointAddress(Endpoint::accountCheck) : std::string();
    const std::string url =
        accountCheckUrl(text::trimmed(name), signTimestamp(), parameters, builtIn);
    return utf8ToLocal(fetchText(url, 2));
}

std::string accountCheck(std::string_view name) {
    return accountCheck(name, *loadRemoteParameters());
}

std::string sessionLogoff(std::string_view sessionId, const RemoteParameters& parameters) {
    const std::string builtIn =
        parameters.onlineUrl.empty() ? endpointAddress(Endpoint::onlineStatus) : std::string();
    const std::string url = sessionLogoffUrl(sessionId, signTimestamp(), parameters, builtIn);
    return utf8ToLocal(fetchText(url, 2));
}

std::string sessionLogoff(std::string_view sessionId) {
    return sessionLogoff(sessionId, *loadRemoteParameters());
}

std::string answerInfo(std::string_view answer) {
    return textBetween(answer, "info\":\"", "\"");
}

std::string answerData(std::string_view answer) {
    return textBetween(answer, "{\"data\":", ",\"");
}

std::string sessionIdOf(std::string_view data) {
    // The id counts only as the session object's first member: data ends at the first ",\"".
    return textBetween(data, "id\":\"", "\"");
}

ConnectDecision connectTimeDecision(std::string_view answer) {
    const std::string info = answerInfo(answer);
    if (!answer.empty() && !text::trimmed(info).empty() &&
        answer.find("请求超时") == std::string_view::npos) {
        return {false, info + "账户过期或填错！请先自助或联系客服开通账户再使用！"};
    }
    return {true, {}};
}

}  // namespace veltrin::service
