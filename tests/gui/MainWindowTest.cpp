// The real main window, offscreen, driven through its widgets against a lab.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <optional>

#include "GuiTestSupport.h"
#include "engine/DialEngine.h"
#include "shell/MainShell.h"
#include "shell/MessageBoxes.h"
#include "shell/ProfileFile.h"
#include "shell/Settings.h"
#include "shell/Startup.h"
#include "support/LabProcess.h"
#include "text/Files.h"
#include "text/LocalText.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/VerifyIp.h"
#include "workflows/Workers.h"

namespace veltrin {
namespace {

namespace c = workflows::control;
namespace fs = std::filesystem;
using shell::MessageBoxes;
using testing::LabProcess;
using testing::pumpUntil;
using testing::TempDir;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::guiApp();
        MessageBoxes::setAutoAnswer(true);
        MessageBoxes::clearShown();
        settingsDir = program.path() / "vlset";
        fs::create_directories(settingsDir);
        auto& state = workflows::connectionState();
        state.stopRequested = 0;
        state.accountVerified = 0;
        state.serverAddress.set("");
        state.lineName.set("");
    }
    void TearDown() override {
        closeShell();
        MessageBoxes::setAutoAnswer(false);
    }

    void acceptTerms() {
        shell::ProfileFile file(settingsDir / "veltrinset.ini");
        ASSERT_TRUE(shell::recordTermsAccepted(file));
    }

    shell::MainShell& openShell() {
        closeShell();
        engine::installDialEngine(std::make_shared<engine::DialEngine>(
            engine::makeDialFacility({settingsDir}), settingsDir / shell::kPhoneBookFile));
        exitCode.reset();
        shellPtr = std::make_unique<shell::MainShell>(
            shell::ShellOptions{settingsDir, [this](int code) { exitCode = code; }},
            engine::dialEngine());
        shellPtr->start();
        return *shellPtr;
    }

    // Workers of the window wait on it: keep it serving them until they are done.
    void closeShell() {
        if (!shellPtr) {
            return;
        }
        workflows::connectionState().stopRequested = 1;
        EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));
        shellPtr.reset();
    }

    void shutdownShell() {
        shellPtr->shutdown();
        ASSERT_EQ(exitCode, std::optional<int>(0));
    }

    QWidget* widget(std::string_view name) { return shellPtr->window().control(name); }
    QAbstractButton* button(std::string_view name) {
        return qobject_cast<QAbstractButton*>(widget(name));
    }

    bool shownBox(std::string_view title, std::string_view text) {
        for (const auto& box : MessageBoxes::shown()) {
            if (box.title == title && box.text == text) {
                return true;
            }
        }
        return false;
    }

    TempDir program;
    fs::path settingsDir;
    std::unique_ptr<shell::MainShell> shellPtr;
    std::optional<int> exitCode;
};

