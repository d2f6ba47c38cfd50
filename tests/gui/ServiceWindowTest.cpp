// The real main window against a lab that serves the service's web side on the client's built-in
// address (port 18080), so the list, the account check and the address lookups are the real ones.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTimer>

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
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"
#include "workflows/Workers.h"

namespace veltrin {
namespace {

namespace c = workflows::control;
namespace fs = std::filesystem;
using nlohmann::json;
using shell::MessageBoxes;
using testing::LabProcess;
using testing::pumpUntil;
using testing::TempDir;

json labConfig() {
    json line = {{"name", "上海电信1"},
                 {"accounts", json::array({{{"user", "alice"}, {"password", "s3cret"}}})},
                 {"stage_delay_ms", 20},
                 {"pool", json::array({"58.34.10.1", "58.34.10.2"})}};
    return {{"web_port", 18080}, {"lines", json::array({line})}};
}

class ServiceWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::guiApp();
        MessageBoxes::setAutoAnswer(true);
        MessageBoxes::clearShown();
        settingsDir = program.path() / "vlset";
        fs::create_directories(settingsDir);
        shell::ProfileFile file(settingsDir / "veltrinset.ini");
        ASSERT_TRUE(shell::recordTermsAccepted(file));
        auto& state = workflows::connectionState();
        state.stopRequested = 0;
        state.accountVerified = 0;
        engine::installDialEngine(std::make_shared<engine::DialEngine>(
            engine::makeDialFacility({settingsDir}), settingsDir / shell::kPhoneBookFile));
        shellPtr = std::make_unique<shell::MainShell>(
            shell::ShellOptions{settingsDir, [this](int code) { exitCode = code; }},
            engine::dialEngine());
        shellPtr->start();
    }
    void TearDown() override {
        workflows::connectionState().stopRequested = 1;
        EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));
        shellPtr.reset();
        MessageBoxes::setAutoAnswer(false);
    }

    shell::MainWindowView& window() { return shellPtr->window(); }
    void clickConnect() {
        testing::clickConnectWithDeadline(
            qobject_cast<QAbstractButton*>(window().control(c::按钮_连接)),
            workflows::connectionState().stopRequested);
    }

    LabProcess lab{labConfig()};
    TempDir program;
    fs::path settingsDir;
    std::unique_ptr<shell::MainShell> shellPtr;
    std::optional<int> exitCode;
};

TEST_F(ServiceWindowTest, ListLoadsWithItsMixRowAndARefusedAccountIsShownTheServiceInfo) {
    ASSERT_TRUE(pumpUntil([&] { return window().rowCount(c::超级列表框_线路超级列表1) >= 2; }));
    EXPECT_EQ(window().cell(c::超级列表框_线路超级列表1, 0, 7),
              "2");  // the nationwide mix row first
    EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));

    window().setText(c::编辑框_用户名, "nobody");
    window().setText(c::编辑框_密码, "x");
    workflows::connectionState().serverAddress.set(lab.address("上海电信1"));
    clickConnect();
    bool refused = false;
    for (const auto& box : MessageBoxes::shown()) {
        const std::string tail = "账户过期或填错！请先自助或联系客服开通账户再使用！";
        refused = refused || (box.title == "友情提醒" && box.text.size() > tail.size() &&
                              box.text.ends_with(tail));
    }
    EXPECT_TRUE(refused);
    EXPECT_EQ(workflows::connectionState().accountVerified, 0);
    EXPECT_TRUE(window().isEnabled(c::按钮_连接));
    EXPECT_TRUE(lab.dials().empty());
}

TEST_F(ServiceWindowTest, ConnectRecordsTheAddressTheTunnelGot) {
    EXPECT_TRUE(pumpUntil([] { return workflows::runningWorkers() == 0; }));
    window().setText(c::编辑框_用户名, "alice");
    window().setText(c::编辑框_密码, "s3cret");
    window().setTicked(c::单选框_PPTP, true);
    window().setTicked(c::选择框_记录每次连接ip, true);
    workflows::connectionState().serverAddress.set(lab.address("上海电信1"));
    workflows::connectionState().lineName.set("上海电信1");
    clickConnect();
    ASSERT_EQ(lab.sessions().size(), 1u);
    EXPECT_TRUE(pumpUntil([&] {
        return window().text(workflows::kResultsBox).find("当前IP：58.34.10.1") !=
               std::string::npos;
    }));
    qobject_cast<QAbstractButton*>(window().control(c::按钮_断开))->click();
    EXPECT_TRUE(pumpUntil(
        [&] { return window().text(workflows::kStatusLine) == workflows::status::kManualStop; }));
    EXPECT_TRUE(lab.sessions().empty());
}

}  // namespace
}  // namespace veltrin
