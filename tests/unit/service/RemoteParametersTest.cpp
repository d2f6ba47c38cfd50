#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include "LoopbackServers.h"
#include "service/RemoteParameters.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

// Every key the client reads, in the order the service writes them.
const std::string kFullText =
    "【9.90】+是+<修复了断线问题\r\n提升稳定性>[http://127.0.0.1:1/download.html]\r\n"
    "服务器列表=[http://127.0.0.1:1/servers.json]\r\n"
    "ip查询网址1=[http://127.0.0.1:1/ip1]\r\n"
    "ip查询网址1ip前=[#引号ip#引号:#引号]\r\n"
    "ip查询网址1ip后=[#引号]\r\n"
    "ip查询网址1地址前=[<td>]\r\n"
    "ip查询网址1地址后=[</td>]\r\n"
    "ip查询网址2=[http://127.0.0.1:1/ip2]\r\n"
    "ip查询网址2前=[当前 IP：]\r\n"
    "ip查询网址2后=[ 来自]\r\n"
    "用户到期查询网址用户名前=[http://127.0.0.1:1/exp?u=]\r\n"
    "用户到期查询网址密码前=[&p=]\r\n"
    "北京时间网址=[http://127.0.0.1:1/bj]\r\n"
    "北京时间网址前=[t=]\r\n"
    "北京时间网址后=[;]\r\n"
    "登陆账户验证网址=[http://127.0.0.1:1/check]\r\n"
    "登陆账户验证apiid=[?apiid=5&sendtime=]\r\n"
    "登陆账户验证apiidmd5=[apiid=5&sendtime=]\r\n"
    "登陆账户验证密钥md5=[K1]\r\n"
    "在线状态踢线网址=[http://127.0.0.1:1/online]\r\n"
    "在线状态踢线apiid=[?apiid=5&id=]\r\n"
    "在线状态踢线apiidmd5=[apiid=5&id=]\r\n"
    "在线状态踢线密钥md5=[K2]\r\n"
    "qq客服号码=[12345678]\r\n"
    "是否启动自动更新=[no]\r\n"
    "是否提示更新内容=[yes]\r\n"
    "过期时间戳前=[a]\r\n过期时间戳后=[b]\r\n自动更新地址=[http://127.0.0.1:1/new.exe]\r\n";

RemoteParameters fullRecord() {
    RemoteParameters p;
    p.serverListUrl = "http://127.0.0.1:1/servers.json";
    p.ipQuery1Url = "http://127.0.0.1:1/ip1";
    p.ipQuery1IpBefore = "#引号ip#引号:#引号";
    p.ipQuery1IpAfter = "#引号";
    p.ipQuery1PlaceBefore = "<td>";
    p.ipQuery1PlaceAfter = "</td>";
    p.ipQuery2Url = "http://127.0.0.1:1/ip2";
    p.ipQuery2IpBefore = "当前 IP：";
    p.ipQuery2IpAfter = " 来自";
    p.expiryUrlBeforeUser = "http://127.0.0.1:1/exp?u=";
    p.expiryUrlBeforePassword = "&p=";
    p.timeSourceUrl = "http://127.0.0.1:1/bj";
    p.timeSourceBefore = "t=";
    p.timeSourceAfter = ";";
    p.loginUrl = "http://127.0.0.1:1/check";
    p.loginQueryPrefix = "?apiid=5&sendtime=";
    p.loginSignPrefix = "apiid=5&sendtime=";
    p.loginSignKey = "K1";
    p.onlineUrl = "http://127.0.0.1:1/online";
    p.onlineQueryPrefix = "?apiid=5&id=";
    p.onlineSignPrefix = "apiid=5&id=";
    p.onlineSignKey = "K2";
    p.supportContact = "12345678";
    p.autoUpdateEnabled = "no";
    p.showUpdateNotes = "yes";
    return p;
}

TEST(RemoteText, ReadsHeadMarksAndEveryKey) {
    const ParsedRemoteText parsed = parseRemoteText(kFullText);
    EXPECT_EQ(parsed.head.latestVersion, "9.90");
    EXPECT_EQ(parsed.head.retiredFlag, "是");
    EXPECT_EQ(parsed.head.updateNotes, "修复了断线问题\r\n提升稳定性");
    EXPECT_EQ(parsed.head.downloadPage, "http://127.0.0.1:1/download.html");
    EXPECT_EQ(parsed.parameters, fullRecord());
    EXPECT_EQ(remoteValue(kFullText, "自动更新地址"), "http://127.0.0.1:1/new.exe");
}

