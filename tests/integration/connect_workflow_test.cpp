// The connect and disconnect commands with an in-memory window against a real lab.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/DialEngine.h"
#include "engine/LabDialFacility.h"
#include "engine/TimeScale.h"
#include "platform/Sound.h"
#include "support/LabProcess.h"
#include "workflows/ConnectCommand.h"
#include "workflows/ConnectionMonitor.h"
#include "workflows/Controls.h"
#include "workflows/DisconnectCommands.h"
#include "workflows/ListCycle.h"
#include "workflows/MemoryView.h"
#include "workflows/OneShotTimers.h"
#include "workflows/StatusChannel.h"
#include "workflows/TimedChange.h"
#include "workflows/VerifyIp.h"
#include "workflows/Workers.h"

namespace veltrin::workflows {
namespace {

namespace fs = std::filesystem;
namespace c = control;
using nlohmann::json;
using testing::LabProcess;

json labConfig() {
    json line = {{"name", "上海电信1"},
                 {"accounts", json::array({{{"user", "alice"}, {"password", "s3cret"}}})},
                 {"stage_delay_ms", 20},
                 {"pool", json::array({"58.34.10.1", "58.34.10.2"})}};
    json other = line;
    other["name"] = "北京联通2";
    other["pool"] = json::array({"123.112.5.20"});
    return {{"lines", json::array({line, other})}};
}

class ConnectWorkflow : public ::testing::Test {
protected:
    void SetUp() override {
        engine::setTimeScale(0.02);
        dir = fs::temp_directory_path() /
              ("veltrin-connect-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        engine = std::make_unique<engine::DialEngine>(
            std::make_shared<engine::LabDialFacility>(
                engine::LabFacilityOptions{dir, std::chrono::seconds(5)}),
            dir / "pptp.pbk");
        view.setText(c::编辑框_用户名, "alice");
        view.setText(c::编辑框_密码, "s3cret");
        view.setText(c::标签_用户过期时间查询, "已查询");
        view.setTicked(c::单选框_PPTP, true);
        view.setVisible(c::超级列表框_线路超级列表2, false);
        context = std::make_unique<MainContext>(MainContext{view, state, *engine, {}});
        context->actions.accountCheck = [this](const std::string& user) {
            ++accountChecks;
            checkedUser = user;
            return accountAnswer;
        };
        context->actions.connectionMonitor = [this] { ++monitors; };
        context->actions.verifyNewIp = [this] { ++verifications; };
        context->actions.startTimedChange = [this] { ++timedChanges; };
        context->actions.queryExpiry = [this] { ++expiryQueries; };
        context->actions.hideToTray = [this] { ++trayHides; };
        context->actions.stopChangeTimers = [this] { ++timerStops; };
    }
    void TearDown() override {
        waitForWorkers(std::chrono::seconds(20));
        engine.reset();
        fs::remove_all(dir);
    }

    void useLine(LabProcess& lab, const std::string& name) {
        state.serverAddress.set(lab.address(name));
        state.lineName.set(name);
    }

    // Presses disconnect (as a nested UI handler would) once the status shows the text.
    std::thread disconnectWhen(std::function<bool(const std::string&)> pred) {
        return std::thread([this, pred] {
            view.waitForText(kStatusLine, pred, std::chrono::seconds(20));
            disconnectCommand(*context);
        });
    }

    fs::path dir;
    std::unique_ptr<engine::DialEngine> engine;
    MemoryView view;
    ConnectionState state;
    std::unique_ptr<MainContext> context;
    std::string accountAnswer;
    std::string checkedUser;
    std::atomic<int> accountChecks{0}, monitors{0}, verifications{0}, timedChanges{0},
        expiryQueries{0}, trayHides{0}, timerStops{0};
};

TEST_F(ConnectWorkflow, EachProtocolConnectsAndThePlainDisconnectReleasesTheLine) {
    LabProcess lab(labConfig());
    const std::tuple<std::string_view, std::string, int> cases[] = {
        {c::单选框_PPTP, "pptp", engine::kPptp},
        {c::单选框_L2TP, "l2tp", engine::kL2tp},
        {c::单选框_SSTP, "sstp", engine::kSstp}};
    view.setRows(c::超级列表框_线路超级列表1, {{"上海电信1", "", "正常", lab.address("上海电信1"),
                                                "", "", lab.address("上海电信1") + ":4430", ""}});
    view.select(c::超级列表框_线路超级列表1, 0);
    useLine(lab, "上海电信1");
    view.setTicked(c::选择框_记录每次连接ip, true);
    for (const auto& [radio, protocol, code] : cases) {
        SCOPED_TRACE(protocol);
        for (auto r : {c::单选框_PPTP, c::单选框_L2TP, c::单选框_SSTP}) {
            view.setTicked(r, false);
        }
        view.setTicked(radio, true);
        const int monitorsBefore = monitors;
        connectCommand(*context);
        EXPECT_EQ(view.text(kStatusLine), "连接成功");
        EXPECT_EQ(state.protocolCode, code);
        EXPECT_FALSE(view.isEnabled(c::按钮_连接));
        EXPECT_FALSE(view.isEnabled(c::编辑框_用户名));
        auto sessions = lab.sessions();
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0]["protocol"], protocol);
        ASSERT_TRUE(LabProcess::waitFor([&] { return monitors == monitorsBefore + 1; }));

