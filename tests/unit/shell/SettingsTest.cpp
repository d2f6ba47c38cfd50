#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "shell/Settings.h"
#include "text/LocalText.h"
#include "workflows/Controls.h"
#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace veltrin::shell {
namespace {

namespace fs = std::filesystem;
namespace c = workflows::control;
using workflows::ConnectionState;
using workflows::MemoryView;

class SettingsTest : public testing::Test {
protected:
    fs::path dir =
        fs::temp_directory_path() / ("settings-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    ProfileFile file{dir / "veltrinset.ini"};
    int gateOpened = 0;
    std::function<void()> gate = [this] { ++gateOpened; };

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    // The window's own initial option states.
    static void initialStates(MemoryView& v) {
        v.setText(c::编辑框_连断时间秒, "60");
        v.setText(c::编辑框_监控时间秒, "2");
        v.setTicked(c::单选框_L2TP, true);
        v.setTicked(c::单选框_四组, true);
        v.setTicked(c::选择框_掉线重拨, true);
        v.setTicked(c::选择框_记录每次连接ip, true);
    }

    void writeRaw(const std::string& utf8) {
        std::ofstream(file.path(), std::ios::binary) << text::toLocal(utf8);
    }
    std::string fileText() {
        std::ifstream in(file.path(), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return text::fromLocal(s.str());
    }
};

TEST_F(SettingsTest, EveryOptionSurvivesSaveAndLoad) {
    MemoryView before;
    ConnectionState stateBefore;
    initialStates(before);
    stateBefore.serverAddress.set("127.8.8.8");
    stateBefore.lineName.set("上海电信1");
    before.setText(c::编辑框_用户名, "alice");
    before.setText(c::编辑框_密码, "p w 密码");
    before.setTicked(c::单选框_L2TP, false);
    before.setTicked(c::单选框_PPTP, true);
    before.setText(c::编辑框_连断时间秒, "45");
    before.setText(c::编辑框_监控时间秒, "0.5");
    for (auto box :
         {c::选择框_定时连断, c::选择框_掉线音效, c::选择框_是否断网, c::选择框_服务器列表拨号,
          c::选择框_启动过滤重复ip, c::选择框_IE缓存和cookie, c::选择框_连接成功系统托盘,
          c::选择框_总在最前, c::选择框_热键, c::选择框_找回指定ip}) {
        before.setTicked(box, true);
    }
    before.setTicked(c::选择框_掉线重拨, false);
    before.setTicked(c::单选框_四组, false);
    before.setTicked(c::单选框_分析IP前三组, true);
    before.setText(c::编辑框_找回指定ip, "  58.34. ");
    ASSERT_TRUE(saveSettings(file, before, stateBefore, false));
    EXPECT_EQ(before.text(workflows::kStatusLine), kSettingsSaved);
    recordTermsAccepted(file);

    MemoryView after;
    ConnectionState stateAfter;
    initialStates(after);
    loadSettings(file, after, stateAfter, gate);
    EXPECT_EQ(gateOpened, 0);
    EXPECT_EQ(stateAfter.serverAddress.get(), "127.8.8.8");
    EXPECT_EQ(stateAfter.lineName.get(), "上海电信1");
    for (auto control :
         {c::编辑框_用户名, c::编辑框_密码, c::编辑框_连断时间秒, c::编辑框_监控时间秒}) {
        EXPECT_EQ(after.text(control), before.text(control)) << control;
    }
    EXPECT_EQ(after.text(c::编辑框_找回指定ip), "58.34.");
    for (auto box :
         {c::单选框_PPTP, c::单选框_L2TP, c::单选框_SSTP, c::单选框_四组, c::单选框_分析IP前三组,
          c::选择框_定时连断, c::选择框_掉线音效, c::选择框_是否断网, c::选择框_记录每次连接ip,
          c::选择框_服务器列表拨号, c::选择框_掉线重拨, c::选择框_启动过滤重复ip,
          c::选择框_IE缓存和cookie, c::选择框_连接成功系统托盘, c::选择框_总在最前, c::选择框_热键,
          c::选择框_找回指定ip}) {
        EXPECT_EQ(after.isTicked(box), before.isTicked(box)) << box;
    }
    EXPECT_TRUE(after.alwaysOnTop());
}

TEST_F(SettingsTest, FirstSaveAfterTheTermsKeepsTheWriteOrder) {
    MemoryView v;
    ConnectionState s;
    initialStates(v);
    recordTermsAccepted(file);
    saveSettings(file, v, s, true);
    EXPECT_EQ(fileText(),
              "[22]\r\n服务条款签署=1\r\n[1]\r\n是否已生成配置=是\r\n[2]\r\n服务器地址=\r\n[21]"
              "\r\n服务器地址城市=\r\n"
              "[3]\r\n用户名=\r\n[4]\r\n密码=\r\n[5]\r\n协议PPTPL2TP=L2TP\r\n[6]\r\n定时连断="
              "否\r\n[7]\r\n定时设置=60\r\n"
              "[8]\r\n监控音效=否\r\n[9]\r\n是否断网=否\r\n[10]\r\n监控频率=2\r\n[11]"
              "\r\n记录每次换ip=是\r\n"
              "[12]\r\n启用服务器列表=否\r\n[14]\r\n掉线重拨=是\r\n[15]\r\n过滤重复ip=否\r\n[16]"
              "\r\nIE缓存和cookie=否\r\n"
              "[17]\r\n系统托盘=否\r\n[18]\r\n分析IP段位=4\r\n[19]\r\n总在最前=否\r\n[20]"
              "\r\n热键设置=否\r\n"
              "[23]\r\n找回指定ip=否\r\n");
    EXPECT_EQ(v.text(workflows::kStatusLine), "");  // the exit save writes no status
}

TEST_F(SettingsTest, MissingOrUnacceptedFileOpensTheGateAndLeavesInitialStates) {
    const std::pair<const char*, std::string> cases[] = {
        {"no_file", ""},
        {"terms_only", "[22]\r\n服务条款签署=1\r\n[3]\r\n用户名=bob\r\n"},
        {"marker_not_yes", "[1]\r\n是否已生成配置=否\r\n[3]\r\n用户名=bob\r\n"},
    };
    for (const auto& [name, content] : cases) {
        SCOPED_TRACE(name);
        fs::remove(file.path());
        if (!content.empty()) {
            writeRaw(content);
        }
        gateOpened = 0;
        MemoryView v;
        ConnectionState s;
        initialStates(v);
        loadSettings(file, v, s, gate);
        EXPECT_EQ(gateOpened, 1);
        EXPECT_EQ(v.text(c::编辑框_用户名), "");
        EXPECT_EQ(v.text(c::编辑框_连断时间秒), "60");
        EXPECT_TRUE(v.isTicked(c::单选框_L2TP));
        EXPECT_TRUE(v.isTicked(c::选择框_掉线重拨));
    }
}

TEST_F(SettingsTest, LoadRulesForProtocolSegmentsAndWantedIp) {
    struct Case {
        const char* name;
        std::string body;
        bool pptp, l2tp, sstp, four, three, hunt;
        std::string wanted;
        int gate;
    };
    const Case cases[] = {
        {"pptp", "[5]\r\n协议PPTPL2TP=PPTP\r\n[22]\r\n服务条款签署=1\r\n", true, false, false, true,
         false, false, "old", 0},
        {"lower_case_is_sstp", "[5]\r\n协议PPTPL2TP=pptp\r\n[22]\r\n服务条款签署=1\r\n", false,
         false, true, true, false, false, "old", 0},
        {"missing_is_sstp_and_gate", "", false, false, true, true, false, false, "old", 1},
        {"three_segments", "[18]\r\n分析IP段位=3\r\n[22]\r\n服务条款签署=1\r\n", false, false, true,
         false, true, false, "old", 0},
        {"odd_segments_leave_both", "[18]\r\n分析IP段位=5\r\n[22]\r\n服务条款签署=1\r\n", false,
         false, true, true, false, false, "old", 0},
        {"hunt_reads_24_trimmed",
         "[23]\r\n找回指定ip=是\r\n[24]\r\n找回指定ip= 1.2. \r\n[22]\r\n服务条款签署=1\r\n", false,
         false, true, true, false, true, "1.2.", 0},
        {"hunt_off_keeps_text",
         "[23]\r\n找回指定ip=否\r\n[24]\r\n找回指定ip=9.9.\r\n[22]\r\n服务条款签署=1\r\n", false,
         false, true, true, false, false, "old", 0},
    };
    for (const auto& cs : cases) {
        SCOPED_TRACE(cs.name);
        writeRaw("[1]\r\n是否已生成配置=是\r\n" + cs.body);
        gateOpened = 0;
        MemoryView v;
        ConnectionState s;
        initialStates(v);
        v.setText(c::编辑框_找回指定ip, "old");
        v.setTicked(c::选择框_找回指定ip, true);
        loadSettings(file, v, s, gate);
        EXPECT_EQ(v.isTicked(c::单选框_PPTP), cs.pptp);
        EXPECT_EQ(v.isTicked(c::单选框_L2TP), cs.l2tp);
        EXPECT_EQ(v.isTicked(c::单选框_SSTP), cs.sstp);
        EXPECT_EQ(v.isTicked(c::单选框_四组), cs.four);
        EXPECT_EQ(v.isTicked(c::单选框_分析IP前三组), cs.three);
        EXPECT_EQ(v.isTicked(c::选择框_找回指定ip), cs.hunt);
        EXPECT_EQ(v.text(c::编辑框_找回指定ip), cs.wanted);
        EXPECT_EQ(gateOpened, cs.gate);
        EXPECT_FALSE(v.isTicked(c::选择框_掉线重拨));  // missing yes/no reads as clear
    }
}

TEST_F(SettingsTest, ExitWithAMixRowSelectedForgetsTheDrawnServer) {
    const std::tuple<const char*, std::string, bool, bool> cases[] = {
        // name, column 7 of the selected row, save on exit, server kept
        {"mix_row_on_exit", "1", true, false},
        {"nationwide_mix_row_on_exit", "2", true, false},
        {"ordinary_row_on_exit", "", true, true},
        {"mix_row_on_button_save", "1", false, true},
    };
    for (const auto& [name, marker, onExit, kept] : cases) {
        SCOPED_TRACE(name);
        MemoryView v;
        ConnectionState s;
        s.serverAddress.set("127.1.1.1");
        s.lineName.set("线路");
        v.setRows(c::超级列表框_线路超级列表1, {{"", "", "", "", "", "", "", marker}});
        v.select(c::超级列表框_线路超级列表1, 0);
        v.setVisible(c::超级列表框_线路超级列表2, false);
        saveSettings(file, v, s, onExit);
        EXPECT_EQ(file.read("2", "服务器地址"), kept ? "127.1.1.1" : "");
        EXPECT_EQ(file.read("21", "服务器地址城市"), kept ? "线路" : "");
    }
}

TEST_F(SettingsTest, UnwritableFileIsReportedNotHidden) {
    ProfileFile nowhere(dir / "missing" / "veltrinset.ini");
    MemoryView v;
    ConnectionState s;
    EXPECT_FALSE(saveSettings(nowhere, v, s, false));
    EXPECT_EQ(v.text(workflows::kStatusLine), kSettingsNotSaved);
    EXPECT_FALSE(recordTermsAccepted(nowhere));
}

}  // namespace
}  // namespace veltrin::shell
