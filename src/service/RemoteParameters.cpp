#include "service/RemoteParameters.h"

#include <atomic>
#include <charconv>
#include <limits>

#include "service/Endpoints.h"
#include "service/Fetch.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

// Function-local so a reader in another file's static initialiser still finds a record.
std::atomic<std::shared_ptr<const RemoteParameters>>& current() {
    static std::atomic<std::shared_ptr<const RemoteParameters>> record{
        std::make_shared<const RemoteParameters>()};
    return record;
}

std::string supportOrBuiltIn(const RemoteParameters& p) {
    return p.supportContact.empty() ? std::string(kBuiltInSupportContact) : p.supportContact;
}

}  // namespace

std::string remoteValue(std::string_view text, std::string_view key) {
    return textBetween(text, std::string(key) + "=[", "]");
}

ParsedRemoteText parseRemoteText(std::string_view text) {
    ParsedRemoteText r;
    r.head.latestVersion = textBetween(text, "【", "】");
    r.head.retiredFlag = textBetween(text, "+", "+");
    r.head.updateNotes = textBetween(text, "<", ">");
    r.head.downloadPage = textBetween(text, "[", "]");

    auto& p = r.parameters;
    // The first key line, whatever its name, is the server list.
    p.serverListUrl = textBetween(text, "=[", "]");
    p.ipQuery1Url = remoteValue(text, "ip查询网址1");
    p.ipQuery1IpBefore = remoteValue(text, "ip查询网址1ip前");
    p.ipQuery1IpAfter = remoteValue(text, "ip查询网址1ip后");
    p.ipQuery1PlaceBefore = remoteValue(text, "ip查询网址1地址前");
    p.ipQuery1PlaceAfter = remoteValue(text, "ip查询网址1地址后");
    p.ipQuery2Url = remoteValue(text, "ip查询网址2");
    p.ipQuery2IpBefore = remoteValue(text, "ip查询网址2前");
    p.ipQuery2IpAfter = remoteValue(text, "ip查询网址2后");
    p.expiryUrlBeforeUser = remoteValue(text, "用户到期查询网址用户名前");
    p.expiryUrlBeforePassword = remoteValue(text, "用户到期查询网址密码前");
    p.timeSourceUrl = remoteValue(text, "北京时间网址");
    p.timeSourceBefore = remoteValue(text, "北京时间网址前");
    p.timeSourceAfter = remoteValue(text, "北京时间网址后");
    p.loginUrl = remoteValue(text, "登陆账户验证网址");
    p.loginQueryPrefix = remoteValue(text, "登陆账户验证apiid");
    p.loginSignPrefix = remoteValue(text, "登陆账户验证apiidmd5");
    p.loginSignKey = remoteValue(text, "登陆账户验证密钥md5");
    p.onlineUrl = remoteValue(text, "在线状态踢线网址");
    p.onlineQueryPrefix = remoteValue(text, "在线状态踢线apiid");
    p.onlineSignPrefix = remoteValue(text, "在线状态踢线apiidmd5");
    p.onlineSignKey = remoteValue(text, "在线状态踢线密钥md5");
    p.supportContact = remoteValue(text, "qq客服号码");
    p.autoUpdateEnabled = remoteValue(text, "是否启动自动更新");
    p.showUpdateNotes = remoteValue(text, "是否提示更新内容");
    return r;
}

double versionValue(std::string_view version) {
    // Digits, one optional point, digits: no sign, exponent, "inf" or "nan".
    std::size_t end = 0;
    while (end < version.size() && version[end] >= '0' && version[end] <= '9') {
        ++end;
    }
    const std::size_t integerDigits = end;
    if (end < version.size() && version[end] == '.') {
        ++end;
        while (end < version.size() && version[end] >= '0' && version[end] <= '9') {
            ++end;
        }
    }
    if (end == 0 || (integerDigits == 0 && end == 1)) {
        return 0.0;
    }
    double value = 0.0;
    const auto read =
        std::from_chars(version.data(), version.data() + end, value, std::chars_format::fixed);
    if (read.ec == std::errc::result_out_of_range) {
        // Saturates like leadingInteger: too big for a double is the biggest, too small is 0.
        const bool big =
            version.substr(0, integerDigits).find_first_not_of('0') != std::string_view::npos;
        return big ? std::numeric_limits<double>::max() : 0.0;
    }
    return value;
}

bool isNewerVersion(std::string_view latest, std::string_view running) {
    return versionValue(latest) - versionValue(running) > 0.0000001;
}

std::shared_ptr<const RemoteParameters> loadRemoteParameters() {
    return current().load();
}

void publishRemoteParameters(RemoteParameters parameters) {
    current().store(std::make_shared<const RemoteParameters>(std::move(parameters)));
}

void updateRemoteParameters(const std::function<void(RemoteParameters&)>& change) {
    auto seen = current().load();
    for (;;) {
        auto next = std::make_shared<RemoteParameters>(*seen);
        change(*next);
        std::shared_ptr<const RemoteParameters> published = std::move(next);
        if (current().compare_exchange_weak(seen, published)) {
            return;
        }
    }
}

StartupDecisions startupDecisions(const RemoteHead& head, const RemoteParameters& p) {
    StartupDecisions d;
    if (head.latestVersion.empty()) {
        return d;
    }
    d.noticeBox = NoticeBox::navigate;
    if (!isNewerVersion(head.latestVersion)) {
        return d;
    }
    if (p.autoUpdateEnabled == "yes") {
        d.forcedUpdate = PlainMessage{
            "自动更新提示",
            "Veltrin "
            "需要更新，请点击确定后进行自动更新再使用！\r\n如果自动更新失败，请您联系客服QQ：" +
                supportOrBuiltIn(p) + "发最新版本给您使用！"};
        return d;  // the program ends with the update; nothing after it runs
    }
    if (p.showUpdateNotes == "yes") {
        d.newVersionNotice = PlainMessage{
            "新版本软件提示",
            "最新版本为" + head.latestVersion +
                "版，请点击【菜单】-【最新版本查询及下载】下载最新版本使用！\r\n"
                "或联系客服QQ索要最新版本客户端使用！\r\n推荐使用最新版本，谢谢。\r\n" +
                head.latestVersion + "版更新内容如下：\r\n" + head.updateNotes};
        if (head.retiredFlag == "是") {
            d.withdrawal = PlainMessage{
                "版本过旧停用通知", "您使用的版本过旧或因其他原因已停用！\r\n请联系客服QQ：" +
                                        supportOrBuiltIn(p) +
                                        "索要最新版本客户端使用！\r\n本软件将在15秒后自动关闭。"};
        }
    }
    return d;
}

StartupDecisions fetchRemoteParameters(const std::string& url) {
    const std::string text = localBodyToText(fetchText(url, 2));
    if (text::trimmed(text).empty()) {
        return startupDecisions({}, *loadRemoteParameters());
    }
    ParsedRemoteText parsed = parseRemoteText(text);
    publishRemoteParameters(parsed.parameters);
    return startupDecisions(parsed.head, parsed.parameters);
}

StartupDecisions fetchRemoteParameters() {
    return fetchRemoteParameters(endpointAddress(Endpoint::remoteParameters));
}

}  // namespace veltrin::service
