#include "shell/MainShell.h"

#include <QAbstractButton>
#include <QTimer>

#include <ctime>
#include <system_error>

#include "engine/Wait.h"
#include "service/Account.h"
#include "service/Endpoints.h"
#include "service/Logoff.h"
#include "service/RemoteParameters.h"
#include "service/ServerList.h"
#include "shell/CurrentIpQuery.h"
#include "shell/ExpiryQuery.h"
#include "shell/Settings.h"
#include "shell/Startup.h"
#include "text/LocalText.h"
#include "workflows/ConnectCommand.h"
#include "workflows/ConnectionMonitor.h"
#include "workflows/Controls.h"
#include "workflows/DisconnectCommands.h"
#include "workflows/ListCycle.h"
#include "workflows/LocalNetworkCommands.h"
#include "workflows/ResultsLog.h"
#include "workflows/StatusChannel.h"
#include "workflows/TimedChange.h"
#include "workflows/VerifyIp.h"
#include "workflows/Workers.h"

namespace veltrin::shell {
namespace {

namespace c = workflows::control;
namespace fs = std::filesystem;
using engine::WaitPumping;

constexpr int kStalePhoneBookDelayMs = 500;

void removeIfPresent(const fs::path& file) {
    std::error_code ec;
    fs::remove(file, ec);
}

}  // namespace

MainShell::MainShell(ShellOptions options, engine::DialEngine& engine)
    : options_(std::move(options)),
      engine_(engine),
      settings_(options_.settingsDirectory / "veltrinset.ini") {
    auto& state = workflows::connectionState();
    window_ = std::make_unique<MainWindowView>(model_, state);
    context_ = std::make_unique<workflows::MainContext>(
        workflows::MainContext{*window_, state, engine_, {}});
    auto& actions = context_->actions;
    actions.accountCheck = [](const std::string& name) { return service::accountCheck(name); };
    actions.queryExpiry = [this] { runExpiryQuery(*window_); };
    actions.hideToTray = [this] { window_->hideToTray(); };
    hotKey_ = platform::makeHotKey();
    wireWorkflows();
    wireControls();
}

MainShell::~MainShell() {
    removeHotKey();
    if (timers_) {
        timers_->stopAll();
    }
    if (alarm_) {
        alarm_->stop();
    }
}

platform::LocalNetworkSwitch& MainShell::localNetwork() {
    std::lock_guard lock(networkMutex_);
    if (!network_) {
        network_ = platform::makeLocalNetworkSwitch(options_.settingsDirectory);
    }
    return *network_;
}

// The follow-up workflows of a connect, the timers they arm and the sound they make.
void MainShell::wireWorkflows() {
    auto& ctx = *context_;
    auto& actions = ctx.actions;
    alarm_ = platform::makeAlarmPlayer();
    timers_ = std::make_unique<workflows::OneShotTimers>();
    timers_->setHandler(c::时钟_定时自动换ip, [&ctx] { workflows::onChangeTimerTick(ctx); });
    timers_->setHandler(c::时钟_自动列表循环, [&ctx] { workflows::onListCycleTick(ctx); });
    timers_->setHandler(c::时钟_时间大于50秒出现重复ip定时自动换ip,
                        [&ctx] { workflows::onRepeatRestartTick(ctx); });
    actions.setTimer = [this](std::string_view timer, int ms) { timers_->arm(timer, ms); };
    actions.stopChangeTimers = [this] {
        for (auto timer : {c::时钟_自动列表循环, c::时钟_定时自动换ip,
                           c::时钟_时间大于50秒出现重复ip定时自动换ip}) {
            timers_->arm(timer, 0);
        }
    };
    actions.startTimedChange = [&ctx] { workflows::startTimedChange(ctx); };
    actions.connectionMonitor = [&ctx] { workflows::connectionMonitor(ctx); };
    actions.verifyNewIp = [&ctx] { workflows::verifyNewIp(ctx); };
    actions.lookupIp = [](std::span<const service::IpSource> order,
                          service::IpLookupResult& result) {
        service::lookupPublicIp(order, result);
    };
    actions.queryCurrentIp = [this] { startCurrentIpQuery(*window_); };
    actions.playAlarmOnce = [this] { alarm_->playOnce(); };
    actions.playAlarmLoop = [this] { alarm_->playLoop(); };
    actions.stopSound = [this] { alarm_->stop(); };
    actions.releaseSessionQuietly = [this] {
        service::releaseSessionQuietly(std::string(text::trimmed(window_->text(c::编辑框_用户名))));
    };
    actions.clearBrowserTraces = [] { workflows::clearBrowserTraces(); };
    actions.disableLocalNetwork = [this] {
        workflows::disableLocalNetwork(*window_, localNetwork());
    };
    actions.setPoolRows = [this](const std::vector<std::vector<std::string>>& rows) {
        std::vector<service::ServerEntry> pool;
        for (const auto& r : rows) {
            const auto col = [&](size_t i) { return i < r.size() ? r[i] : std::string(); };
            pool.push_back({col(0), col(1), col(2), col(3), col(4), col(5), col(6), col(7)});
        }
        model_.setPool(std::move(pool));
        window_->listChanged(service::ServerListId::pool);
    };
}

void MainShell::wireControls() {
    MainWindowView& w = *window_;
    const auto onClick = [&](std::string_view name, std::function<void()> action) {
        auto* button = qobject_cast<QAbstractButton*>(w.control(name));
        QObject::connect(button, &QAbstractButton::clicked, &w, [action] { action(); });
    };
    auto& ctx = *context_;
    onClick(c::按钮_连接, [&ctx] { workflows::connectCommand(ctx); });
    onClick(c::按钮_断开, [&ctx] { workflows::disconnectCommand(ctx); });
    onClick(c::按钮_修复故障,
            [&ctx] { workflows::startWorker([&ctx] { workflows::autoRepair(ctx); }); });
    onClick(c::按钮_测试, [&ctx] { workflows::startWorker([&ctx] { workflows::dropTest(ctx); }); });
    onClick(c::按钮_踢下线, [this] {
        workflows::startWorker(
            [this] { service::forceLogoff(window_->text(c::编辑框_用户名), *window_); });
    });
    onClick(c::按钮_刷新服务器列表, [this] { startServerListLoad(); });
    onClick(c::按钮_查询当前ip, [this] { startCurrentIpQuery(*window_); });
    onClick(c::按钮_清空结果,
            [this] { workflows::startWorker([this] { workflows::clearResults(*window_); }); });
    onClick(c::按钮_保存结果, [this] {
        workflows::startWorker([this] {
            if (window_->isTicked(c::选择框_启动过滤重复ip)) {
                workflows::saveRepeatHistory(*window_, options_.settingsDirectory / kHistoryFile);
                return;
            }
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            workflows::saveResultsLog(*window_, options_.settingsDirectory, local);
        });
    });
    onClick(c::按钮_禁用本地网络, [this] {
        workflows::startWorker(
            [this] { workflows::disableLocalNetwork(*window_, localNetwork()); });
    });
    onClick(c::按钮_启用本地网络, [this] {
        workflows::startWorker([this] { workflows::enableLocalNetwork(*window_, localNetwork()); });
    });
    onClick(c::按钮_记住所有配置, [this] {
        workflows::startWorker(
            [this] { saveSettings(settings_, *window_, workflows::connectionState(), false); });
    });
    w.setListDoubleClick([&ctx] { workflows::onServerListDoubleClick(ctx); });
    w.setExpiryClick([this] { workflows::startWorker(context_->actions.queryExpiry); });

    ChromeActions chrome;
    chrome.quit = [this] { shutdown(); };
    w.setChromeActions(std::move(chrome));
}

void MainShell::start() {
    auto& state = workflows::connectionState();
    state.entryName.set("1");
    startRemoteParameters();
    window_->installTray();
    window_->setVisible(c::超级列表框_线路超级列表2, false);
    loadSettings(settings_, *window_, state, [this] { openTermsGate(); });
    if (window_->isTicked(c::选择框_启动过滤重复ip)) {
        workflows::loadRepeatHistory(*window_, options_.settingsDirectory / kHistoryFile);
    }
    if (window_->isTicked(c::选择框_热键)) {
        registerHotKey();
    }
    startServerListLoad();
    const fs::path phoneBook = options_.settingsDirectory / kPhoneBookFile;
    QTimer::singleShot(kStalePhoneBookDelayMs, window_.get(),
                       [phoneBook] { removeIfPresent(phoneBook); });
    window_->show();
    if (termsGate_) {
        termsGate_->show();
        termsGate_->move(window_->geometry().topRight() + QPoint(10, 0));
    }
}

void MainShell::openTermsGate() {
    if (!termsGate_) {
        termsGate_ = std::make_unique<TermsGate>(settings_, *window_,
                                                 [this](int code) { options_.exitProcess(code); });
    }
    if (window_->QWidget::isVisible()) {
        termsGate_->show();
    }
}

void MainShell::startRemoteParameters() {
    workflows::startWorker([this] {
        const auto decisions = service::fetchRemoteParameters();
        WaitPumping(100);
        if (decisions.noticeBox == service::NoticeBox::navigate) {
            window_->navigateNotice(service::endpointAddress(service::Endpoint::noticePage));
        } else {
            window_->hideNotice();
        }
        if (decisions.forcedUpdate) {
            window_->showMessage(decisions.forcedUpdate->text, 0, decisions.forcedUpdate->title);
            // The self-update window belongs here once it exists; until then the run ends.
            window_->onUi([this] { window_->hide(); });
            exitOnUi(0);
            return;
        }
        if (decisions.newVersionNotice) {
            window_->showMessage(decisions.newVersionNotice->text, 0,
                                 decisions.newVersionNotice->title);
            if (decisions.withdrawal) {
                window_->showMessage(decisions.withdrawal->text, 0, decisions.withdrawal->title);
                WaitPumping(15000);
                exitOnUi(0);
            }
        }
    });
}

void MainShell::startServerListLoad() {
    const fs::path dir = options_.settingsDirectory;
    workflows::startWorker(
        [this, dir] { model_.load(service::currentServerListSources(dir), *window_); });
}

bool MainShell::registerHotKey() {
    hotKeyId_ = hotKey_->registerF1([this] { workflows::hotKeyReconnect(*context_); });
    return hotKeyId_ != 0;
}

void MainShell::removeHotKey() {
    if (hotKey_) {
        hotKey_->unregister(hotKeyId_);
    }
    hotKeyId_ = 0;
}

void MainShell::exitOnUi(int code) {
    window_->onUi([this, code] { options_.exitProcess(code); });
}

void MainShell::shutdown() {
    if (shuttingDown_) {
        return;
    }
    shuttingDown_ = true;
    auto& state = workflows::connectionState();
    state.stopRequested = 1;
    timers_->stopAll();
    alarm_->stop();
    window_->removeTray();
    engine_.hangUp();
    WaitPumping(20);
    engine_.hangUp();
    WaitPumping(100);
    engine_.removeEntry(state.entryName.get());
    WaitPumping(100);
    if (!saveSettings(settings_, *window_, state, true)) {
        window_->showMessage(std::string(kSettingsNotSavedOnExit));
    }
    if (window_->isTicked(c::选择框_启动过滤重复ip)) {
        workflows::saveRepeatHistory(*window_, options_.settingsDirectory / kHistoryFile);
    }
    WaitPumping(100);
    // The phone-book holds the account; nothing of this run may stay behind.
    removeIfPresent(options_.settingsDirectory / kPhoneBookFile);
    options_.exitProcess(0);
}

}  // namespace veltrin::shell
