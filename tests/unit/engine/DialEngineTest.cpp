#include <gtest/gtest.h>

#include <future>

#include "FakeDialFacility.h"
#include "engine/DialEngine.h"
#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace veltrin::engine {
namespace {

using testing::FakeDialFacility;
using workflows::kStatusLine;
using workflows::MemoryView;

class DialEngineTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeDialFacility> facility = std::make_shared<FakeDialFacility>();
    DialEngine engine{facility, "/tmp/unused.pbk"};
    MemoryView view;

    void progress(int state, int error = 0) { facility->lastProgress(0, state, error); }
};

TEST(StageText, EveryListedStateHasItsTextAndFlagEffect) {
    using F = FlagEffect;
    const std::tuple<int, const char*, F> cases[] = {
        {0, "正在打开端口", F::kSet},
        {1, "端口打开", F::kSet},
        {2, "正在连接设备【5秒以上还显示这个的，请断开，换其它城市再连接使用！】", F::kSet},
        {3, "DeviceConnected", F::kNone},
        {4, "所有设备已连接上", F::kNone},
        {5, "开始认证", F::kSet},
        {6,
         "验证中，5秒以上还显示这个的，请断开，换用协议L2TP再连接使用！如果已用L2TP请换城市再连接"
         "！",
         F::kSet},
        {7, "认证测试", F::kNone},
        {8, "CallbackRequested", F::kNone},
        {9, "ChangePasswordRequested", F::kNone},
        {10, "ProjectionPhaseStarted", F::kNone},
        {11, "LinkSpeedCalculation", F::kNone},
        {12, "认证通过", F::kNone},
        {13, "ReauthenticationStarted", F::kNone},
        {14, "Authenticated", F::kNone},
        {15, "PreparationForCallback", F::kNone},
        {16, "WaitingForModemReset", F::kNone},
        {17, "WaitingForCallback", F::kNone},
        {18, "Projected", F::kNone},
        {19, "StartAuthentication", F::kNone},
        {20, "CallbackComplete", F::kNone},
        {21, "正在登录网络", F::kNone},
        {4096, "Interactive", F::kNone},
        {4097, "RetryAuthentication", F::kNone},
        {4098, "CallbackSetByCaller", F::kNone},
        {4099, "PasswordExpired", F::kNone},
        {8192, "连接成功", F::kClear},
        {8193, "断开连接", F::kNone},
        {22, "22", F::kNone},
        {4100, "4100", F::kNone},
        {-1, "-1", F::kNone},
    };
    for (const auto& [state, text, flag] : cases) {
        const auto s = stageText(state);
        EXPECT_EQ(s.text, text) << state;
        EXPECT_EQ(s.flag, flag) << state;
    }
}

TEST_F(DialEngineTest, ProvisionWritesEntryThenCredentials) {
    engine.provisionEntry("AbCdEfGh", "user1", "pw", "127.0.0.9", kL2tp);
    ASSERT_EQ(facility->entries.size(), 1u);
    const auto& e = facility->entries[0].entry;
    EXPECT_EQ(e.szLocalPhoneNumber, "127.0.0.9");
    EXPECT_EQ(e.dwVpnStrategy, 3u);
    EXPECT_EQ(e.dwfOptions, 0x3D0D0210u);
    EXPECT_EQ(e.dwfOptions2, 0x6Fu);
    EXPECT_EQ(e.szDeviceName, "WAN 微型端口 (L2TP)");
    ASSERT_EQ(facility->credentials.size(), 1u);
    EXPECT_EQ(facility->credentials[0].second, (Credentials{540, 0xB, "user1", "pw", ""}));
    EXPECT_EQ(facility->calls,
              (std::vector<std::string>{"entry AbCdEfGh", "credentials AbCdEfGh"}));
}

TEST_F(DialEngineTest, FailedEntryWriteStoresNoCredentials) {
    facility->entryResult = 621;
    engine.provisionEntry("AbCdEfGh", "user1", "pw", "127.0.0.9", kPptp);
    EXPECT_TRUE(facility->credentials.empty());
}

