#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/DialEngine.h"
#include "platform/HotKey.h"
#include "platform/LocalNetwork.h"
#include "platform/Sound.h"
#include "service/ServerListModel.h"
#include "shell/MainWindowView.h"
#include "shell/ProfileFile.h"
#include "shell/TermsGate.h"
#include "workflows/MainContext.h"
#include "workflows/OneShotTimers.h"

namespace veltrin::shell {

struct ShellOptions {
    std::filesystem::path settingsDirectory;
    // Ends the program; the application never returns from it, a test records the code.
    std::function<void(int code)> exitProcess;
};

// The main window's application: start-up, the wiring of its controls to the workflows, and the
// shutdown sequence.
class MainShell final {
public:
    MainShell(ShellOptions options, engine::DialEngine& engine);
    ~MainShell();
    MainShell(const MainShell&) = delete;
    MainShell& operator=(const MainShell&) = delete;

    // Everything after the single-instance check: tray, settings, history, hot key, the two
    // downloads, the stale phone-book and the window shown.
    void start();
    // Stop, hang up, remove the entry, save settings and history, then exitProcess(0).
    void shutdown();

    MainWindowView& window() { return *window_; }
    workflows::MainContext& context() { return *context_; }
    ProfileFile& settings() { return settings_; }
    service::ServerListModel& serverList() { return model_; }
    TermsGate* termsGate() { return termsGate_.get(); }
    const std::filesystem::path& settingsDirectory() const { return options_.settingsDirectory; }

    bool registerHotKey();
    void removeHotKey();
    int hotKeyId() const { return hotKeyId_; }

    void startServerListLoad();

private:
    void wireControls();
    void openTermsGate();
    void startRemoteParameters();
    void exitOnUi(int code);
    void wireWorkflows();
    platform::LocalNetworkSwitch& localNetwork();

    ShellOptions options_;
    engine::DialEngine& engine_;
    ProfileFile settings_;
    service::ServerListModel model_;
    std::unique_ptr<MainWindowView> window_;
    std::unique_ptr<workflows::MainContext> context_;
    std::unique_ptr<TermsGate> termsGate_;
    std::unique_ptr<platform::HotKey> hotKey_;
    std::unique_ptr<platform::AlarmPlayer> alarm_;
    std::unique_ptr<platform::LocalNetworkSwitch>
        network_;  // made on first use: probing runs nmcli
    std::mutex networkMutex_;
    // The three one-shot timers of the timed change and list cycling; last, so they stop first.
    std::unique_ptr<workflows::OneShotTimers> timers_;
    int hotKeyId_ = 0;
    bool shuttingDown_ = false;
};

}  // namespace veltrin::shell
