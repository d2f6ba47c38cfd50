// The client's service code against the lab's web interface.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ServiceLabSupport.h"
#include "lab/WebService.h"
#include "service/Account.h"
#include "service/Expiry.h"
#include "service/Fetch.h"
#include "service/Logoff.h"
#include "service/RemoteParameters.h"
#include "service/ServerListModel.h"
#include "service/TextTools.h"
#include "support/LabProcess.h"

namespace veltrin {
namespace {

using namespace service_lab;
using service::FetchStatus;
using ::testing::HasSubstr;

// ---- Requests as the lab saw them ----------------------------------------------------------

TEST(ServiceAgainstLab, RequestCarriesTheHeaderSetInOrderWithTheAddressAsReferer) {
    LabProcess lab(baseConfig());
    const std::string url = labUrl(lab, "/notice.html?from=client&n=1");
    ASSERT_THAT(service::fetchText(url, 5), HasSubstr("公告"));

    const json requests = lab.webRequests();
    ASSERT_FALSE(requests.empty());
    const json& seen = requests.back();
    EXPECT_EQ(seen["method"], "GET");
    EXPECT_EQ(seen["path"], "/notice.html");
    EXPECT_EQ(seen["query"], "from=client&n=1");
    std::vector<std::string> headers;
    for (const auto& h : seen["headers"]) {
        headers.push_back(h[0].get<std::string>() + ": " + h[1].get<std::string>());
    }
    std::vector<std::string> expected = {"Host: " +
                                         lab.webUrl().substr(std::string("http://").size())};
    for (const auto& h : service::fetchRequestHeaders(url)) {
        expected.push_back(h);
    }
    EXPECT_EQ(headers, expected);
}

TEST(ServiceAgainstLab, SelfSignedCertificateIsIgnored) {
    LabProcess lab(baseConfig());
    ASSERT_THAT(lab.webTlsUrl(), ::testing::StartsWith("https://127.0.0.1:"));
    const std::string body = service::fetchText(lab.webTlsUrl() + "/ip/second.html", 5);
    EXPECT_THAT(body, HasSubstr("您的IP地址：<span class=\"c-red\">110.80.1.1<"));
    const json requests = lab.webRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests.back()["scheme"], "https");
    EXPECT_EQ(requests.back()["path"], "/ip/second.html");
}

// ---- A service that misbehaves -------------------------------------------------------------

TEST(ServiceAgainstLab, MisbehavingServiceGivesAnEmptyAnswerWithoutHanging) {
    struct Case {
        const char* scenario;
        FetchStatus status;
    };
    const Case cases[] = {
        {"slow", FetchStatus::timedOut},
        {"trickle", FetchStatus::timedOut},
        {"down", FetchStatus::transportError},
        {"garbage", FetchStatus::transportError},
    };
    LabProcess lab(baseConfig());
    for (const Case& c : cases) {
        for (const std::string& base : {lab.webUrl(), lab.webTlsUrl()}) {
            SCOPED_TRACE(std::string(c.scenario) + " " + base);
            lab.setScenario(c.scenario);
            const auto started = std::chrono::steady_clock::now();
            const service::FetchResult r = service::fetch({base + "/client/params.txt", 2});
            const auto took = std::chrono::steady_clock::now() - started;
            EXPECT_EQ(r.status, c.status);
            EXPECT_EQ(r.body, "");
            EXPECT_LT(took, std::chrono::seconds(40)) << "did not give up";
        }
    }
    lab.setScenario("normal");
    EXPECT_THAT(service::fetchText(labUrl(lab, "/client/params.txt"), 5), HasSubstr("=["));
}

// ---- Server list ----------------------------------------------------------------------------

class RecordingSink final : public service::ServerListSink {
public:
    void setRefreshEnabled(bool enabled) override { refresh.push_back(enabled); }
    void setStatusLine(const std::string& text) override { status = text; }
    void showMessage(const service::InfoMessage& message) override { messages.push_back(message); }
    void listChanged(service::ServerListId) override {}