TEST(RemoteText, MissingKeysLeaveOnlyTheirFieldsEmpty) {
    const std::string text =
        "【9.81】\r\nlist=[http://127.0.0.1:1/s.json]\r\n登陆账户验证网址=[http://127.0.0.1:1/"
        "c]\r\n"
        "qq客服号码=[777]\r\n";
    RemoteParameters expected;
    expected.serverListUrl = "http://127.0.0.1:1/s.json";
    expected.loginUrl = "http://127.0.0.1:1/c";
    expected.supportContact = "777";
    EXPECT_EQ(parseRemoteText(text).parameters, expected);
}

TEST(RemoteText, NoVersionMarkStillTakesTheKeys) {
    const ParsedRemoteText parsed = parseRemoteText("a=[http://127.0.0.1:1/s]\r\nqq客服号码=[1]");
    EXPECT_EQ(parsed.head.latestVersion, "");
    EXPECT_EQ(parsed.parameters.serverListUrl, "http://127.0.0.1:1/s");
    EXPECT_EQ(parsed.parameters.supportContact, "1");
}

struct VersionCase {
    const char* name;
    std::string latest;
    bool newer;
};

void PrintTo(const VersionCase& c, std::ostream* os) {
    *os << c.name;
}

class VersionRule : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionRule, NewerThanTheRunningClient) {
    EXPECT_EQ(isNewerVersion(GetParam().latest), GetParam().newer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionRule,
    ::testing::Values(
        VersionCase{"same", "9.81", false}, VersionCase{"float_noise", "9.810000001", false},
        VersionCase{"just_newer", "9.8101", true}, VersionCase{"nine_point_nine", "9.9", true},
        VersionCase{"hundred_is_decimal", "9.100", false}, VersionCase{"older", "9.8", false},
        VersionCase{"major", "10", true}, VersionCase{"suffix_ignored", "9.82beta", true},
        VersionCase{"empty", "", false}, VersionCase{"not_a_number", "abc", false},
        VersionCase{"nan_is_not_a_number", "nan", false},
        VersionCase{"inf_is_not_a_number", "inf", false}, VersionCase{"no_exponent", "1e5", false},
        VersionCase{"leading_blank", " 9.9", false},
        VersionCase{"too_big_for_a_double", std::string(400, '9') + ".5", true},
        VersionCase{"too_small_for_a_double", "0." + std::string(400, '0') + "1", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VersionValue, ReadsTheLeadingDecimal) {
    EXPECT_DOUBLE_EQ(versionValue("9.82"), 9.82);
    EXPECT_DOUBLE_EQ(versionValue("9.100"), 9.1);
    EXPECT_DOUBLE_EQ(versionValue("12.5.1"), 12.5);
    EXPECT_DOUBLE_EQ(versionValue("x9"), 0.0);
}

TEST(VersionValue, SaturatesWhenTheDigitsLeaveTheDoubleRange) {
    EXPECT_EQ(versionValue(std::string(400, '9')), std::numeric_limits<double>::max());
    EXPECT_EQ(versionValue(std::string(400, '0') + "7.5"), 7.5);
    EXPECT_EQ(versionValue("0." + std::string(400, '0') + "1"), 0.0);
}

struct DecisionCase {
    const char* name;
    std::string latest;
    std::string autoUpdate;
    std::string notes;
    std::string retired;
    NoticeBox notice;
    bool forced;
    bool newVersion;
    bool withdrawal;
};

void PrintTo(const DecisionCase& c, std::ostream* os) {
    *os << c.name;
}

class Startup : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Startup, DecidesUpdateNoticeAndWithdrawal) {
    const auto& c = GetParam();
    RemoteParameters p;
    p.autoUpdateEnabled = c.autoUpdate;
    p.showUpdateNotes = c.notes;
    const StartupDecisions d = startupDecisions({c.latest, c.retired, "notes", ""}, p);
    EXPECT_EQ(d.noticeBox, c.notice);
    EXPECT_EQ(d.forcedUpdate.has_value(), c.forced);
    EXPECT_EQ(d.newVersionNotice.has_value(), c.newVersion);
    EXPECT_EQ(d.withdrawal.has_value(), c.withdrawal);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Startup,
    ::testing::Values(DecisionCase{"no_answer", "", "yes", "yes", "是", NoticeBox::hide, false,
                                   false, false},
                      DecisionCase{"current", "9.81", "yes", "yes", "是", NoticeBox::navigate,
                                   false, false, false},
                      DecisionCase{"forced_first_and_last", "9.9", "yes", "yes", "是",
                                   NoticeBox::navigate, true, false, false},
                      DecisionCase{"capital_yes_is_off", "9.9", "Yes", "YES", "是",
                                   NoticeBox::navigate, false, false, false},
                      DecisionCase{"notice_only", "9.9", "no", "yes", "否", NoticeBox::navigate,
                                   false, true, false},
                      DecisionCase{"notice_then_withdrawal", "9.9", "", "yes", "是",
                                   NoticeBox::navigate, false, true, true},
                      DecisionCase{"withdrawal_needs_the_notice", "9.9", "", "no", "是",
                                   NoticeBox::navigate, false, false, false},
                      DecisionCase{"withdrawal_needs_a_newer_version", "9.81", "", "yes", "是",
                                   NoticeBox::navigate, false, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Startup, MessageTexts) {
    RemoteParameters p;
    p.autoUpdateEnabled = "yes";
    p.supportContact = "12345";
    const RemoteHead head{"9.90", "是", "修复断线", ""};
    EXPECT_EQ(startupDecisions(head, p).forcedUpdate,
              (PlainMessage{"自动更新提示",
                            "Veltrin 需要更新，请点击确定后进行自动更新再使用！\r\n"
                            "如果自动更新失败，请您联系客服QQ：12345发最新版本给您使用！"}));
    p.supportContact.clear();
    EXPECT_NE(startupDecisions(head, p).forcedUpdate->text.find(
                  std::string("QQ：" + std::string(kBuiltInSupportContact) + "发最新版本")),
              std::string::npos);

    p.autoUpdateEnabled.clear();
    p.showUpdateNotes = "yes";
    const StartupDecisions d = startupDecisions(head, p);
    EXPECT_EQ(
        d.newVersionNotice,
        (PlainMessage{"新版本软件提示",
                      "最新版本为9.90版，请点击【菜单】-【最新版本查询及下载】下载最新版本使用！"
                      "\r\n或联系客服QQ索要最新版本客户端使用！\r\n推荐使用最新版本，谢谢。\r\n"
                      "9.90版更新内容如下：\r\n修复断线"}));
    ASSERT_TRUE(d.withdrawal);
    EXPECT_EQ(d.withdrawal->title, "版本过旧停用通知");
    EXPECT_NE(d.withdrawal->text.find(kBuiltInSupportContact), std::string::npos);
    EXPECT_NE(d.withdrawal->text.find("15秒"), std::string::npos);
}

TEST(RemoteParametersRecord, ReadersNeverSeeAMix) {
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done) {
                const auto p = loadRemoteParameters();
                if (p->loginUrl != p->onlineUrl || p->loginUrl != p->serverListUrl) {
                    ++torn;
                }
            }
        });
    }
    for (int i = 0; i < 20000; ++i) {
        RemoteParameters p;
        p.serverListUrl = p.loginUrl = p.onlineUrl = std::string(i % 50, 'a' + i % 26);
        publishRemoteParameters(std::move(p));
    }
    done = true;
    for (auto& t : readers) {
        t.join();
    }
    EXPECT_EQ(torn, 0);
}

