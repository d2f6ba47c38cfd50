// The dial-up engine with the lab facility against real lab line servers.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/LabProcess.h"
#include "engine/DialEngine.h"
#include "engine/EntryName.h"
#include "engine/LabDialFacility.h"
#include "engine/LabPhoneBook.h"
#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace veltrin {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::LabProcess;
using workflows::kStatusLine;
using workflows::MemoryView;

const std::vector<std::string> kSuccessfulStages = {
    "正在打开端口",
    "端口打开",
    "正在连接设备【5秒以上还显示这个的，请断开，换其它城市再连接使用！】",
    "DeviceConnected",
    "所有设备已连接上",
    "开始认证",
    "验证中，5秒以上还显示这个的，请断开，换用协议L2TP再连接使用！如果已用L2TP请换城市再连接！",
    "Authenticated",
    "Projected",
    "连接成功",
};

json line(const std::string& name, json extra = json::object()) {
    json l = {{"name", name},
              {"address", "auto"},
              {"accounts", json::array({{{"user", "alice"}, {"password", "s3cret"}}})},
              {"stage_delay_ms", 20},
              {"pool", json::array({"58.34.10.1", "58.34.10.2"})}};
    l.update(extra);
    return l;
}

json config(std::vector<json> lines) {
    return {{"admin_port", 0}, {"lines", lines}};
}

class EngineAgainstLab : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("veltrin-engine-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        engine.reset();
        fs::remove_all(dir);
    }

    void startEngine(std::chrono::milliseconds answerTimeout = std::chrono::seconds(10)) {
        facility = std::make_shared<engine::LabDialFacility>(
            engine::LabFacilityOptions{dir, answerTimeout});
        engine = std::make_unique<engine::DialEngine>(facility, dir / "pptp.pbk");
    }

    // Provisions and dials; waits until the dial has said its last word (connected or an error).
    std::string dial(const std::string& address, int protocol, const std::string& user = "alice",
                     const std::string& password = "s3cret") {
        entry = engine::makeEntryName();
        view.setText(kStatusLine, "");
        engine->provisionEntry(entry, user, password, address, protocol);
        engine->dialEntry(entry, user, password, &view, kStatusLine);
        view.waitForText(
            kStatusLine, [](const std::string& t) { return isFinal(t); }, std::chrono::seconds(20));
        return view.text(kStatusLine);
    }

    static bool isFinal(const std::string& t) {
        if (t.empty()) {
            return false;
        }
        for (int s = 0; s < 22; ++s) {
            if (engine::stageText(s).text == t) {
                return false;
            }
        }
        return true;
    }

    fs::path dir;
    std::shared_ptr<engine::LabDialFacility> facility;
    std::unique_ptr<engine::DialEngine> engine;
    MemoryView view;
    std::string entry;
};

TEST_F(EngineAgainstLab, SuccessfulDialShowsEveryStageThenProbeHangUpAndRemoval) {
    LabProcess lab(config({line("上海电信1")}));
    startEngine();
    EXPECT_EQ(dial(lab.address("上海电信1"), engine::kPptp), "连接成功");
    const auto history = view.history(kStatusLine);  // after the "" the test wrote first
    EXPECT_EQ(std::vector<std::string>(history.begin() + 1, history.end()), kSuccessfulStages);
    EXPECT_EQ(engine->dialInProgress(), 0);

    EXPECT_EQ(engine->probeConnection(entry), 1);
    EXPECT_NE(engine->rasConnection(), 0u);
    const auto sessions = lab.sessions();
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0]["user"], "alice");
    EXPECT_EQ(sessions[0]["public_ip"], "58.34.10.1");

    engine->hangUp();
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
    EXPECT_EQ(engine->probeConnection(entry), 0);

    engine->removeEntry(entry);
    EXPECT_TRUE(LabProcess::waitFor(
        [&] { return engine::lab::loadPhoneBook(dir / "pptp.pbk")->find(entry) == nullptr; }));
    EXPECT_EQ(engine::lab::loadPhoneBook(dir / "pptp.pbk.credentials")->find(entry), nullptr);
}

