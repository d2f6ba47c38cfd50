#include <gtest/gtest.h>

#include <mutex>

#include "LoopbackServers.h"
#include "service/Account.h"
#include "service/Logoff.h"

namespace veltrin::service {
namespace {

constexpr const char* kNotOnline = "您的用户名不在线状态，不需要踢下线，直接连接使用即可！";

struct MessagesCase {
    const char* name;
    LogoffOutcome outcome;
    std::vector<std::string> messages;
};

void PrintTo(const MessagesCase& c, std::ostream* os) {
    *os << c.name;
}

class ForceLogoffMessages : public ::testing::TestWithParam<MessagesCase> {};

TEST_P(ForceLogoffMessages, BoxesInOrder) {
    EXPECT_EQ(forceLogoffMessages(GetParam().outcome), GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ForceLogoffMessages,
    ::testing::Values(
        MessagesCase{"no_answer", {"", "", false, ""}, {}},
        MessagesCase{"not_online", {R"({"data":null,"info":""})", "null", false, ""}, {kNotOnline}},
        MessagesCase{"not_online_with_info",
                     {R"({"data":null,"info":"账户将到期"})", "null", false, ""},
                     {kNotOnline, "账户将到期"}},
        MessagesCase{"logged_off",
                     {R"({"data":{"id":"s1","x":1},"info":""})", R"({"id":"s1")", true,
                      R"({"data":null,"info":"已踢下线"})"},
                     {"已踢下线！请重新连接使用即可！"}},
        MessagesCase{
            "logged_off_answer_without_info",
            {R"({"data":{"id":"s1","x":1},"info":""})", R"({"id":"s1")", true, R"({"data":null})"},
            {"！请重新连接使用即可！"}},
        MessagesCase{"logoff_unanswered",
                     {R"({"data":{"id":"s1","x":1},"info":""})", R"({"id":"s1")", true, ""},
                     {"踢线失败！"}},
        MessagesCase{
            "no_session_id_only_info",
            {R"({"data":{"user":"u","id":"s1"},"info":"查询成功"})", R"({"user":"u")", false, ""},
            {"查询成功"}}),
    [](const auto& info) { return std::string(info.param.name); });

class RecordingLogoffView final : public LogoffView {
public:
    void setLogoffButtonEnabled(bool enabled) override {
        events.push_back(enabled ? "enable" : "disable");
    }
    void showInformation(const std::string& text) override { events.push_back("box:" + text); }
    std::vector<std::string> events;
};

// The account service with an online session for "u1", answering check and log-off.
class LogoffService : public ::testing::Test {
protected:
    void SetUp() override {
        http_.server().Get("/check", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            requests_.push_back("check " + req.get_param_value("user"));
            res.set_content(checkAnswer_, "application/json");
        });
        http_.server().Get("/online", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            requests_.push_back("logoff " + req.get_param_value("id"));
            res.set_content(R"({"data":null,"info":"下线成功"})", "application/json");
        });
        http_.start();
        parameters_.loginUrl = http_.url("/check");
        parameters_.loginQueryPrefix = "?apiid=1&sendtime=";
        parameters_.onlineUrl = http_.url("/online");
        parameters_.onlineQueryPrefix = "?apiid=1&id=";
    }

    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    testing::HttpServer http_;
    RemoteParameters parameters_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::string checkAnswer_ = R"({"data":{"id":"sess 9","user":"u1"},"info":""})";
};

TEST_F(LogoffService, OnlineSessionIsEndedWithExactlyOneRequest) {
    RecordingLogoffView view;
    forceLogoff(" u1 ", view, parameters_);
    EXPECT_EQ(requests(), (std::vector<std::string>{"check u1", "logoff sess 9"}));
    EXPECT_EQ(view.events, (std::vector<std::string>{
                               "disable", "box:下线成功！请重新连接使用即可！", "enable"}));
}

TEST_F(LogoffService, NoSessionSendsNoLogoff) {
    checkAnswer_ = R"({"data":null,"info":"提示"})";
    RecordingLogoffView view;
    forceLogoff("u1", view, parameters_);
    EXPECT_EQ(requests(), (std::vector<std::string>{"check u1"}));
    EXPECT_EQ(view.events, (std::vector<std::string>{"disable", std::string("box:") + kNotOnline,
                                                     "box:提示", "enable"}));
}

TEST_F(LogoffService, UnreachableServiceShowsNothing) {
    parameters_.loginUrl = "http://127.0.0.1:" + std::to_string(testing::unusedPort()) + "/check";
    RecordingLogoffView view;
    forceLogoff("u1", view, parameters_);
    EXPECT_EQ(view.events, (std::vector<std::string>{"disable", "enable"}));
}

TEST_F(LogoffService, QuietReleaseEndsTheSessionToo) {
    releaseSessionQuietly("u1", parameters_);
    EXPECT_EQ(requests(), (std::vector<std::string>{"check u1", "logoff sess 9"}));
}

}  // namespace
}  // namespace veltrin::service
