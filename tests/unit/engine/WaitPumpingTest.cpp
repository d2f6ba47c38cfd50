#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <thread>

#include "engine/TimeScale.h"
#include "engine/Wait.h"

namespace veltrin::engine {
namespace {

TEST(TimeScale, ParsesOnlyPositiveFiniteNumbers) {
    const std::pair<const char*, double> cases[] = {
        {nullptr, 1.0}, {"", 1.0},    {"0.05", 0.05}, {"2", 2.0},   {"0", 1.0},
        {"-1", 1.0},    {"abc", 1.0}, {"0.5x", 1.0},  {"inf", 1.0}, {"nan", 1.0},
    };
    for (const auto& [text, value] : cases) {
        EXPECT_DOUBLE_EQ(parseTimeScale(text), value) << (text ? text : "null");
    }
}

class WaitPumpingTest : public ::testing::Test {
protected:
    void SetUp() override { setTimeScale(1.0); }
    void TearDown() override { setTimeScale(parseTimeScale(std::getenv("VELTRIN_TIME_SCALE"))); }
};

TEST_F(WaitPumpingTest, UiThreadKeepsHandlingEventsWhileWaiting) {
    int argc = 1;
    char name[] = "test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    bool waiting = false;
    int handledDuringWait = 0;
    QTimer::singleShot(20, [&] { handledDuringWait += waiting ? 1 : 0; });
    QTimer::singleShot(60, [&] { handledDuringWait += waiting ? 1 : 0; });
    QMetaObject::invokeMethod(
        &app, [&] { handledDuringWait += waiting ? 1 : 0; }, Qt::QueuedConnection);

    const auto start = std::chrono::steady_clock::now();
    waiting = true;
    WaitPumping(200);
    waiting = false;
    EXPECT_EQ(handledDuringWait, 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(199));
}

TEST_F(WaitPumpingTest, WorkerThreadSleepsForTheScaledTime) {
    setTimeScale(0.5);
    std::chrono::steady_clock::duration waited{};
    std::thread worker([&] {
        const auto start = std::chrono::steady_clock::now();
        WaitPumping(200);
        waited = std::chrono::steady_clock::now() - start;
    });
    worker.join();
    EXPECT_GE(waited, std::chrono::milliseconds(100));
}

TEST(Scaled, MultipliesAndNeverGoesNegative) {
    setTimeScale(0.05);
    EXPECT_EQ(scaled(std::chrono::milliseconds(1000)), std::chrono::microseconds(50000));
    EXPECT_EQ(scaled(std::chrono::milliseconds(-5)), std::chrono::microseconds(0));
    setTimeScale(1.0);
    EXPECT_EQ(scaled(std::chrono::milliseconds(20)), std::chrono::microseconds(20000));
}

}  // namespace
}  // namespace veltrin::engine