TEST_F(EngineAgainstLab, EachProtocolReachesItsOwnPort) {
    LabProcess lab(config({line("线路")}));
    startEngine();
    const std::tuple<int, std::string, std::string> cases[] = {
        {engine::kPptp, "", "pptp"}, {engine::kL2tp, "", "l2tp"}, {engine::kSstp, ":4430", "sstp"}};
    for (const auto& [code, suffix, name] : cases) {
        SCOPED_TRACE(name);
        ASSERT_EQ(dial(lab.address("线路") + suffix, code), "连接成功");
        EXPECT_EQ(engine->probeConnection(entry), 1);
        const auto sessions = lab.sessions();
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0]["protocol"], name);
        engine->hangUp();
        ASSERT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
    }
}

TEST_F(EngineAgainstLab, PhoneBookHoldsEveryEntryValueAndTheCredentialsBeside) {
    LabProcess lab(config({line("线路")}));
    startEngine();
    engine->provisionEntry("xKqTbRmZ", "alice", "s3cret", "127.9.9.9:4430", engine::kSstp);
    const auto book = engine::lab::loadPhoneBook(dir / "pptp.pbk");
    ASSERT_TRUE(book && book->find("xKqTbRmZ"));
    const auto& f = book->find("xKqTbRmZ")->fields;
    const std::pair<const char*, const char*> expected[] = {
        {"dwSize", "2884"},
        {"dwfOptions", "0x3D0D0210"},
        {"dwfOptions2", "0x6F"},
        {"dwfOptions3", "0x0"},
        {"dwVpnStrategy", "5"},
        {"szDeviceType", "vpn"},
        {"szDeviceName", "WAN 微型端口 (L2TP)"},
        {"dwCountryID", "86"},
        {"dwCountryCode", "86"},
        {"dwRedialPause", "10"},
        {"dwRedialCount", "0"},
        {"szLocalPhoneNumber", "127.9.9.9:4430"},
        {"dwfNetProtocols", "4"},
        {"dwFramingProtocol", "1"},
        {"dwDialMode", "1"},
        {"dwDialExtraPercent", "75"},
        {"dwDialExtraSampleSeconds", "120"},
        {"dwHangUpExtraPercent", "10"},
        {"dwHangUpExtraSampleSeconds", "120"},
        {"dwType", "2"},
        {"dwEncryptionType", "3"},
        {"ipaddr", "0.0.0.0"},
        {"ipaddrDns", "0.0.0.0"},
        {"szAreaCode", ""},
        {"dwIdleDisconnectSeconds", "0"},
        {"PreSharedKey", ""},
    };
    for (const auto& [key, value] : expected) {
        EXPECT_EQ(engine::lab::field(f, key), std::optional<std::string>(value)) << key;
    }
    const auto creds = engine::lab::loadPhoneBook(dir / "pptp.pbk.credentials");
    ASSERT_TRUE(creds && creds->find("xKqTbRmZ"));
    EXPECT_EQ(creds->find("xKqTbRmZ")->fields, (engine::lab::Fields{{"dwSize", "540"},
                                                            {"dwMask", "0xB"},
                                                            {"szUserName", "alice"},
                                                            {"szPassword", "s3cret"},
                                                            {"szDomain", ""}}));
}

TEST_F(EngineAgainstLab, WrongPasswordShowsTheErrorAndKeepsTheProbeAtZero) {
    LabProcess lab(config({line("线路")}));
    startEngine();
    EXPECT_EQ(dial(lab.address("线路"), engine::kPptp, "alice", "wrong"),
              *engine::labErrorText(691));
    EXPECT_EQ(engine->dialInProgress(), 1);
    EXPECT_EQ(engine->probeConnection(entry), 0);
    EXPECT_TRUE(lab.sessions().empty());
}

TEST_F(EngineAgainstLab, FailuresBecomeErrorTextsNeverHangs) {
    LabProcess lab(
        config({line("silent", {{"failure", "silent"}}), line("garbage", {{"failure", "garbage"}}),
                line("close", {{"failure", "close"}}), line("long", {{"failure", "error:720"}}),
                line("down", {{"status", "down"}}), line("nosstp", {{"protocols", {"pptp"}}})}));
    startEngine(std::chrono::milliseconds(500));
    const std::tuple<std::string, int, std::string, std::string> cases[] = {
        {"silent", engine::kPptp, "", *engine::labErrorText(809)},
        {"garbage", engine::kPptp, "", *engine::labErrorText(651)},
        {"close", engine::kPptp, "", *engine::labErrorText(629)},
        {"long", engine::kPptp, "", std::string(100, ' ')},
        {"down", engine::kPptp, "", *engine::labErrorText(800)},
        {"nosstp", engine::kSstp, ":4430", *engine::labErrorText(800)},
    };
    for (const auto& [name, code, suffix, text] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(dial(lab.address(name) + suffix, code), text);
        EXPECT_EQ(engine->probeConnection(entry), 0);
        engine->hangUp();
    }
    EXPECT_TRUE(LabProcess::waitFor([&] { return facility->liveThreads() == 0; }));
}