TEST_F(MainWindowTest, EveryControlIsAWidgetNamedAfterItsFormName) {
    auto& window = openShell().window();
    EXPECT_EQ(window.windowTitle(), qs(shell::kMainTitle));
    EXPECT_EQ(window.size(), QSize(800, 580));
    const std::string_view hidden[] = {c::编辑框_找回指定ip,
                                       c::选择框_找回指定ip,
                                       c::选择框_记录每次连接ip,
                                       c::选择框_服务器列表拨号,
                                       c::选择框_启动过滤重复ip,
                                       c::单选框_四组,
                                       c::单选框_分析IP前三组,
                                       c::选择框_定时连断,
                                       c::编辑框_连断时间秒,
                                       c::编辑框_连断计次,
                                       c::选择框_IE缓存和cookie,
                                       c::选择框_掉线音效,
                                       c::选择框_是否断网,
                                       c::编辑框_监控时间秒,
                                       c::编辑框_监控计次,
                                       c::按钮_修复故障,
                                       c::按钮_测试,
                                       c::选择框_总在最前,
                                       c::按钮_启用本地网络,
                                       c::按钮_禁用本地网络,
                                       c::选择框_热键,
                                       c::标签_热键标签,
                                       c::按钮_记住所有配置};
    for (auto name : hidden) {
        SCOPED_TRACE(std::string(name));
        QWidget* w = widget(name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->objectName(), qs(name));
        EXPECT_GE(w->mapTo(window.centralWidget(), QPoint(0, 0)).x(), 936);
    }
    struct Caption {
        std::string_view control;
        std::string_view text;
    };
    const Caption captions[] = {
        {c::按钮_刷新服务器列表, "刷新列表"},
        {c::按钮_踢下线, "踢下线"},
        {c::单选框_PPTP, "PPTP"},
        {c::单选框_L2TP, "L2TP"},
        {c::单选框_SSTP, "SSTP"},
        {c::选择框_掉线重拨, "如果掉线,自动重连"},
        {c::选择框_连接成功系统托盘, "自动缩小系统托盘"},
        {c::按钮_查询当前ip, "查询当前ip"},
        {c::按钮_高级设置, "高级设置"},
        {c::按钮_连接, "启动连接"},
        {c::按钮_断开, "断 开"},
        {c::按钮_保存结果, "保存结果"},
        {c::按钮_清空结果, "清空结果"},
        {c::按钮_记住所有配置, "保存配置"},
        {c::标签_用户过期时间查询, "点击查询"},
        {c::编辑框_列表结果显示, workflows::kResultsStartText},
        {c::编辑框_连断时间秒, "60"},
        {c::编辑框_监控时间秒, "2"},
    };
    for (const auto& [control, text] : captions) {
        SCOPED_TRACE(std::string(control));
        EXPECT_EQ(window.text(control), text);
    }
    auto* list1 = qobject_cast<QTreeWidget*>(widget(c::超级列表框_线路超级列表1));
    ASSERT_NE(list1, nullptr);
    EXPECT_EQ(list1->columnCount(), 8);
    EXPECT_EQ(list1->headerItem()->text(0), QStringLiteral("动态城市名称"));
    EXPECT_FALSE(window.isVisible(c::超级列表框_线路超级列表2));
    EXPECT_FALSE(window.isVisible(c::超级列表框_线路超级列表3));
    EXPECT_EQ(widget(c::选择框_是否断网)->toolTip(),
              qs("勾选则启用掉线时自动断开本地所有网络！注意：断网后，需要恢复的，请点击【启用本地"
                 "网络】即可恢复"));
    for (auto item : {"退出", "用前需看", "用前必看", "自助订购-即时到账", "最新版本查询及下载",
                      "下载地址", "自助注册开通续费", "支持软件功能定制服务"}) {
        EXPECT_NE(window.menuItem(item), nullptr) << item;
    }
}

TEST_F(MainWindowTest, UsageTermsComeInTheirBoxWithTheItemsWording) {
    auto& window = openShell().window();
    window.menuItem("用前必看")->trigger();
    window.menuItem("用前需看")->trigger();
    const auto boxes = MessageBoxes::shown();
    ASSERT_GE(boxes.size(), 2u);
    const auto& second = boxes[boxes.size() - 2];
    const auto& first = boxes.back();
    EXPECT_EQ(second.title, shell::kUsageTermsTitle);
    EXPECT_EQ(second.style, 0);
    EXPECT_NE(second.text.find("1.本软件如有误报请加白名单使用即可。"), std::string::npos);
    EXPECT_NE(first.text.find("1.本软件功能强大，有误报的加白名单使用即可。"), std::string::npos);
    EXPECT_EQ(first.text.rfind("免责声明：", 0), 0u);
}

// Each case changes options from their initial states; after a shutdown and a fresh window the
// options read back the same.
struct OptionCase {
    const char* name;
    std::vector<std::pair<std::string_view, bool>> ticks;
    std::vector<std::pair<std::string_view, std::string>> texts;
};