        disconnectCommand(*context);
        ASSERT_TRUE(view.waitForText(
            kStatusLine, [](auto& t) { return t == status::kManualStop; },
            std::chrono::seconds(20)));
        EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
        EXPECT_TRUE(view.isEnabled(c::按钮_连接));
        EXPECT_TRUE(view.isEnabled(c::超级列表框_线路超级列表1));
        EXPECT_EQ(state.stopRequested, 1);
    }
    EXPECT_EQ(accountChecks, 1);  // once per run
    EXPECT_EQ(verifications, 3);
    EXPECT_EQ(checkedUser, "alice");
}

TEST_F(ConnectWorkflow, InputChecksStopBeforeAnythingIsLocked) {
    struct Case {
        const char* name;
        std::function<void(MainContext&)> arrange;
        std::string_view message;
    };
    const Case cases[] = {
        {"hunt_without_value",
         [](MainContext& x) {
             x.view.setTicked(c::选择框_找回指定ip, true);
             x.view.setText(c::编辑框_找回指定ip, "   ");
         },
         connect_text::kHuntEmpty},
        {"no_server", [](MainContext& x) { x.state.serverAddress.set(""); },
         connect_text::kNoServer},
        {"no_user", [](MainContext& x) { x.view.setText(c::编辑框_用户名, ""); },
         connect_text::kNoUser},
        {"no_password", [](MainContext& x) { x.view.setText(c::编辑框_密码, ""); },
         connect_text::kNoPassword},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        MemoryView fresh;
        fresh.setText(c::编辑框_用户名, "alice");
        fresh.setText(c::编辑框_密码, "s3cret");
        ConnectionState s;
        s.serverAddress.set("127.0.0.2");
        s.stopRequested = 1;
        MainContext x{fresh, s, *engine, context->actions};
        cs.arrange(x);
        connectCommand(x);
        ASSERT_EQ(fresh.messages().size(), 1u);
        EXPECT_EQ(fresh.messages()[0].text, cs.message);
        EXPECT_EQ(fresh.messages()[0].style, 0);
        EXPECT_EQ(fresh.messages()[0].title, "特别提示");
        EXPECT_TRUE(fresh.isEnabled(c::按钮_连接));
        EXPECT_EQ(s.stopRequested, 0);  // cleared before any check
    }
    EXPECT_EQ(accountChecks, 0);
}

TEST_F(ConnectWorkflow, RefusedAccountShowsTheServiceInfoAndStaysUnverified) {
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"refused", R"({"data":null,"info":"账户已过期"})", false},
        {"timeout_info_passes", R"({"data":null,"info":"请求超时"})", true},
        {"empty_answer_passes", "", true},
        {"blank_info_passes", R"({"data":null,"info":"  "})", true},
    };
    for (const auto& [name, answer, passes] : cases) {
        SCOPED_TRACE(name);
        MemoryView fresh;
        fresh.setText(c::编辑框_用户名, " alice ");
        fresh.setText(c::编辑框_密码, "s3cret");
        fresh.setTicked(c::选择框_服务器列表拨号, true);  // hands over instead of dialling
        ConnectionState s;
        MainContext x{fresh, s, *engine, context->actions};
        accountAnswer = answer;
        connectCommand(x);
        EXPECT_EQ(s.accountVerified, passes ? 1 : 0);
        if (passes) {
            EXPECT_TRUE(fresh.messages().empty());
        } else {
            ASSERT_EQ(fresh.messages().size(), 1u);
            EXPECT_EQ(fresh.messages()[0].text,
                      "账户已过期账户过期或填错！请先自助或联系客服开通账户再使用！");
            EXPECT_EQ(fresh.messages()[0].style, 0x40);
            EXPECT_EQ(fresh.messages()[0].title, "友情提醒");
        }
        EXPECT_EQ(checkedUser, "alice");
    }
}

