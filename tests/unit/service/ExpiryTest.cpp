#include <gtest/gtest.h>

#include <mutex>

#include "LoopbackServers.h"
#include "service/Expiry.h"

namespace veltrin::service {
namespace {

namespace colour = expiry_colour;

TEST(ExpiryText, WrittenWithoutLeadingZerosOrSeconds) {
    const std::pair<std::int64_t, std::string> cases[] = {
        {0, "1970年1月1日8时0分"},
        {1562555700, "2019年7月8日11时15分"},
        {1564588800, "2019年8月1日0时0分"},
        {1709172300 + 59, "2024年2月29日10时5分"},
        {INT64_MAX, "9999年12月31日23时59分"},
    };
    for (const auto& [end, text] : cases) {
        EXPECT_EQ(expiryText(end), text) << end;
    }
}

// End times below count from 1970-01-01 08:00, as the service writes them.
constexpr std::int64_t kNow = 1700000000;

std::string answerEndingIn(std::int64_t seconds) {
    return R"({"info":"","end_time":)" + std::to_string(kNow + seconds) + R"(,"user":"u1"})";
}

std::string expiryIn(std::int64_t seconds) {
    return expiryText(kNow + seconds);
}

std::string lastCaption(const ExpiryPlan& plan) {
    std::string caption;
    for (const auto& s : plan.steps) {
        if (s.caption) {
            caption = *s.caption;
        }
    }
    return caption;
}

// Rounds of the colour on light grey with a wait, each followed by black on pink.
int blinkRounds(const ExpiryPlan& plan, Rgb c) {
    int rounds = 0;
    for (std::size_t i = 0; i + 1 < plan.steps.size(); ++i) {
        const auto& on = plan.steps[i];
        const auto& off = plan.steps[i + 1];
        if (on.labelText == c && on.labelBackground == colour::kLightGrey && on.waitMs > 0 &&
            off.labelText == colour::kBlack && off.labelBackground == colour::kPink &&
            off.waitMs == on.waitMs) {
            ++rounds;
        }
    }
    return rounds;
}

struct PlanCase {
    const char* name;
    std::string answer;
    std::optional<std::int64_t> now;
    std::string caption;
    bool expiredBox;
    Rgb blink;
    int rounds;
    std::optional<Rgb> finalText;
    std::optional<Rgb> finalBackground;
};

void PrintTo(const PlanCase& c, std::ostream* os) {
    *os << c.name;
}

class ExpiryDisplay : public ::testing::TestWithParam<PlanCase> {};

TEST_P(ExpiryDisplay, CaptionBoxAndColours) {
    const auto& c = GetParam();
    const ExpiryPlan plan = expiryPlan(c.answer, c.now);
    EXPECT_EQ(lastCaption(plan), c.caption);
    EXPECT_EQ(plan.message.has_value(), c.expiredBox);
    if (plan.message) {
        EXPECT_EQ(*plan.message, (PlainMessage{"到期提示：", "用户名过期了！"}));
    }
    EXPECT_EQ(blinkRounds(plan, c.blink), c.rounds);
    std::optional<Rgb> text, background;
    for (const auto& s : plan.steps) {
        if (s.labelText) {
            text = s.labelText;
            background = s.labelBackground;
        }
    }
    EXPECT_EQ(text, c.finalText);
    EXPECT_EQ(background, c.finalBackground);
}

constexpr std::int64_t kMinute = 60, kHour = 3600, kDay = 86400;

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpiryDisplay,
    ::testing::Values(
        PlanCase{"three_days_five_hours_twenty_minutes",
                 answerEndingIn(3 * kDay + 5 * kHour + 20 * kMinute), kNow,
                 expiryIn(3 * kDay + 5 * kHour + 20 * kMinute) + " 剩余:3天5时20分", false,
                 colour::kBlue, 0, colour::kBlue, colour::kLightGrey},
        PlanCase{"exactly_two_days", answerEndingIn(2 * kDay), kNow,
                 expiryIn(2 * kDay) + " 剩余:2天0时0分", false, colour::kBlue, 0, colour::kBlue,
                 colour::kLightGrey},
        PlanCase{"thirty_hours", answerEndingIn(30 * kHour), kNow,
                 expiryIn(30 * kHour) + " 剩余:1天6时0分", false, colour::kGreen, 2, colour::kBlack,
                 colour::kPink},
        PlanCase{"five_hours_ten_minutes", answerEndingIn(5 * kHour + 10 * kMinute), kNow,
                 expiryIn(5 * kHour + 10 * kMinute) + " 共:5小时", false, colour::kPurple, 2,
                 colour::kBlack, colour::kPink},
        PlanCase{"forty_minutes", answerEndingIn(40 * kMinute), kNow,
                 expiryIn(40 * kMinute) + " 共:40分钟", false, colour::kRed, 3, colour::kBlack,
                 colour::kPink},
        PlanCase{"two_minutes_past", answerEndingIn(-2 * kMinute), kNow,
                 expiryIn(-2 * kMinute) + " 共:-1分钟", true, colour::kRed, 3, colour::kBlack,
                 colour::kPink},
        PlanCase{"days_past_keeps_colours", answerEndingIn(-(2 * kDay + 3 * kHour + 30 * kMinute)),
                 kNow, expiryIn(-(2 * kDay + 3 * kHour + 30 * kMinute)) + " 剩余:-2天-3时-29分",
                 true, colour::kBlue, 0, std::nullopt, std::nullopt},
        PlanCase{"no_network_time", answerEndingIn(40 * kMinute), std::nullopt,
                 expiryIn(40 * kMinute), false, colour::kRed, 0, colour::kBlue, colour::kLightGrey},
        PlanCase{"refused", R"({"info":"密码错误","end_time":1})", kNow,
                 "错误,填错用户名或密码,或已过期!", false, colour::kBlue, 2, colour::kBlack,
                 colour::kPink},
        PlanCase{"blank_answer", " \r\n", kNow, "查询失败，请检查网络是否正常，或稍后再试", false,
                 colour::kBlue, 0, std::nullopt, std::nullopt},
        PlanCase{"no_end_time", R"({"info":"","user":"u1"})", kNow, "暂无法查询，请稍后再试！",
                 false, colour::kBlue, 0, std::nullopt, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExpiryDisplay, BlinkWaitsAndNoteCaptions) {
    const ExpiryPlan refused = expiryPlan(R"({"info":"x"})", kNow);
    ASSERT_EQ(refused.steps.size(), 4u);
    for (const auto& s : refused.steps) {
        EXPECT_EQ(s.waitMs, 250);
        EXPECT_EQ(s.noteCaption, "点击查询账户到期时间：");
    }
    EXPECT_EQ(refused.steps[0].noteText, colour::kBlack);

    const ExpiryPlan red = expiryPlan(answerEndingIn(40 * kMinute), kNow);
    for (const auto& s : red.steps) {
        if (s.labelText) {
            EXPECT_EQ(s.waitMs, 1000);
            EXPECT_EQ(s.noteText, s.labelText);
            EXPECT_EQ(s.noteCaption, "剩余时间不足1小时，请及时续费!");
        }
    }
}

TEST(ExpiryQueryRequest, RemoteOrBuiltInWithItsTimeout) {
    RemoteParameters p;
    EXPECT_EQ(expiryQueryRequest(" u1 ", " pw ", p, "http://127.0.0.1:9/e?user=", "&passwd="),
              (FetchRequest{"http://127.0.0.1:9/e?user=u1&passwd=pw", 3}));
    p.expiryUrlBeforeUser = "http://127.0.0.1:9/x?u=";
    p.expiryUrlBeforePassword = "&p=";
    EXPECT_EQ(expiryQueryRequest("u1", "a&b #", p, "unused", "unused"),
              (FetchRequest{"http://127.0.0.1:9/x?u=u1&p=a%26b%20%23", 2}));
}

TEST(TimeSources, ServiceFirstThenRemoteOrPublic) {
    RemoteParameters p;
    EXPECT_EQ(timeSources(p, "S", "P"),
              (std::vector<TimeSource>{{"S", "data:", "."}, {"P", "var time = '", "';"}}));
    p.timeSourceUrl = "R";
    p.timeSourceBefore = "<t>";
    p.timeSourceAfter = "</t>";
    EXPECT_EQ(timeSources(p, "S", "P"),
              (std::vector<TimeSource>{{"S", "data:", "."}, {"R", "<t>", "</t>"}}));
}

TEST(NetworkTimeFromPage, MillisecondsToWholeSeconds) {
    const TimeSource service{"", "data:", "."};
    EXPECT_EQ(networkTimeFromPage("{data:1700000000999.}", service), 1700000000);
    EXPECT_EQ(networkTimeFromPage("   ", service), std::nullopt);
    EXPECT_EQ(networkTimeFromPage("data:soon.", service), std::nullopt);
    EXPECT_EQ(networkTimeFromPage("no markers", service), std::nullopt);
    const TimeSource page{"", "var time = '", "';"};
    EXPECT_EQ(networkTimeFromPage("var time = '1700000000123';", page), 1700000000);
}

class RecordingExpiryView final : public ExpiryView {
public:
    void showPlainMessage(const PlainMessage& m) override {
        events.push_back("box:" + m.title + "|" + m.text);
    }
    void setExpiryCaption(const std::string& c) override { events.push_back("caption:" + c); }
    void setExpiryColours(Rgb, Rgb) override {}
    void setNoteColour(Rgb) override {}
    void setNoteCaption(const std::string&) override {}
    void wait(int ms) override { waited += ms; }
    std::vector<std::string> events;
    int waited = 0;
};

// The expiry service and time pages; each time page can be switched off.
class ExpiryService : public ::testing::Test {
protected:
    void SetUp() override {
        http_.server().Get("/expiry", [this](const httplib::Request& req, httplib::Response& res) {
            record("expiry " + req.get_param_value("user") + " " + req.get_param_value("pass"));
            res.set_content(R"({"info":"","end_time":)" + std::to_string(end_) + R"(,"x":"y"})",
                            "application/json");
        });
        http_.server().Get(
            "/service-time", [this](const httplib::Request&, httplib::Response& res) {
                record("service-time");
                res.set_content(serviceTimeUp_ ? "{data:" + std::to_string(kNow * 1000) + ".}" : "",
                                "text/plain");
            });
        http_.server().Get("/remote-time", [this](const httplib::Request&, httplib::Response& res) {
            record("remote-time");
            res.set_content("<t>" + std::to_string(kNow * 1000 + 500) + "</t>", "text/plain");
        });
        http_.start();
        parameters_.expiryUrlBeforeUser = http_.url("/expiry?user=");
        parameters_.expiryUrlBeforePassword = "&pass=";
        parameters_.timeSourceUrl = http_.url("/remote-time");
        parameters_.timeSourceBefore = "<t>";
        parameters_.timeSourceAfter = "</t>";
        addresses_ = {"unused", "unused", http_.url("/service-time"), "unused"};
    }

    void record(std::string r) {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(r));
    }
    std::vector<std::string> requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

    testing::HttpServer http_;
    RemoteParameters parameters_;
    ExpiryAddresses addresses_;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::int64_t end_ = kNow + 3 * kDay + 5 * kHour + 20 * kMinute;
    bool serviceTimeUp_ = true;
};

TEST_F(ExpiryService, ServiceTimeAnswersSoTheOtherPageIsNotAsked) {
    RecordingExpiryView view;
    queryExpiry(" u1 ", "p w", view, parameters_, addresses_);
    EXPECT_EQ(requests(), (std::vector<std::string>{"expiry u1 p w", "service-time"}));
    EXPECT_EQ(view.events,
              (std::vector<std::string>{"caption:查询中...",
                                        "caption:" + expiryText(end_) + " 剩余:3天5时20分"}));
}

TEST_F(ExpiryService, SilentServiceTimeFallsBackToTheRemotePage) {
    serviceTimeUp_ = false;
    end_ = kNow - 2 * kMinute;
    RecordingExpiryView view;
    queryExpiry("u1", "pw", view, parameters_, addresses_);
    EXPECT_EQ(requests(),
              (std::vector<std::string>{"expiry u1 pw", "service-time", "remote-time"}));
    EXPECT_EQ(view.events,
              (std::vector<std::string>{"caption:查询中...", "box:到期提示：|用户名过期了！",
                                        "caption:" + expiryText(end_) + " 共:-1分钟"}));
    EXPECT_EQ(view.waited, 6000);
}

TEST_F(ExpiryService, EmptyInputsAskForThemAndTouchNoLabel) {
    RecordingExpiryView view;
    queryExpiry("u1", "", view, parameters_, addresses_);
    EXPECT_TRUE(requests().empty());
    EXPECT_EQ(view.events,
              (std::vector<std::string>{"box:【用户名和密码】未填写提示！|请先在左边填好已开通的"
                                        "【用户名和密码】，再查询剩余时间！"}));
}

}  // namespace
}  // namespace veltrin::service