TEST_F(MainWindowTest, OptionsSavedAtShutdownComeBackInTheNextWindow) {
    const OptionCase cases[] = {
        {"account and pptp",
         {{c::单选框_PPTP, true}},
         {{c::编辑框_用户名, "alice"}, {c::编辑框_密码, "pa ss 密码"}}},
        {"sstp with every option box",
         {{c::单选框_SSTP, true},
          {c::选择框_定时连断, true},
          {c::选择框_掉线音效, true},
          {c::选择框_是否断网, true},
          {c::选择框_记录每次连接ip, false},
          {c::选择框_服务器列表拨号, true},
          {c::选择框_掉线重拨, false},
          {c::选择框_IE缓存和cookie, true},
          {c::选择框_连接成功系统托盘, true},
          {c::单选框_分析IP前三组, true},
          {c::选择框_热键, true}},
         {{c::编辑框_连断时间秒, "45"}, {c::编辑框_监控时间秒, "0.5"}}},
        {"wanted ip", {{c::选择框_找回指定ip, true}}, {{c::编辑框_找回指定ip, "58.34"}}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        fs::remove_all(settingsDir);
        fs::create_directories(settingsDir);
        acceptTerms();
        auto& first = openShell().window();
        for (const auto& [control, ticked] : testCase.ticks) {
            first.setTicked(control, ticked);
        }
        for (const auto& [control, value] : testCase.texts) {
            first.setText(control, value);
        }
        std::map<std::string_view, bool> ticked;
        std::map<std::string_view, std::string> texts;
        for (auto name : {c::单选框_PPTP, c::单选框_L2TP, c::单选框_SSTP, c::选择框_定时连断,
                          c::选择框_掉线音效, c::选择框_是否断网, c::选择框_记录每次连接ip,
                          c::选择框_服务器列表拨号, c::选择框_掉线重拨, c::选择框_IE缓存和cookie,
                          c::选择框_连接成功系统托盘, c::单选框_四组, c::单选框_分析IP前三组,
                          c::选择框_热键, c::选择框_找回指定ip, c::选择框_总在最前}) {
            ticked[name] = first.isTicked(name);
        }
        for (auto name : {c::编辑框_用户名, c::编辑框_密码, c::编辑框_连断时间秒,
                          c::编辑框_监控时间秒, c::编辑框_找回指定ip}) {
            texts[name] = first.text(name);
        }
        shutdownShell();
        EXPECT_TRUE(fs::is_regular_file(settingsDir / "veltrinset.ini"));

        auto& second = openShell().window();
        for (const auto& [name, value] : ticked) {
            EXPECT_EQ(second.isTicked(name), value) << name;
        }
        for (const auto& [name, value] : texts) {
            EXPECT_EQ(second.text(name), value) << name;
        }
        EXPECT_EQ(shellPtr->termsGate(), nullptr);
    }
}

TEST_F(MainWindowTest, AlwaysOnTopFollowsItsBoxAndTheSettings) {
    acceptTerms();
    auto& window = openShell().window();
    button(c::选择框_总在最前)->click();
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    shutdownShell();
    auto& again = openShell().window();
    EXPECT_TRUE(again.isTicked(c::选择框_总在最前));
    EXPECT_TRUE(again.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    button(c::选择框_总在最前)->click();
    EXPECT_FALSE(again.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(MainWindowTest, SettingsThatCannotBeWrittenAreReportedNotClaimedSaved) {
    acceptTerms();
    auto& window = openShell().window();
    // A directory where the file belongs: no rename can replace it, not even as root.
    fs::remove(settingsDir / "veltrinset.ini");
    fs::create_directory(settingsDir / "veltrinset.ini");
    button(c::按钮_记住所有配置)->click();
    EXPECT_TRUE(
        pumpUntil([&] { return window.text(workflows::kStatusLine) == shell::kSettingsNotSaved; }));
    shutdownShell();
    EXPECT_TRUE(shownBox(workflows::kDefaultMessageTitle, shell::kSettingsNotSavedOnExit));
}

TEST_F(MainWindowTest, SaveButtonWritesTheFileAndSaysSo) {
    acceptTerms();
    auto& window = openShell().window();
    window.setText(c::编辑框_用户名, "bob");
    button(c::按钮_记住所有配置)->click();
    EXPECT_TRUE(
        pumpUntil([&] { return window.text(workflows::kStatusLine) == shell::kSettingsSaved; }));
    shell::ProfileFile file(settingsDir / "veltrinset.ini");
    EXPECT_EQ(file.read("3", "用户名"), "bob");
}

TEST_F(MainWindowTest, AddressHistoryIsSavedInCodePage936AndLoadedAtTheNextStart) {
    acceptTerms();
    auto& window = openShell().window();
    window.setTicked(c::选择框_启动过滤重复ip, true);
    window.setText(workflows::kResultsBox, "");
    window.appendResult("当前IP：58.34.10.1 上海\r\n");
    window.appendResult("当前IP：58.34.10.2 上海\r\n");
    shutdownShell();
    EXPECT_TRUE(shownBox(workflows::verify_text::kHistorySavedTitle,
                         workflows::verify_text::kHistorySaved));
    const auto bytes = text::readWholeFile(settingsDir / shell::kHistoryFile);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes, text::toLocal("当前IP：58.34.10.1 上海\r\n当前IP：58.34.10.2 上海\r\n"));

    auto& again = openShell().window();
    EXPECT_EQ(again.text(workflows::kResultsBox),
              "当前IP：58.34.10.1 上海\r\n当前IP：58.34.10.2 上海\r\n");
}

TEST_F(MainWindowTest, TermsGateOpensWithoutSettingsAndRecordsAcceptance) {
    auto& window = openShell().window();
    (void)window;
    shell::TermsGate* gate = shellPtr->termsGate();
    ASSERT_NE(gate, nullptr);
    EXPECT_TRUE(gate->isVisible());
    EXPECT_EQ(gate->windowTitle(), qs(shell::terms_text::kTitle));
    auto* agree = gate->findChild<QCheckBox*>(QStringLiteral("选择框1"));
    ASSERT_NE(agree, nullptr);
    EXPECT_TRUE(agree->isChecked());

    agree->setChecked(false);
    gate->accept();
    EXPECT_TRUE(shownBox(shell::terms_text::kTickFirstTitle, shell::terms_text::kTickFirst));
    EXPECT_FALSE(fs::exists(settingsDir / "veltrinset.ini"));
    EXPECT_TRUE(gate->isVisible());

    agree->setChecked(true);
    gate->accept();
    EXPECT_TRUE(shownBox(shell::terms_text::kAcceptedTitle, shell::terms_text::kAccepted));
    shell::ProfileFile file(settingsDir / "veltrinset.ini");
    EXPECT_EQ(file.read("22", shell::settings_key::kTermsAccepted), "1");
    EXPECT_FALSE(gate->isVisible());
    EXPECT_FALSE(exitCode.has_value());
}

TEST_F(MainWindowTest, TermsAcceptanceThatCannotBeWrittenIsNotReportedAsSigned) {
    fs::create_directory(settingsDir / "veltrinset.ini");
    openShell();
    shell::TermsGate* gate = shellPtr->termsGate();
    ASSERT_NE(gate, nullptr);
    gate->accept();
    EXPECT_TRUE(shownBox(shell::terms_text::kAcceptedTitle, shell::terms_text::kNotRecorded));
    EXPECT_FALSE(shownBox(shell::terms_text::kAcceptedTitle, shell::terms_text::kAccepted));
}

TEST_F(MainWindowTest, ClosingTheTermsGateRemindsAndEndsTheProgram) {
    openShell();
    shell::TermsGate* gate = shellPtr->termsGate();
    ASSERT_NE(gate, nullptr);
    gate->close();
    EXPECT_TRUE(pumpUntil([&] { return exitCode.has_value(); }));
    EXPECT_EQ(exitCode, std::optional<int>(0));
    EXPECT_TRUE(shownBox(shell::terms_text::kClosingTitle, shell::terms_text::kClosing));
    EXPECT_FALSE(fs::exists(settingsDir / "veltrinset.ini"));
}

TEST_F(MainWindowTest, WithoutATrayHidingKeepsTheWindow) {
    acceptTerms();
    auto& window = openShell().window();
    ASSERT_FALSE(window.hasTray());  // offscreen has no tray host
    window.hideToTray();
    EXPECT_TRUE(window.QWidget::isVisible());
}

TEST_F(MainWindowTest, SearchShowsTheResultListOverTheFullList) {
    acceptTerms();
    auto& shell = openShell();
    auto& window = shell.window();
    // The list load of the start-up may still be running; let it finish first.
    EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));
    service::ServerEntry a = service::serverRow("上海电信1", "1", "127.0.0.1", "127.0.0.1");
    service::ServerEntry b = service::serverRow("北京联通2", "0", "127.0.0.2", "127.0.0.2");
    shell.serverList().setFullList({service::nationwideMixRow(), a, b});
    window.listChanged(service::ServerListId::full);
    EXPECT_EQ(window.rowCount(c::超级列表框_线路超级列表1), 3);
    qobject_cast<QLineEdit*>(widget(c::编辑框_搜索输入))->setText(QStringLiteral("北京"));
    EXPECT_TRUE(window.isVisible(c::超级列表框_线路超级列表2));
    ASSERT_EQ(window.rowCount(c::超级列表框_线路超级列表2), 1);
    auto* list2 = qobject_cast<QTreeWidget*>(widget(c::超级列表框_线路超级列表2));
    list2->topLevelItem(0)->setSelected(true);
    auto& state = workflows::connectionState();
    EXPECT_EQ(state.lineName.get(), "北京联通2");
    EXPECT_EQ(state.serverAddress.get(), window.cell(c::超级列表框_线路超级列表2, 0, 3));
    EXPECT_TRUE(shownBox(service::kMaintenanceNoticeTitle, service::kMaintenanceNoticeText));
    EXPECT_EQ(window.text(workflows::kStatusLine), service::chosenLineText("北京联通2"));
    qobject_cast<QLineEdit*>(widget(c::编辑框_搜索输入))->clear();
    EXPECT_FALSE(window.isVisible(c::超级列表框_线路超级列表2));
}

nlohmann::json labConfig() {
    return {{"admin_port", 0},
            {"lines",
             {{{"name", "上海电信1"},
               {"address", "auto"},
               {"protocols", {"pptp", "l2tp", "sstp"}},
               {"accounts", {{{"user", "alice"}, {"password", "s3cret"}}}},
               {"stage_delay_ms", 20},
               {"pool", {"58.34.10.1", "58.34.10.2"}}}}}};
}

TEST_F(MainWindowTest, EachProtocolConnectsThroughTheWindowAndShutdownReleasesTheLine) {
    LabProcess lab(labConfig());
    struct Case {
        std::string_view radio;
        const char* protocol;
        std::string suffix;
    };
    const Case cases[] = {{c::单选框_PPTP, "pptp", ""},
                          {c::单选框_L2TP, "l2tp", ""},
                          {c::单选框_SSTP, "sstp", ":4430"}};
    for (const auto& [radio, protocol, suffix] : cases) {
        SCOPED_TRACE(protocol);
        fs::remove_all(settingsDir);
        fs::create_directories(settingsDir);
        acceptTerms();
        auto& window = openShell().window();
        // The start-up's list load reports through the status line too; let it finish first.
        EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));
        window.setText(c::编辑框_用户名, "alice");
        window.setText(c::编辑框_密码, "s3cret");
        window.setTicked(radio, true);
        window.setTicked(c::选择框_记录每次连接ip, false);
        auto& state = workflows::connectionState();
        state.serverAddress.set(lab.address("上海电信1") + suffix);
        state.lineName.set("上海电信1");
        testing::clickConnectWithDeadline(button(c::按钮_连接), state.stopRequested);
        EXPECT_EQ(window.text(workflows::kStatusLine), "连接成功");
        EXPECT_FALSE(window.isEnabled(c::按钮_连接));
        auto sessions = lab.sessions();
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0]["protocol"], protocol);

        shutdownShell();
        EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
        shell::ProfileFile file(settingsDir / "veltrinset.ini");
        EXPECT_EQ(file.read("1", shell::settings_key::kMarker), "是");
        EXPECT_EQ(file.read("3", "用户名"), "alice");
        EXPECT_FALSE(fs::exists(settingsDir / shell::kPhoneBookFile));
    }
}

}  // namespace
}  // namespace veltrin