TEST_F(ConnectWorkflow, ListCyclingHandsOverWithoutDialling) {
    LabProcess lab(labConfig());
    view.setTicked(c::选择框_服务器列表拨号, true);
    state.serverAddress.set("");
    connectCommand(*context);
    EXPECT_TRUE(LabProcess::waitFor([&] { return timedChanges == 1; }));
    EXPECT_TRUE(lab.dials().empty());
    EXPECT_FALSE(view.isEnabled(c::按钮_连接));
}

TEST_F(ConnectWorkflow, MixRowDrawsAPoolServerAndNoSelectionDialsTheSavedAddress) {
    LabProcess lab(labConfig());
    const auto pool = lab.address("北京联通2");
    view.setRows(c::超级列表框_线路超级列表1, {{"北京-混拨", "", "", "", "", "", "", "1"}});
    view.setRows(c::超级列表框_线路超级列表3,
                 {{"北京联通2", "", "", pool, "", "", pool + ":4430", ""},
                  {"北京联通2", "", "", pool, "", "", pool + ":4430", ""}});
    view.select(c::超级列表框_线路超级列表1, 0);
    view.setTicked(c::单选框_PPTP, false);
    view.setTicked(c::单选框_SSTP, true);
    useLine(lab, "上海电信1");
    connectCommand(*context);
    ASSERT_EQ(view.text(kStatusLine), "连接成功");
    EXPECT_EQ(state.serverAddress.get(), pool + ":4430");
    EXPECT_GE(state.selectedRow, 0);
    EXPECT_LT(state.selectedRow, 2);
    EXPECT_EQ(lab.sessions()[0]["line"], "北京联通2");
    plainDisconnect(*context);

    view.select(c::超级列表框_线路超级列表1, -1);
    view.setTicked(c::单选框_SSTP, false);
    view.setTicked(c::单选框_L2TP, true);
    useLine(lab, "上海电信1");
    connectCommand(*context);
    ASSERT_EQ(view.text(kStatusLine), "连接成功");
    EXPECT_EQ(lab.sessions()[0]["line"], "上海电信1");
}

TEST_F(ConnectWorkflow, FailedDialWaitsUntilTheUserDisconnects) {
    LabProcess lab(labConfig());
    useLine(lab, "上海电信1");
    view.setText(c::编辑框_密码, "wrong");
    auto presser =
        disconnectWhen([](const std::string& t) { return t == *engine::labErrorText(691); });
    connectCommand(*context);  // returns only because of the disconnect
    presser.join();
    ASSERT_TRUE(view.waitForText(
        kStatusLine, [](auto& t) { return t == status::kManualStop; }, std::chrono::seconds(20)));
    EXPECT_EQ(monitors, 0);
    EXPECT_TRUE(lab.sessions().empty());
}

TEST_F(ConnectWorkflow, DialThatNeverStartsShowsTheDialErrorText) {
    LabProcess lab(labConfig());
    // A phone-book that cannot be written: the dial is refused before it starts and says nothing.
    engine::DialEngine broken(
        std::make_shared<engine::LabDialFacility>(engine::LabFacilityOptions{dir}),
        dir / "no-such-dir" / "pptp.pbk");
    MainContext x{view, state, broken, context->actions};
    useLine(lab, "上海电信1");
    view.setText(kStatusLine, std::string(status::kRepairDone));
    std::thread presser([&] {
        view.waitForText(
            kStatusLine, [](auto& t) { return t == status::kDialError; }, std::chrono::seconds(20));
        disconnectCommand(x);
    });
    connectCommand(x);
    presser.join();
    const auto history = view.history(kStatusLine);
    ASSERT_GE(history.size(), 2u);
    EXPECT_EQ(history[1], status::kDialError);
    EXPECT_TRUE(lab.dials().empty());
    waitForWorkers(std::chrono::seconds(20));
}

TEST_F(ConnectWorkflow, OverlongServerAddressIsRefusedVisibly) {
    LabProcess lab(labConfig());
    state.serverAddress.set(lab.address("上海电信1") + std::string(200, '9'));
    auto presser =
        disconnectWhen([](const std::string& t) { return t.find("过长") != std::string::npos; });
    connectCommand(*context);
    presser.join();
    EXPECT_TRUE(lab.dials().empty());
}