TEST_F(EngineAgainstLab, UnreachableOrUnresolvableAddressesAreErrors) {
    startEngine(std::chrono::milliseconds(500));
    // Nobody listens on this loopback address; the name cannot be resolved by the lab facility.
    EXPECT_EQ(dial("127.250.250.250", engine::kPptp), *engine::labErrorText(800));
    EXPECT_EQ(dial("no-such-line.invalid", engine::kPptp), *engine::labErrorText(868));
}

TEST_F(EngineAgainstLab, DropAtTheLabMakesTheProbeReturnZero) {
    LabProcess lab(config({line("线路")}));
    startEngine();
    ASSERT_EQ(dial(lab.address("线路"), engine::kL2tp), "连接成功");
    ASSERT_EQ(engine->probeConnection(entry), 1);
    lab.drop("线路");
    EXPECT_TRUE(LabProcess::waitFor([&] { return engine->probeConnection(entry) == 0; }));
}

TEST_F(EngineAgainstLab, NameDifferingOnlyInCaseIsNotTheEntry) {
    LabProcess lab(config({line("线路")}));
    startEngine();
    engine->provisionEntry("AbcDefGh", "alice", "s3cret", lab.address("线路"), engine::kPptp);
    engine->dialEntry("AbcDefGh", "alice", "s3cret", &view, kStatusLine);
    ASSERT_TRUE(view.waitForText(
        kStatusLine, [](auto& t) { return t == "连接成功"; }, std::chrono::seconds(10)));
    EXPECT_EQ(engine->probeConnection("abcdefgh"), 0);
    EXPECT_EQ(engine->probeConnection("ABCDEFGH"), 0);
    EXPECT_EQ(engine->probeConnection("AbcDefGh"), 1);
}

TEST_F(EngineAgainstLab, DialOfAnUnwrittenEntryIsRefusedSilently) {
    startEngine();
    view.setText(kStatusLine, "上一次的文字");
    engine->dialEntry("NotThere", "alice", "s3cret", &view, kStatusLine);
    EXPECT_EQ(view.text(kStatusLine), "上一次的文字");
    EXPECT_TRUE(facility->connections(10)->empty());
}

TEST_F(EngineAgainstLab, OverlongAddressIsRefusedVisiblyAndNothingIsDialled) {
    LabProcess lab(config({line("线路")}));
    startEngine();
    const std::string address = lab.address("线路") + std::string(130, ' ');
    const std::string text = dial(address, engine::kPptp);
    EXPECT_NE(text.find("服务器地址过长"), std::string::npos) << text;
    EXPECT_TRUE(lab.dials().empty());
}

TEST_F(EngineAgainstLab, HangUpDuringADialStopsItsReports) {
    LabProcess lab(config({line("slow", {{"stage_delay_ms", 2000}})}), 1.0);
    startEngine();
    entry = engine::makeEntryName();
    engine->provisionEntry(entry, "alice", "s3cret", lab.address("slow"), engine::kPptp);
    engine->dialEntry(entry, "alice", "s3cret", &view, kStatusLine);
    ASSERT_TRUE(view.waitForText(
        kStatusLine, [](auto& t) { return t.starts_with("正在连接设备"); },
        std::chrono::seconds(10)));
    engine->hangUp();
    EXPECT_TRUE(LabProcess::waitFor([&] { return facility->liveThreads() == 0; }));
    EXPECT_TRUE(view.history(kStatusLine).back().starts_with("正在连接设备"));
    EXPECT_TRUE(LabProcess::waitFor([&] {
        const auto d = lab.dials();
        return d.size() == 1 && d[0]["outcome"] == "aborted";
    }));
}

}  // namespace
}  // namespace veltrin
