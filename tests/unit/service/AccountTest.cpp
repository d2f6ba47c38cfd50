#include <gtest/gtest.h>

#include <mutex>

#include "LoopbackServers.h"
#include "service/Account.h"

namespace veltrin::service {
namespace {

TEST(SignTimestamp, SecondsFromEightOClockOnNewYear1970LocalTime) {
    EXPECT_EQ(signTimestampAt(1700000000, 8 * 3600), 1700000000);
    EXPECT_EQ(signTimestampAt(1700000000, 0), 1700000000 - 8 * 3600);
    EXPECT_EQ(signTimestampAt(1700000000, -5 * 3600), 1700000000 - 13 * 3600);
    const auto now = signTimestamp();
    EXPECT_EQ(std::to_string(now).size(), 10u);
}

TEST(Md5Hex, DigestsTheCodePage936Bytes) {
    // Expected values from: printf '...' | iconv -f UTF-8 -t CP936 | md5sum
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("用户甲"), "bfa0e0835d146ae6bd6305580cf01914");
    EXPECT_EQ(md5Hex("apiid=198&sendtime=1700000000&user=u1Rm4TzWa8PnLc2VyKdHq7XeBf9UgJs3No"),
              "656ac0f30d0c6589a8fd3f2aa235d7da");
}

TEST(AccountCheckUrl, BuiltInQueryIsSignedWithTheBuiltInKey) {
    EXPECT_EQ(accountCheckUrl("u1", 1700000000, {}, "http://127.0.0.1:9/api/check"),
              "http://127.0.0.1:9/api/check?apiid=198&sendtime=1700000000&user=u1"
              "&sign=656ac0f30d0c6589a8fd3f2aa235d7da");
}

TEST(AccountCheckUrl, RemoteVariantUsesTheFourFieldsAsGiven) {
    RemoteParameters p;
    p.loginUrl = "http://127.0.0.1:9/c";
    p.loginQueryPrefix = "?id=7&t=";
    p.loginSignPrefix = "id=7&t=";
    p.loginSignKey = "KEY";
    EXPECT_EQ(accountCheckUrl("u1", 1234567890, p, "http://unused"),
              "http://127.0.0.1:9/c?id=7&t=1234567890&user=u1&sign=" +
                  md5Hex("id=7&t=1234567890&user=u1KEY"));
    // Empty prefixes stay empty: the remote variant is taken whole.
    p.loginQueryPrefix.clear();
    p.loginSignPrefix.clear();
    p.loginSignKey.clear();
    EXPECT_EQ(accountCheckUrl("u1", 5, p, "http://unused"),
              "http://127.0.0.1:9/c5&user=u1&sign=" + md5Hex("5&user=u1"));
}

TEST(AccountCheckUrl, NameCannotBreakOutOfItsParameter) {
    const std::string url = accountCheckUrl("a&user=b#", 1, {}, "http://127.0.0.1:9/c");
    EXPECT_NE(
        url.find("&user=a%26user%3Db%23&sign=" +
                 md5Hex("apiid=198&sendtime=1&user=a&user=b#" + std::string(kBuiltInSignKey))),
        std::string::npos)
        << url;
}

TEST(SessionLogoffUrl, BuiltInAndRemote) {
    EXPECT_EQ(sessionLogoffUrl("s-42", 1700000000, {}, "http://127.0.0.1:9/api/online"),
              "http://127.0.0.1:9/api/online?apiid=198&id=s-42&sendtime=1700000000"
              "&sign=5592ecb0e36b1dfdeca0c5b9f7c7ba86");
    RemoteParameters p;
    p.onlineUrl = "http://127.0.0.1:9/o";
    p.onlineQueryPrefix = "?a=1&id=";
    p.onlineSignPrefix = "a=1&id=";
    p.onlineSignKey = "K";
    EXPECT_EQ(
        sessionLogoffUrl("s-42", 77, p, ""),
        "http://127.0.0.1:9/o?a=1&id=s-42&sendtime=77&sign=" + md5Hex("a=1&id=s-42&sendtime=77K"));
}

TEST(AnswerPieces, InfoDataAndSessionId) {
    const std::string online = R"({"data":{"id":"s-42","user":"u1"},"info":"在线"})";
    EXPECT_EQ(answerInfo(online), "在线");
    EXPECT_EQ(answerData(online), R"({"id":"s-42")");
    EXPECT_EQ(sessionIdOf(answerData(online)), "s-42");

    const std::string offline = R"({"data":null,"info":""})";
    EXPECT_EQ(answerInfo(offline), "");
    EXPECT_EQ(answerData(offline), "null");

    // The id counts only as the first member of the session object.
    const std::string idSecond = R"({"data":{"user":"u1","id":"s-42"},"info":""})";
    EXPECT_EQ(sessionIdOf(answerData(idSecond)), "");
}

struct Decision {
    const char* name;
    std::string answer;
    bool passed;
    std::string message;
};

void PrintTo(const Decision& c, std::ostream* os) {
    *os << c.name;
}

class ConnectTime : public ::testing::TestWithParam<Decision> {};

TEST_P(ConnectTime, RefusesOnlyOnAClearNo) {
    const auto& c = GetParam();
    const ConnectDecision d = connectTimeDecision(c.answer);
    EXPECT_EQ(d.passed, c.passed);
    EXPECT_EQ(d.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConnectTime,
    ::testing::Values(
        Decision{"no_answer", "", true, ""},
        Decision{"all_well", R"({"data":null,"info":""})", true, ""},
        Decision{"blank_info", R"({"data":null,"info":"  "})", true, ""},
        Decision{"no_info_member", R"({"data":null})", true, ""},
        Decision{"timeout_reported", R"({"data":null,"info":"请求超时"})", true, ""},
        Decision{"timeout_elsewhere", R"({"data":null,"info":"x","msg":"请求超时"})", true, ""},
        Decision{"refused", R"({"data":null,"info":"用户不存在"})", false,
                 "用户不存在账户过期或填错！请先自助或联系客服开通账户再使用！"},
        Decision{"refused_info_kept_verbatim", R"({"data":null,"info":" 已到期 "})", false,
                 " 已到期 账户过期或填错！请先自助或联系客服开通账户再使用！"}),
    [](const auto& info) { return std::string(info.param.name); });

// The account service stand-in: records each request's parameters and answers in UTF-8.
class AccountService : public ::testing::Test {
protected:
    void SetUp() override {
        http_.server().Get("/check", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            checks_.push_back(req.params);
            res.set_content(checkAnswer_, "application/json; charset=utf-8");
        });
        http_.start();
        parameters_.loginUrl = http_.url("/check");
        parameters_.loginQueryPrefix = "?apiid=7&sendtime=";
        parameters_.loginSignPrefix = "apiid=7&sendtime=";
        parameters_.loginSignKey = "K7";
    }

    testing::HttpServer http_;
    RemoteParameters parameters_;
    std::mutex mutex_;
    std::vector<httplib::Params> checks_;
    std::string checkAnswer_;
};

TEST_F(AccountService, CheckSendsTheTrimmedNameSignedAndConvertsTheAnswer) {
    checkAnswer_ = R"({"data":null,"info":"😀账户正常"})";
    const std::string answer = accountCheck("  u1 \t", parameters_);
    EXPECT_EQ(answer, R"({"data":null,"info":"?账户正常"})");

    std::lock_guard lock(mutex_);
    ASSERT_EQ(checks_.size(), 1u);
    const auto& q = checks_[0];
    ASSERT_EQ(q.count("user"), 1u);
    EXPECT_EQ(q.find("user")->second, "u1");
    const std::string t = q.find("sendtime")->second;
    EXPECT_EQ(q.find("sign")->second, md5Hex("apiid=7&sendtime=" + t + "&user=u1K7"));
}

TEST_F(AccountService, SilentServiceGivesAnEmptyAnswerAndPasses) {
    parameters_.loginUrl = "http://127.0.0.1:" + std::to_string(testing::unusedPort()) + "/check";
    const std::string answer = accountCheck("u1", parameters_);
    EXPECT_EQ(answer, "");
    EXPECT_TRUE(connectTimeDecision(answer).passed);
}

}  // namespace
}  // namespace veltrin::service