TEST_F(ConnectWorkflow, CountdownDisconnectCountsDownOnTheConnectButton) {
    LabProcess lab(labConfig());
    useLine(lab, "上海电信1");
    view.setTicked(c::选择框_定时连断, true);
    connectCommand(*context);
    ASSERT_EQ(view.text(kStatusLine), "连接成功【上海电信1】，定时自动换IP进行中...");
    ASSERT_TRUE(LabProcess::waitFor([&] { return timedChanges == 1; }));
    EXPECT_EQ(monitors, 0);

    disconnectCommand(*context);
    EXPECT_EQ(timerStops, 1);
    ASSERT_TRUE(view.waitForText(
        kStatusLine, [](auto& t) { return t == status::kManualStop; }, std::chrono::seconds(20)));
    ASSERT_TRUE(LabProcess::waitFor([&] { return view.text(c::按钮_连接) == "启动连接"; }));
    std::vector<std::string> captions;
    for (const auto& t : view.history(c::按钮_连接)) {
        captions.push_back(t);
    }
    EXPECT_EQ(captions,
              (std::vector<std::string>{"等待8秒", "等待7秒", "等待6秒", "等待5秒", "等待4秒",
                                        "等待3秒", "等待2秒", "等待1秒", "等待0秒", "启动连接"}));
    EXPECT_TRUE(view.isEnabled(c::按钮_连接));
    EXPECT_TRUE(lab.sessions().empty());
}

TEST_F(ConnectWorkflow, HotKeyReconnectDropsAndDialsAgain) {
    LabProcess lab(labConfig());
    useLine(lab, "上海电信1");
    connectCommand(*context);
    ASSERT_EQ(view.text(kStatusLine), "连接成功");
    const auto firstSession = lab.sessions()[0]["id"];
    hotKeyReconnect(*context);
    EXPECT_EQ(view.text(kStatusLine), "连接成功");
    const auto sessions = lab.sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_NE(sessions[0]["id"], firstSession);
    const auto texts = view.history(kStatusLine);
    EXPECT_NE(
        std::find(texts.begin(), texts.end(), std::string(disconnect_text::kHotKeyReconnecting)),
        texts.end());
    plainDisconnect(*context);
}

TEST_F(ConnectWorkflow, RepairAndDropTest) {
    LabProcess lab(labConfig());
    useLine(lab, "上海电信1");
    autoRepair(*context);
    EXPECT_EQ(view.history(kStatusLine),
              (std::vector<std::string>{"正在自动修复中...", "自动修复故障已完成，请连接使用！"}));
    connectCommand(*context);
    ASSERT_EQ(view.text(kStatusLine), "连接成功");
    dropTest(*context);
    EXPECT_EQ(view.text(kStatusLine), disconnect_text::kDropTestDone);
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
    EXPECT_EQ(state.stopRequested, 0);  // the drop test stops nothing
}

class MonitorWorkflow : public ConnectWorkflow {
protected:
    void SetUp() override {
        ConnectWorkflow::SetUp();
        view.setText(c::编辑框_监控时间秒, "2");
        context->actions.connectionMonitor = [this] {
            ++monitors;
            connectionMonitor(*context);
        };
        context->actions.disableLocalNetwork = [this] { ++networkCuts; };
        context->actions.playAlarmLoop = [this] { ++alarms; };
        context->actions.releaseSessionQuietly = [this] { ++releases; };
    }
    void TearDown() override {
        state.stopRequested = 1;
        ConnectWorkflow::TearDown();
    }
    // The monitor may already have replaced the dial's last text.
    bool showedConnected() {
        const auto h = view.history(kStatusLine);
        return std::find(h.begin(), h.end(), "连接成功") != h.end();
    }
    std::atomic<int> networkCuts{0}, alarms{0}, releases{0};
};

TEST_F(MonitorWorkflow, WatchShowsOnlineTimeUntilStopped) {
    LabProcess lab(labConfig());
    useLine(lab, "上海电信1");
    connectCommand(*context);
    ASSERT_TRUE(view.waitForText(
        c::编辑框_监控计次, [](auto& t) { return t == "6"; }, std::chrono::seconds(20)));
    EXPECT_TRUE(view.waitForText(
        kStatusLine,
        [](auto& t) {
            return t.starts_with("已连接成功！IP已切换成功。每2秒自动检测一次，已在线时长：") &&
                   t.ends_with("秒！已连城市名称：上海电信1");
        },
        std::chrono::seconds(5)));
    disconnectCommand(*context);
    EXPECT_TRUE(waitForWorkers(std::chrono::seconds(20)));
    EXPECT_EQ(view.text(kStatusLine), status::kManualStop);
}