    std::vector<bool> refresh;
    std::string status;
    std::vector<service::InfoMessage> messages;
};

TEST(ServiceAgainstLab, GroupedServerListGivesTheRowsWithOneProvinceMixRow) {
    const json servers = json::array({
        {{"name", "浙江省杭州1"}, {"status", "1"}, {"ip", "127.1.0.1"}},
        {{"name", "浙江省宁波2"}, {"status", "1"}, {"ip", "127.1.0.2"}},
        {{"name", "浙江省温州3"}, {"status", "1"}, {"ip", "127.1.0.3"}},
        {{"name", "江苏省南京1"}, {"status", "1"}, {"ip", "127.2.0.1"}},
        {{"name", "江苏省苏州2"}, {"status", "0"}, {"ip", "127.2.0.2"}},
        {{"name", "福建省厦门1"}, {"status", "1"}, {"ip", "127.4.0.1"}},
    });
    LabProcess lab(baseConfig(
        {{"servers_from_lines", false},
         {"servers", servers},
         {"speeds",
          json::array({{{"name", "浙江省宁波2"}, {"speed", "50兆"}, {"remark", "独享"}}})}}));
    testing::TempDir settings;
    service::ServerListModel model;
    RecordingSink sink;
    model.load(
        {labUrl(lab, "/client/servers.json"), labUrl(lab, "/client/speed.txt"), settings.path()},
        sink);

    struct Row {
        std::string name, running, status, ip, speed, sstp, mix;
    };
    const std::vector<Row> expected = {
        {"[全国]列表混拨", "正常运行", "", "", "10兆到50兆", "", "2"},
        {"浙江省杭州1", "正常运行", "1", "127.1.0.1", "高速动态", "127.1.0.1:4430", ""},
        {"浙江省宁波2", "正常运行", "1", "127.1.0.2", "50兆", "127.1.0.2:4430", ""},
        {"浙江省温州3", "正常运行", "1", "127.1.0.3", "高速动态", "127.1.0.3:4430", ""},
        {"[浙江省]3市混拨", "正常运行", "", "", "10兆到50兆", "", "1"},
        {"江苏省南京1", "正常运行", "1", "127.2.0.1", "高速动态", "127.2.0.1:4430", ""},
        {"江苏省苏州2", "维护中", "0", "127.2.0.2", "高速动态", "127.2.0.2:4430", ""},
        {"福建省厦门1", "正常运行", "1", "127.4.0.1", "高速动态", "127.4.0.1:4430", ""},
    };
    const auto rows = model.rows(service::ServerListId::full);
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(rows[i].name, expected[i].name);
        EXPECT_EQ(rows[i].runningText, expected[i].running);
        EXPECT_EQ(rows[i].status, expected[i].status);
        EXPECT_EQ(rows[i].ip, expected[i].ip);
        EXPECT_EQ(rows[i].speed, expected[i].speed);
        EXPECT_EQ(rows[i].sstpAddress, expected[i].sstp);
        EXPECT_EQ(rows[i].mixMarker, expected[i].mix);
    }
    EXPECT_EQ(rows[2].remark, "独享");
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(sink.status, service::loadFinishedText(expected.size()));
    EXPECT_EQ(sink.refresh, (std::vector<bool>{false, true}));
}

TEST(ServiceAgainstLab, ServerListFollowsTheLabsLinesAndTheirStatus) {
    LabProcess lab(json{{"lines", json::array({line("上海电信1"), line("广州电信3")})}});
    lab.setStatus("广州电信3", "maintenance");
    testing::TempDir settings;
    service::ServerListModel model;
    RecordingSink sink;
    model.load(
        {labUrl(lab, "/client/servers.json"), labUrl(lab, "/client/speed.txt"), settings.path()},
        sink);
    const auto rows = model.rows(service::ServerListId::full);
    ASSERT_EQ(rows.size(), 3u);
    const std::string shanghai = lab.address("上海电信1");
    EXPECT_EQ(rows[1].name, "上海电信1");
    EXPECT_EQ(rows[1].ip, shanghai);
    EXPECT_EQ(rows[1].sstpAddress, shanghai + ":4430");
    EXPECT_EQ(rows[1].runningText, "正常运行");
    EXPECT_EQ(rows[1].speed, "10兆到20兆");
    EXPECT_EQ(rows[2].name, "广州电信3");
    EXPECT_EQ(rows[2].runningText, "维护中");
}

// ---- Signed account requests ----------------------------------------------------------------

std::string replaced(std::string s, const std::string& from, const std::string& to) {
    const auto at = s.find(from);
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
}

