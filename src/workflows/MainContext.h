#pragma once

#include <functional>
#include <string>

#include "engine/DialEngine.h"
#include "workflows/ConnectionState.h"
#include "workflows/View.h"

namespace veltrin::workflows {

// The actions the main window's commands start besides dialling. Each may be empty (not yet
// there, or not wanted by a test); a command then skips it. They are started on workers by the
// commands, so each runs on the thread it is called on.
struct MainActions {
    // Account check: the service's answer for an account name (empty when it could not be asked).
    std::function<std::string(const std::string& userName)> accountCheck;
    std::function<void()> queryExpiry;
    std::function<void()> clearBrowserTraces;
    std::function<void()> hideToTray;
    std::function<void()> stopSound;
    // The three one-shot timers of the timed change and list cycling.
    std::function<void()> stopChangeTimers;
    // Follow-ups after a confirmed connection, and the timed change that hands over to list
    // cycling.
    std::function<void()> startTimedChange;
    std::function<void()> connectionMonitor;
    std::function<void()> verifyNewIp;
    // Reactions of the connection monitor.
    std::function<void()> disableLocalNetwork;
    std::function<void()> playAlarmLoop;
    std::function<void()> releaseSessionQuietly;
};

// Everything the main window's workflows work with.
struct MainContext {
    View& view;
    ConnectionState& state;
    engine::DialEngine& engine;
    MainActions actions;
};

}  // namespace veltrin::workflows