TEST_F(MonitorWorkflow, DropWithoutRedialReactsAsTheOptionsSay) {
    const std::tuple<const char*, bool, bool, std::string_view, int, int> cases[] = {
        {"back_to_local", false, false, monitor_text::kDroppedLocal, 0, 0},
        {"network_cut_and_alarm", true, true, monitor_text::kDroppedNetworkCut, 1, 1},
    };
    LabProcess lab(labConfig());
    for (const auto& [name, cut, alarm, text, cuts, alarmsPlayed] : cases) {
        SCOPED_TRACE(name);
        networkCuts = 0;
        alarms = 0;
        useLine(lab, "上海电信1");
        view.setTicked(c::选择框_掉线重拨, false);
        view.setTicked(c::选择框_是否断网, cut);
        view.setTicked(c::选择框_掉线音效, alarm);
        connectCommand(*context);
        ASSERT_TRUE(showedConnected());
        ASSERT_TRUE(view.waitForText(
            c::编辑框_监控计次, [](auto& t) { return !t.empty(); }, std::chrono::seconds(5)));
        lab.drop("上海电信1");
        ASSERT_TRUE(view.waitForText(
            kStatusLine, [&](auto& t) { return t == text; }, std::chrono::seconds(20)));
        ASSERT_TRUE(waitForWorkers(std::chrono::seconds(20)));
        EXPECT_EQ(networkCuts, cuts);
        EXPECT_EQ(alarms, alarmsPlayed);
        EXPECT_TRUE(view.isEnabled(c::按钮_连接));
        EXPECT_TRUE(view.isEnabled(c::编辑框_用户名));
        view.setText(c::编辑框_监控计次, "");
    }
}

TEST_F(MonitorWorkflow, DropWithAlarmKeepsTheTunePlayingUntilDisconnect) {
    LabProcess lab(labConfig());
    std::atomic<long> frames{0};
    platform::FluidSynthAlarmPlayer player(platform::FluidSynthAlarmOptions{
        platform::kTimGm6mbSoundFont,
        [&](std::span<const std::int16_t> s) { frames += static_cast<long>(s.size() / 2); }});
    context->actions.playAlarmLoop = [&] { player.playLoop(); };
    context->actions.stopSound = [&] { player.stop(); };
    useLine(lab, "上海电信1");
    view.setTicked(c::选择框_掉线重拨, false);
    view.setTicked(c::选择框_是否断网, true);
    view.setTicked(c::选择框_掉线音效, true);
    connectCommand(*context);
    ASSERT_TRUE(view.waitForText(
        c::编辑框_监控计次, [](auto& t) { return !t.empty(); }, std::chrono::seconds(5)));
    lab.drop("上海电信1");
    ASSERT_TRUE(view.waitForText(
        kStatusLine, [](auto& t) { return t == monitor_text::kDroppedNetworkCut; },
        std::chrono::seconds(20)));
    ASSERT_TRUE(LabProcess::waitFor([&] { return player.playing() && frames > 44100 * 10; },
                                    std::chrono::seconds(30)));
    EXPECT_EQ(view.text(kStatusLine), monitor_text::kDroppedNetworkCut);
    disconnectCommand(*context);
    ASSERT_TRUE(view.waitForText(
        kStatusLine, [](auto& t) { return t == status::kManualStop; }, std::chrono::seconds(20)));
    EXPECT_FALSE(player.playing());
}

TEST_F(MonitorWorkflow, DroppedLineIsRedialledAndTheNewAddressVerified) {
    LabProcess lab(labConfig());
    useLine(lab, "上海电信1");
    view.setTicked(c::选择框_掉线重拨, true);
    view.setTicked(c::选择框_记录每次连接ip, true);
    connectCommand(*context);
    ASSERT_TRUE(showedConnected());
    ASSERT_TRUE(LabProcess::waitFor([&] { return monitors == 1 && verifications == 1; }));
    lab.refuseNext("上海电信1");  // the first redial fails, the second gets through
    lab.drop("上海电信1");
    ASSERT_TRUE(LabProcess::waitFor([&] { return monitors == 2 && verifications == 2; },
                                    std::chrono::seconds(30)));
    const auto sessions = lab.sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0]["public_ip"], "58.34.10.2");
    const auto results = view.text(kResultsBox);
    EXPECT_NE(results.find("\r\n正在恢复中..."), std::string::npos);
    EXPECT_NE(results.find("\r\n本次重拨连接失败！下一步进行中..."), std::string::npos);
    EXPECT_NE(results.find("\r\n已重拨连接成功，继续进行检测中...\r\n"), std::string::npos);
    EXPECT_GE(releases, 1);
    disconnectCommand(*context);
    EXPECT_TRUE(waitForWorkers(std::chrono::seconds(30)));
    EXPECT_TRUE(lab.sessions().empty());
}