TEST(RemoteParametersRecord, ConcurrentUpdatesAreNotLost) {
    publishRemoteParameters({});
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                updateRemoteParameters([](RemoteParameters& p) {
                    p.serverListUrl = std::to_string(std::stoi("0" + p.serverListUrl) + 1);
                });
            }
        });
    }
    for (auto& t : writers) {
        t.join();
    }
    EXPECT_EQ(loadRemoteParameters()->serverListUrl, "8000");
}

TEST(FetchRemoteParameters, PublishesWhatTheServiceSendsInCodePage936) {
    // "乚" is 0x81 0x5D in code page 936: its second byte is "]", which a byte search would take
    // for the end of the value.
    testing::HttpServer http;
    http.server().Get("/params.txt", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(text::toLocal("qq=[乚客服]\r\n" + kFullText), "text/plain");
    });
    http.start();
    publishRemoteParameters({});
    const StartupDecisions d = fetchRemoteParameters(http.url("/params.txt"));
    RemoteParameters expected = fullRecord();
    expected.serverListUrl = "乚客服";
    EXPECT_EQ(*loadRemoteParameters(), expected);
    EXPECT_EQ(d.noticeBox, NoticeBox::navigate);
    EXPECT_TRUE(d.newVersionNotice);
    EXPECT_TRUE(d.withdrawal);
}

TEST(FetchRemoteParameters, BlankAnswerKeepsTheRecordAndHidesTheNotice) {
    testing::HttpServer http;
    http.server().Get("/blank", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(" \r\n ", "text/plain");
    });
    http.start();
    RemoteParameters before;
    before.loginUrl = "http://127.0.0.1:1/kept";
    publishRemoteParameters(before);
    const StartupDecisions d = fetchRemoteParameters(http.url("/blank"));
    EXPECT_EQ(*loadRemoteParameters(), before);
    EXPECT_EQ(d.noticeBox, NoticeBox::hide);
    EXPECT_FALSE(d.forcedUpdate || d.newVersionNotice || d.withdrawal);

    const std::string nobody = "http://127.0.0.1:" + std::to_string(testing::unusedPort()) + "/";
    EXPECT_EQ(fetchRemoteParameters(nobody).noticeBox, NoticeBox::hide);
    EXPECT_EQ(*loadRemoteParameters(), before);
}

}  // namespace
}  // namespace veltrin::service
