#include <gtest/gtest.h>

#include "workflows/ConnectionMonitor.h"
#include "workflows/TimedChange.h"

namespace veltrin::workflows {
namespace {

TEST(OnlineTimeText, FollowsHoursMinutesSecondsWithTolerance) {
    double tenths = 0;
    for (int i = 0; i < 10; ++i) {
        tenths += 0.1;  // 0.9999999999999999
    }
    const std::pair<double, const char*> cases[] = {
        {0.5, "0.5秒"},
        {2, "2秒"},
        {59, "59秒"},
        {60, "1分0秒"},  // 30 checks of 2 s
        {61.5, "1分1.5秒"},
        {3599, "59分59秒"},
        {3600, "1小时0分0秒"},  // 1800 checks of 2 s
        {3725, "1小时2分5秒"},
        {60 - 5e-8, "0分59.99999995秒"},  // within the tolerance counts as a minute
        {tenths, "1秒"},
        {0, "0秒"},
    };
    for (const auto& [elapsed, text] : cases) {
        EXPECT_EQ(onlineTimeText(elapsed), text) << elapsed;
    }
}

TEST(DecimalText, ShortestFormWithoutTrailingPoint) {
    const std::pair<double, const char*> cases[] = {
        {60, "60"},       {0.5, "0.5"}, {0.1 + 0.2, "0.3"},
        {1e-4, "0.0001"}, {-0.0, "0"},  {123456.25, "123456.25"},
    };
    for (const auto& [value, text] : cases) {
        EXPECT_EQ(decimalText(value), text) << value;
    }
}

TEST(CheckWait, PeriodTextBecomesMillisecondsWithAFloor) {
    const std::pair<const char*, int> cases[] = {
        {"2", 2000},
        {"0.5", 500},
        {"0.0001", kMinimumCheckWaitMs},
        {"0", kMinimumCheckWaitMs},
        {"abc", kMinimumCheckWaitMs},
        {"", kMinimumCheckWaitMs},
        {"-3", kMinimumCheckWaitMs},
        {"nan", kMinimumCheckWaitMs},
        {"1.9999", 1999},
        {"3x", 3000},
    };
    for (const auto& [text, ms] : cases) {
        EXPECT_EQ(checkWaitMs(text), ms) << text;
    }
}

TEST(ChangeTimerPeriod, ShortIntervalsNeverGiveAZeroOrNegativePeriod) {
    const std::pair<const char*, int> cases[] = {{"60", 40000},  {"21", 1000},  {"20", 1000},
                                                 {"5", 1000},    {"abc", 1000}, {"45.9", 25000},
                                                 {" 30", 10000}, {"-40", 1000}};
    for (const auto& [text, ms] : cases) {
        EXPECT_EQ(changeTimerPeriodMs(text), ms) << text;
    }
}

}  // namespace
}  // namespace veltrin::workflows