// Verification with the lab as the public-IP source: the address of the tunnel that is up.
class VerifyWorkflow : public MonitorWorkflow {
protected:
    void useLab(LabProcess& lab) {
        context->actions.lookupIp = [&lab](std::span<const service::IpSource>,
                                           service::IpLookupResult& r) {
            r.address = lab.publicIp();
            r.placeless = true;
        };
        context->actions.verifyNewIp = [this] {
            ++verifications;
            verifyNewIp(*context);
        };
        context->actions.playAlarmOnce = [this] { ++tunesOnce; };
        context->actions.setTimer = [this](std::string_view timer, int ms) {
            std::lock_guard lock(timerMutex);
            timers.emplace_back(std::string(timer), ms);
        };
        useLine(lab, "线路");
        view.setTicked(c::选择框_记录每次连接ip, true);
    }
    static json poolConfig(std::vector<std::string> pool) {
        json line = {{"name", "线路"},
                     {"accounts", json::array({{{"user", "alice"}, {"password", "s3cret"}}})},
                     {"pool", pool}};
        return {{"lines", json::array({line})}};
    }
    std::atomic<int> tunesOnce{0};
    std::mutex timerMutex;
    std::vector<std::pair<std::string, int>> timers;
};

TEST_F(VerifyWorkflow, RepeatedAddressesAreRedialledUntilANewOne) {
    struct Case {
        const char* name;
        bool threeSegments;
        std::vector<std::string> pool;
        std::string history;
        std::string finalAddress;
        int repeats;
    };
    const Case cases[] = {
        {"four_segments",
         false,
         {"58.34.10.1", "58.34.10.1", "58.34.10.2"},
         "当前IP：58.34.10.1",
         "58.34.10.2",
         2},
        {"three_segments",
         true,
         {"58.34.10.7", "58.34.10.8", "58.35.1.1"},
         "当前IP：58.34.10.1",
         "58.35.1.1",
         2},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        LabProcess lab(poolConfig(cs.pool));
        useLab(lab);
        view.setTicked(c::选择框_启动过滤重复ip, true);
        view.setTicked(c::单选框_分析IP前三组, cs.threeSegments);
        view.setTicked(c::单选框_四组, !cs.threeSegments);
        view.setText(kResultsBox, cs.history);
        connectCommand(*context);
        const std::string expected = "当前IP：" + cs.finalAddress + "，线路名称：线路";
        ASSERT_TRUE(view.waitForText(
            kResultsBox, [&](auto& t) { return t.find(expected) != std::string::npos; },
            std::chrono::seconds(30)))
            << view.text(kResultsBox);
        const auto results = view.text(kResultsBox);
        const std::string repeatText = cs.threeSegments ? "【前三段】为重复IP" : "为重复IP";
        int repeats = 0;
        for (auto at = results.find(repeatText); at != std::string::npos;
             at = results.find(repeatText, at + 1)) {
            ++repeats;
        }
        EXPECT_EQ(repeats, cs.repeats);
        EXPECT_EQ(lab.sessions().size(), 1u);
        EXPECT_EQ(lab.publicIp(), cs.finalAddress);
        state.stopRequested = 1;
        ASSERT_TRUE(waitForWorkers(std::chrono::seconds(30)));
        plainDisconnect(*context);
    }
}

TEST_F(VerifyWorkflow, HuntEndsWithTheBoxAndTheLineUp) {
    LabProcess lab(poolConfig({"58.34.10.1", "58.34.10.2", "51.52.7.9"}));
    useLab(lab);
    view.setTicked(c::选择框_找回指定ip, true);
    view.setText(c::编辑框_找回指定ip, " 51.52 ");
    connectCommand(*context);
    ASSERT_TRUE(
        LabProcess::waitFor([&] { return !view.messages().empty(); }, std::chrono::seconds(30)));
    const auto m = view.messages()[0];
    EXPECT_EQ(m.title, "恭喜，已找回包含指定IP值！");
    EXPECT_EQ(m.text,
              "恭喜，已找回包含指定IP值：51.52的IP,\r\n目前连接的IP值：51.52.7."
              "9，已连接成功状态中，请及时使用！");
    EXPECT_EQ(m.style, 0);
    EXPECT_EQ(tunesOnce, 1);
    EXPECT_EQ(lab.publicIp(), "51.52.7.9");
    EXPECT_EQ(lab.dials().size(), 3u);
    const auto results = view.text(kResultsBox);
    EXPECT_NE(results.find("当前IP：58.34.10.2，线路名称：线路"), std::string::npos);
}