TEST(ServiceAgainstLab, AccountCheckAcceptsOnlyTheExactFreshSignedQuery) {
    LabProcess lab(
        baseConfig({{"web_accounts",
                     json::array({{{"user", "用户甲"}, {"password", "x"}},
                                  {{"user", "old"}, {"password", "x"}, {"end_time", 1000}}})}}));
    const std::string address = labUrl(lab, "/api/check");
    const auto check = [&](const std::string& url) {
        return service::utf8ToLocal(service::fetchText(url, 5));
    };
    const auto now = service::signTimestamp();
    const auto signedFor = [&](const std::string& name, std::int64_t t) {
        return service::accountCheckUrl(name, t, {}, address);
    };
    struct Case {
        const char* label;
        std::string url;
        std::string info;
    };
    const std::string good = signedFor(kUser, now);
    const std::string sign = good.substr(good.find("&sign=") + 6);
    std::string flipped = sign;
    flipped[0] = flipped[0] == 'a' ? 'b' : 'a';
    const Case cases[] = {
        {"exact signed query", good, ""},
        {"name in code page 936", signedFor("用户甲", now), ""},
        {"signature tampered", replaced(good, sign, flipped), "签名错误"},
        {"name changed after signing", replaced(good, "user=alice", "user=alicf"), "签名错误"},
        {"stale timestamp", signedFor(kUser, now - 3600), "请求超时"},
        {"timestamp from the future", signedFor(kUser, now + 3600), "请求超时"},
        {"unknown account", signedFor("nobody", now), "用户不存在"},
        {"expired account", signedFor("old", now), "账户已过期"},
        {"signature missing", good.substr(0, good.find("&sign=")), "参数错误"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string answer = check(c.url);
        ASSERT_THAT(answer, ::testing::StartsWith("{\"data\":"));
        EXPECT_EQ(service::answerInfo(answer), c.info);
        EXPECT_EQ(service::answerData(answer), "null");
    }
}

TEST(ServiceAgainstLab, RemoteSignedCheckAndLogoffEndALeftOverSession) {
    LabProcess lab(baseConfig());
    const service::RemoteParameters params = labParameters(lab);
    ASSERT_EQ(params.loginUrl, labUrl(lab, "/api/check"));

    std::string answer = service::accountCheck(kUser, params);
    EXPECT_EQ(answer, R"({"data":null,"info":""})");
    EXPECT_TRUE(service::connectTimeDecision(answer).passed);

    const std::string id = lab.post("/admin/online?user=alice")["id"];
    answer = service::accountCheck(kUser, params);
    EXPECT_EQ(service::sessionIdOf(service::answerData(answer)), id);
    EXPECT_FALSE(service::connectTimeDecision(answer).passed);

    const service::LogoffOutcome outcome = service::logoffCore(kUser, params);
    EXPECT_TRUE(outcome.logoffSent);
    EXPECT_EQ(service::forceLogoffMessages(outcome),
              (std::vector<std::string>{"踢线成功！请重新连接使用即可！", "该账户已在线"}));
    EXPECT_TRUE(lab.get("/admin/online").empty());
    EXPECT_EQ(service::answerData(service::accountCheck(kUser, params)), "null");
}

TEST(ServiceAgainstLab, LogoffOfATunnelSessionDropsTheTunnel) {
    LabProcess lab(baseConfig());
    Tunnel tunnel(lab, "上海电信1");
    ASSERT_TRUE(tunnel.up());
    const service::RemoteParameters params = labParameters(lab);
    const std::string data = service::answerData(service::accountCheck(kUser, params));
    EXPECT_THAT(service::sessionIdOf(data), ::testing::StartsWith("s-"));
    const service::LogoffOutcome outcome = service::logoffCore(kUser, params);
    EXPECT_EQ(service::answerInfo(outcome.logoffAnswer), "踢线成功");
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
}

// ---- Expiry ---------------------------------------------------------------------------------

class RecordingExpiryView final : public service::ExpiryView {
public:
    void showPlainMessage(const service::PlainMessage& m) override { messages.push_back(m); }
    void setExpiryCaption(const std::string& c) override { caption = c; }
    void setExpiryColours(service::Rgb, service::Rgb) override {}
    void setNoteColour(service::Rgb) override {}
    void setNoteCaption(const std::string&) override {}
    void wait(int) override {}

    std::string caption;
    std::vector<service::PlainMessage> messages;
};

TEST(ServiceAgainstLab, ExpiryCaptionsFromTheLabsAnswerAndTimePage) {
    // 2019-08-01 00:00 Beijing time, 3 days 5 hours 20 minutes after the lab's clock.
    constexpr std::int64_t kWholeHour = 1564588800;
    constexpr std::int64_t kNow = kWholeHour - (3 * 86400 + 5 * 3600 + 20 * 60);
    struct Case {
        const char* user;
        std::int64_t endTime;
        std::string caption;
    };
    const Case cases[] = {
        {"days", kWholeHour, "2019年8月1日0时0分 剩余:3天5时20分"},
        {"day", kNow + 30 * 3600, " 剩余:1天6时0分"},
        {"hours", kNow + 5 * 3600 + 10 * 60, " 共:5小时"},
        {"minutes", kNow + 40 * 60, " 共:40分钟"},
        {"expired", kNow - 120, "错误,填错用户名或密码,或已过期!"},
    };
    json accounts = json::array();
    for (const Case& c : cases) {
        accounts.push_back({{"user", c.user}, {"password", "pw"}, {"end_time", c.endTime}});
    }
    LabProcess lab(baseConfig({{"web_clock_ms", kNow * 1000}, {"web_accounts", accounts}}));
    const service::ExpiryAddresses builtIn{labUrl(lab, "/api/expiry?user="),
                                           "&passwd=", labUrl(lab, "/time/service"),
                                           labUrl(lab, "/time/public")};
    const service::RemoteParameters remote = labParameters(lab);
    for (const auto& [label, params] :
         {std::pair{"built-in", service::RemoteParameters{}}, std::pair{"remote", remote}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(label) + " " + c.user);
            RecordingExpiryView view;
            service::queryExpiry(std::string(" ") + c.user, "pw ", view, params, builtIn);
            EXPECT_THAT(view.caption, ::testing::EndsWith(c.caption));
            EXPECT_TRUE(view.messages.empty());
        }
        RecordingExpiryView wrong;
        service::queryExpiry("days", "bad", wrong, params, builtIn);
        EXPECT_EQ(wrong.caption, service::kExpiryCaptionRefused);
    }
}