namespace veltrin {
namespace {

TEST_F(MainWindowTest, BothDisconnectsStopEverythingAndReleaseTheLine) {
    LabProcess lab(labConfig());
    struct Case {
        const char* name;
        bool timedChange;
    };
    for (const auto& [name, timedChange] : {Case{"plain", false}, Case{"countdown", true}}) {
        SCOPED_TRACE(name);
        fs::remove_all(settingsDir);
        fs::create_directories(settingsDir);
        acceptTerms();
        auto& window = openShell().window();
        EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));
        window.setText(c::编辑框_用户名, "alice");
        window.setText(c::编辑框_密码, "s3cret");
        window.setTicked(c::单选框_L2TP, true);
        window.setTicked(c::选择框_定时连断, timedChange);
        window.setText(c::编辑框_连断时间秒, "60");
        auto& state = workflows::connectionState();
        state.serverAddress.set(lab.address("上海电信1"));
        state.lineName.set("上海电信1");
        testing::clickConnectWithDeadline(button(c::按钮_连接), state.stopRequested);
        ASSERT_EQ(lab.sessions().size(), 1u);

        button(c::按钮_断开)->click();
        EXPECT_TRUE(pumpUntil([&] {
            return window.text(workflows::kStatusLine) == workflows::status::kManualStop &&
                   window.text(c::按钮_连接) == "启动连接" && window.isEnabled(c::按钮_连接);
        }));
        EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));
        EXPECT_TRUE(lab.sessions().empty());
        EXPECT_TRUE(window.isEnabled(c::编辑框_用户名));
        const auto dials = lab.dials().size();
        EXPECT_FALSE(
            pumpUntil([&] { return lab.dials().size() > dials; }, std::chrono::milliseconds(500)));
        closeShell();
    }
}

}  // namespace
}  // namespace veltrin