TEST_F(VerifyWorkflow, RepeatWithTimedChangeHandsOverFromFiftySeconds) {
    const std::tuple<const char*, const char*, bool> cases[] = {{"forty_nine", "49", false},
                                                                {"fifty", "50", true}};
    for (const auto& [name, interval, handedOver] : cases) {
        SCOPED_TRACE(name);
        LabProcess lab(poolConfig({"58.34.10.1"}));
        useLab(lab);
        timers.clear();
        view.setTicked(c::选择框_启动过滤重复ip, true);
        view.setTicked(c::选择框_定时连断, true);
        view.setText(c::编辑框_连断时间秒, interval);
        view.setText(kResultsBox, "当前IP：58.34.10.1");
        state.accountVerified = 1;
        connectCommand(
            *context);  // with the timed change the follow-up is the change, not verification
        verifyNewIp(*context);
        ASSERT_TRUE(waitForWorkers(std::chrono::seconds(30)));
        std::lock_guard lock(timerMutex);
        if (handedOver) {
            EXPECT_EQ(view.text(kStatusLine), verify_text::kHandedToTimer);
            EXPECT_EQ(state.stopRequested, 1);
            EXPECT_EQ(
                timers.back(),
                std::make_pair(std::string(c::时钟_时间大于50秒出现重复ip定时自动换ip), 10000));
        } else {
            EXPECT_TRUE(timers.empty());
            EXPECT_EQ(state.stopRequested, 0);
        }
        EXPECT_TRUE(lab.sessions().empty());  // hung up and left to the timers
        state.stopRequested = 1;
    }
}

// The ring of the timed change and the list cycling, with real one-shot timers.
class ChangeWorkflow : public VerifyWorkflow {
protected:
    void SetUp() override {
        VerifyWorkflow::SetUp();
        timers = std::make_unique<OneShotTimers>();
        timers->setHandler(c::时钟_定时自动换ip, [this] { onChangeTimerTick(*context); });
        timers->setHandler(c::时钟_自动列表循环, [this] { onListCycleTick(*context); });
        timers->setHandler(c::时钟_时间大于50秒出现重复ip定时自动换ip,
                           [this] { onRepeatRestartTick(*context); });
        context->actions.setTimer = [this](std::string_view timer, int ms) {
            {
                std::lock_guard lock(armedMutex);
                armed.emplace_back(std::string(timer), ms);
            }
            timers->arm(timer, ms);
        };
        context->actions.stopChangeTimers = [this] { timers->stopAll(); };
        context->actions.startTimedChange = [this] { startTimedChange(*context); };
        context->actions.setPoolRows = [this](const std::vector<std::vector<std::string>>& rows) {
            view.setRows(c::超级列表框_线路超级列表3, rows);
        };
        view.setTicked(c::选择框_定时连断, true);
        view.setText(c::编辑框_连断时间秒, "60");
        view.setTicked(c::选择框_记录每次连接ip, false);
    }
    void TearDown() override {
        state.stopRequested = 1;
        timers->stopAll();
        waitForWorkers(std::chrono::seconds(30));
        timers.reset();
        VerifyWorkflow::TearDown();
    }
    std::vector<int> armedPeriods(std::string_view timer) {
        std::lock_guard lock(armedMutex);
        std::vector<int> out;
        for (const auto& [name, ms] : armed) {
            if (name == timer && ms > 0) {
                out.push_back(ms);
            }
        }
        return out;
    }
    std::unique_ptr<OneShotTimers> timers;
    std::mutex armedMutex;
    std::vector<std::pair<std::string, int>> armed;
};

TEST_F(ChangeWorkflow, TimedChangeRedialsOnEveryTickAndCounts) {
    LabProcess lab(labConfig());
    useLine(lab, "上海电信1");
    connectCommand(*context);
    ASSERT_TRUE(view.waitForText(
        c::编辑框_连断计次, [](auto& t) { return t == "3"; }, std::chrono::seconds(30)));
    EXPECT_EQ(view.history(c::编辑框_连断计次), (std::vector<std::string>{"1", "2", "3"}));
    const auto periods = armedPeriods(c::时钟_定时自动换ip);
    ASSERT_GE(periods.size(), 2u);
    EXPECT_EQ(periods[0], 40000);  // interval 60 less the ring's 20 s of fixed waits
    EXPECT_TRUE(LabProcess::waitFor(
        [&] { return lab.dials().size() >= 3; }));  // the third dial is on its way
    const auto statuses = view.history(kStatusLine);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "正在自动断开连接【上海电信1】..."),
              statuses.end());
    EXPECT_NE(std::find(statuses.begin(), statuses.end(),
                        "已自动断开【上海电信1】，定时自动换IP进行中..."),
              statuses.end());

    disconnectCommand(*context);
    ASSERT_TRUE(waitForWorkers(std::chrono::seconds(30)));
    EXPECT_EQ(timers->period(c::时钟_定时自动换ip), 0);
    const auto dialsAfterStop = lab.dials().size();
    EXPECT_TRUE(lab.sessions().empty());
    ASSERT_TRUE(view.waitForText(
        kStatusLine, [](auto& t) { return t == status::kManualStop; }, std::chrono::seconds(30)));
    EXPECT_EQ(lab.dials().size(), dialsAfterStop);
}