// ---- Remote parameter text ------------------------------------------------------------------

TEST(ServiceAgainstLab, MissingRemoteKeysFallBackToTheBuiltInEndpoints) {
    json keys = json::object();
    for (const char* key : {"ip查询网址1", "ip查询网址2", "登陆账户验证网址", "在线状态踢线网址",
                            "用户到期查询网址用户名前", "北京时间网址"}) {
        keys[key] = nullptr;
    }
    LabProcess lab(baseConfig({{"remote_params", {{"keys", keys}}}}));
    const service::RemoteParameters params = labParameters(lab);
    EXPECT_EQ(params.serverListUrl, labUrl(lab, "/client/servers.json"));
    EXPECT_EQ(params.ipQuery1Url, "");
    EXPECT_EQ(params.loginUrl, "");
    EXPECT_EQ(params.expiryUrlBeforeUser, "");

    // The built-in signed form, which the lab accepts.
    const std::string url = service::accountCheckUrl(kUser, service::signTimestamp(), params,
                                                     labUrl(lab, "/api/check"));
    EXPECT_THAT(url, HasSubstr("/api/check?apiid=198&sendtime="));
    EXPECT_EQ(service::fetchText(url, 5), R"({"data":null,"info":""})");

    const auto expiry = service::expiryQueryRequest(kUser, kPassword, params,
                                                    labUrl(lab, "/api/expiry?user="), "&passwd=");
    EXPECT_EQ(expiry.timeoutSeconds, 3);
    EXPECT_THAT(service::fetchText(expiry.url, 5), HasSubstr("\"info\":\"\",\"end_time\":"));
}