TEST_F(DialEngineTest, OversizeInputIsRefusedAndItsDialSaysWhy) {
    struct Case {
        const char* name;
        std::string user, password, address;
        bool refused;
    };
    const std::string c128(128, 'a'), c129(129, 'a'), c256(256, 'u'), c257(257, 'u');
    std::string chinese65;  // 65 characters, 130 bytes of local text
    for (int i = 0; i < 65; ++i) {
        chinese65 += "线";
    }
    const Case cases[] = {
        {"address_at_limit", "u", "p", c128, false},
        {"address_over", "u", "p", c129, true},
        {"address_over_in_local_bytes", "u", "p", chinese65, true},
        {"user_at_limit", c256, "p", "h", false},
        {"user_over", c257, "p", "h", true},
        {"password_at_limit", "u", c256, "h", false},
        {"password_over", "u", c257, "h", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        facility->entries.clear();
        facility->dials.clear();
        engine.provisionEntry("Name", c.user, c.password, c.address, kPptp);
        engine.dialEntry("Name", c.user, c.password, &view, kStatusLine);
        if (c.refused) {
            EXPECT_TRUE(facility->entries.empty());
            EXPECT_TRUE(facility->dials.empty());
            EXPECT_NE(view.text(kStatusLine).find("过长"), std::string::npos)
                << view.text(kStatusLine);
        } else {
            EXPECT_EQ(facility->entries.size(), 1u);
            EXPECT_EQ(facility->dials.size(), 1u);
        }
        view.setText(kStatusLine, "");
    }
}

TEST_F(DialEngineTest, DialParamsCarryAccountAndNoNumber) {
    engine.dialEntry("Name", "acc", "secret", &view, kStatusLine);
    ASSERT_EQ(facility->dials.size(), 1u);
    const auto& p = facility->dials[0];
    EXPECT_EQ(p.dwSize, 1052u);
    EXPECT_EQ(p.szEntryName, "Name");
    EXPECT_EQ(p.szUserName, "acc");
    EXPECT_EQ(p.szPassword, "secret");
    EXPECT_EQ(p.szPhoneNumber, "");
    EXPECT_EQ(p.szDomain, "");
}

TEST_F(DialEngineTest, DialRefusedAtOnceHangsUpAndWritesNothing) {
    view.setText(kStatusLine, "old text");
    facility->dialResult = 623;
    engine.dialEntry("Name", "u", "p", &view, kStatusLine);
    EXPECT_EQ(facility->hangUps, (std::vector<ConnectionHandle>{100}));
    EXPECT_EQ(view.text(kStatusLine), "old text");
}

TEST_F(DialEngineTest, ErrorTextsFitTheBufferOrLeaveHundredBlanks) {
    facility->errorTexts[691] = "refused";
    facility->errorTexts[720] = std::string(99, 'x');   // 99 bytes + zero: fits exactly
    facility->errorTexts[721] = std::string(100, 'y');  // one byte too many
    engine.dialEntry("Name", "u", "p", &view, kStatusLine);
    const std::pair<int, std::string> cases[] = {
        {691, "refused"},
        {720, std::string(99, 'x')},
        {721, std::string(100, ' ')},
        {999, std::string(100, ' ')},
    };
    for (const auto& [code, text] : cases) {
        progress(0, code);
        EXPECT_EQ(view.text(kStatusLine), text) << code;
    }
}

TEST_F(DialEngineTest, FlagIsSetByEarlyStagesAndClearedOnlyByConnected) {
    engine.dialEntry("Name", "u", "p", &view, kStatusLine);
    EXPECT_EQ(engine.dialInProgress(), 0);
    progress(0);
    EXPECT_EQ(engine.dialInProgress(), 1);
    progress(3);
    progress(14);
    progress(0, 691);  // an error leaves it as it is
    EXPECT_EQ(engine.dialInProgress(), 1);
    progress(8193);
    EXPECT_EQ(engine.dialInProgress(), 1);
    progress(8192);
    EXPECT_EQ(engine.dialInProgress(), 0);
    progress(6);
    EXPECT_EQ(engine.dialInProgress(), 1);
}

TEST_F(DialEngineTest, ASecondDialRedirectsTheReportsOfBoth) {
    MemoryView second;
    engine.dialEntry("First", "u", "p", &view, kStatusLine);
    auto firstProgress = facility->lastProgress;
    engine.dialEntry("Second", "u", "p", &second, "编辑框_状态");
    firstProgress(0, 5, 0);
    EXPECT_EQ(view.text(kStatusLine), "");
    EXPECT_EQ(second.text("编辑框_状态"), "开始认证");
}

TEST_F(DialEngineTest, ProbeMatchesNamesExactlyAndKeepsTheHandle) {
    facility->active = {{"abcdefgh", 7}, {"ABCDEFGH", 8}, {"Abcdefgh", 9}};
    EXPECT_EQ(engine.probeConnection("ABCDEFGH"), 1);
    EXPECT_EQ(engine.rasConnection(), 8u);
    EXPECT_EQ(engine.probeConnection("AbcdefgH"), 0);
    EXPECT_EQ(engine.probeConnection("abcdefg"), 0);
    EXPECT_EQ(engine.rasConnection(), 8u);
}

TEST_F(DialEngineTest, ProbeCountsUnreadableOrOverfullListAsNotConnected) {
    facility->active = {{"Name", 1}};
    facility->listFails = true;
    EXPECT_EQ(engine.probeConnection("Name"), 0);
    facility->listFails = false;
    for (ConnectionHandle h = 2; h <= 10; ++h) {
        facility->active.push_back({"other", h});
    }
    EXPECT_EQ(engine.probeConnection("Name"), 1);  // ten records fit
    facility->active.push_back({"eleventh", 11});
    EXPECT_EQ(engine.probeConnection("Name"), 0);
}

TEST_F(DialEngineTest, ProbeIsZeroWhileADialIsInProgress) {
    facility->active = {{"Name", 5}};
    engine.dialEntry("Name", "u", "p", &view, kStatusLine);
    progress(5);
    EXPECT_EQ(engine.probeConnection("Name"), 0);
    progress(8192);
    EXPECT_EQ(engine.probeConnection("Name"), 1);
    EXPECT_EQ(engine.rasConnection(), 5u);
}

TEST_F(DialEngineTest, HangUpActsOnTheCurrentConnection) {
    engine.dialEntry("Name", "u", "p", &view, kStatusLine);
    engine.hangUp();
    EXPECT_EQ(facility->hangUps, (std::vector<ConnectionHandle>{100}));
}

TEST_F(DialEngineTest, RemoveEntryHangsUpByNameThenRemoves) {
    engine.removeEntry("Name");
    // The second step may still be running on its own thread: wait for it boundedly.
    for (int i = 0; i < 1000 && facility->callsSnapshot().size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(facility->callsSnapshot(),
              (std::vector<std::string>{"rasphone -h Name", "rasphone -r Name"}));
}

TEST_F(DialEngineTest, RemoveEntryDoesNotHangOnAStuckStep) {
    facility->blockRemoval = true;
    auto done = std::async(std::launch::async, [&] { engine.removeEntry("Name"); });
    EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    facility->release();
}

}  // namespace
}  // namespace veltrin::engine