TEST_F(ChangeWorkflow, ListCyclingWalksTheRowsNotesMaintenanceAndStartsAgain) {
    json lines = labConfig();
    json third = lines["lines"][0];
    third["name"] = "广州电信3";
    lines["lines"].push_back(third);
    LabProcess lab(lines);
    const auto row = [&](const std::string& name, const std::string& status) {
        return std::vector<std::string>{
            name, "", status, lab.address(name), "", "", lab.address(name) + ":4430", ""};
    };
    view.setRows(c::超级列表框_线路超级列表1,
                 {row("上海电信1", "1"), row("北京联通2", "0"), row("广州电信3", "1")});
    view.setTicked(c::选择框_服务器列表拨号, true);
    state.serverAddress.set("");
    connectCommand(*context);
    const auto secondPass = [&] {
        const auto r = view.text(kResultsBox);
        const auto first = r.find(std::string(cycle_text::kPassStarts));
        const auto again = r.find(std::string(cycle_text::kPassStarts), first + 1);
        return again != std::string::npos && r.find("【上海电信1】", again) != std::string::npos;
    };
    ASSERT_TRUE(LabProcess::waitFor(secondPass, std::chrono::seconds(30)))
        << view.text(kResultsBox);
    const auto r = view.text(kResultsBox);
    const auto a = r.find("\r\n【上海电信1】");
    const auto b = r.find("\r\n北京联通2此城市 维护中 ，自动换下一个城市连接\r\n");
    const auto c3 = r.find("\r\n【广州电信3】");
    ASSERT_NE(a, std::string::npos);
    ASSERT_NE(b, std::string::npos);
    ASSERT_NE(c3, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c3);
    ASSERT_TRUE(LabProcess::waitFor([&] { return lab.dials().size() >= 3; }));
    std::vector<std::string> dialled;
    for (const auto& d : lab.dials()) {
        dialled.push_back(d["line"]);
    }
    ASSERT_GE(dialled.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(dialled.begin(), dialled.begin() + 3),
              (std::vector<std::string>{"上海电信1", "广州电信3", "上海电信1"}));
    EXPECT_GE(std::stoi(view.text(c::编辑框_连断计次)), 3);
    disconnectCommand(*context);
    ASSERT_TRUE(waitForWorkers(std::chrono::seconds(30)));
    EXPECT_EQ(timers->period(c::时钟_自动列表循环), 0);
}

TEST_F(ChangeWorkflow, AListWithNothingToDialIsPacedAndSaysSo) {
    LabProcess lab(labConfig());
    view.setRows(c::超级列表框_线路超级列表1,
                 {{"北京联通2", "", "0", lab.address("北京联通2"), "", "", "", ""},
                  {"全国混拨", "", "", "", "", "", "", "2"}});  // a mix row whose pool stays empty
    view.setTicked(c::选择框_服务器列表拨号, true);
    state.serverAddress.set("");
    connectCommand(*context);
    const auto notes = [](const std::string& text, std::string_view note) {
        int n = 0;
        for (auto at = text.find(note); at != std::string::npos; at = text.find(note, at + 1)) {
            ++n;
        }
        return n;
    };
    ASSERT_TRUE(view.waitForText(
        kResultsBox, [&](auto& t) { return notes(t, cycle_text::kNothingToDial) >= 2; },
        std::chrono::seconds(30)));
    disconnectCommand(*context);
    ASSERT_TRUE(waitForWorkers(std::chrono::seconds(30)));
    EXPECT_TRUE(lab.dials().empty());
    // One pause per empty pass: a spinning cycle would have written thousands of pass notes.
    EXPECT_LE(notes(view.text(kResultsBox), cycle_text::kPassStarts), 3);
}

}  // namespace
}  // namespace veltrin::workflows