TEST(ServiceAgainstLab, UpdateAndWithdrawalDecisionsFollowTheLabsScenario) {
    LabProcess lab(baseConfig());
    const std::string url = labUrl(lab, "/client/params.txt");
    struct Case {
        const char* scenario;
        service::NoticeBox notice;
        std::optional<std::string> forced, newVersion, withdrawal;
    };
    const Case cases[] = {
        {"normal", service::NoticeBox::navigate, {}, {}, {}},
        {"force_update", service::NoticeBox::navigate, "自动更新提示", {}, {}},
        {"withdraw", service::NoticeBox::navigate, {}, "新版本软件提示", "版本过旧停用通知"},
        {"down", service::NoticeBox::hide, {}, {}, {}},
    };
    const auto title = [](const std::optional<service::PlainMessage>& m) {
        return m ? std::optional<std::string>(m->title) : std::nullopt;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        lab.setScenario(c.scenario);
        const service::StartupDecisions d = service::fetchRemoteParameters(url);
        EXPECT_EQ(d.noticeBox, c.notice);
        EXPECT_EQ(title(d.forcedUpdate), c.forced);
        EXPECT_EQ(title(d.newVersionNotice), c.newVersion);
        EXPECT_EQ(title(d.withdrawal), c.withdrawal);
    }
    lab.setScenario("withdraw");
    const service::StartupDecisions d = service::fetchRemoteParameters(url);
    ASSERT_TRUE(d.newVersionNotice);
    EXPECT_THAT(d.newVersionNotice->text, HasSubstr("最新版本为9.90版"));
    EXPECT_THAT(d.newVersionNotice->text, HasSubstr("修正若干问题，线路更稳定。"));
}

TEST(ServiceAgainstLab, UpdateDownloadIsASmallFile) {
    LabProcess lab(baseConfig());
    const std::string address = service::remoteValue(
        service::localBodyToText(service::fetchText(labUrl(lab, "/client/params.txt"), 5)),
        "自动更新地址");
    const std::string bytes = service::fetchText(address, 5);
    EXPECT_EQ(bytes.substr(0, 15), "VELTRIN-UPDATE\n");
    EXPECT_EQ(bytes.size(), 15u + 256u);
}

// ---- Bad input ------------------------------------------------------------------------------

TEST(LabQueryParsing, GarbageQueriesParseWithoutHarm) {
    struct Case {
        const char* label;
        std::string raw;
        std::vector<std::pair<std::string, std::string>> params;
    };
    const std::vector<Case> cases = {
        {"empty", "", {}},
        {"only separators", "&&&", {}},
        {"name without value", "apiid", {{"apiid", ""}}},
        {"lone percent", "a=%", {{"a", "%"}}},
        {"broken escape", "a=%zz%4", {{"a", "%zz%4"}}},
        {"escaped bytes", "user=%D3%C3%BB%A7", {{"user", "\xD3\xC3\xBB\xA7"}}},
        {"zero byte", "id=%00x", {{"id", std::string("\0x", 2)}}},
        {"plus is a blank", "a=b+c", {{"a", "b c"}}},
        {"second equals kept", "a==b", {{"a", "=b"}}},
        {"empty name", "=v", {{"", "v"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::pair<std::string, std::string>> got;
        for (const auto& p : lab::parseQuery(c.raw)) {
            got.emplace_back(p.name, p.value);
        }
        EXPECT_EQ(got, c.params);
    }
}

TEST(ServiceAgainstLab, LabSurvivesGarbageRequests) {
    LabProcess lab(baseConfig());
    const std::string targets[] = {
        "/api/check?%",
        "/api/check?%zz=%%&&==&sign",
        "/api/check?apiid=198&sendtime=99999999999999999999999&user=alice&sign=0",
        "/api/online?id=%00%FF&apiid=198&sendtime=-1&sign=",
        "/api/expiry?user=%FF%FE%FD&passwd",
        "/api/expiry",
    };
    for (const std::string& target : targets) {
        SCOPED_TRACE(target.substr(0, 80));
        EXPECT_THAT(service::fetchText(labUrl(lab, target), 5), HasSubstr("\"info\":\""));
    }
    // Too long for a request line: refused, as a web server would.
    EXPECT_THAT(service::fetchText(labUrl(lab, "/api/check?" + std::string(60000, 'a')), 5),
                HasSubstr("414"));
    // Bytes that are no HTTP at all, straight to the web port.
    const int port = std::stoi(lab.webUrl().substr(lab.webUrl().rfind(':') + 1));
    for (const std::string& junk : {std::string("\x16\x03\x01\xff\xff garbage\r\n\r\n"),
                                    std::string("GET\r\n\r\n"), std::string(70000, '\x01')}) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
        (void)::send(fd, junk.data(), junk.size(), MSG_NOSIGNAL);
        ::close(fd);
    }
    EXPECT_THAT(service::fetchText(labUrl(lab, "/client/params.txt"), 5), HasSubstr("=["));
    EXPECT_EQ(lab.publicIp(), "");
}

}  // namespace
}  // namespace veltrin
