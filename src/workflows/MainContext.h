#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/DialEngine.h"
#include "service/IpLookup.h"
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
    // IP verification: a lookup in the given order into the result, the query button's lookup
    // (it reports into the window itself), the tune once, and the one-shot timers by name
    // (period in milliseconds, 0 stops).
    std::function<void(std::span<const service::IpSource>, service::IpLookupResult&)> lookupIp;
    std::function<void()> queryCurrentIp;
    std::function<void()> playAlarmOnce;
    std::function<void(std::string_view timer, int milliseconds)> setTimer;
    // Replaces the rows of the hidden pool list (list cycling refills it for mix rows).
    std::function<void(const std::vector<std::vector<std::string>>& rows)> setPoolRows;
};

// Everything the main window's workflows work with.
struct MainContext {
    View& view;
    ConnectionState& state;
    engine::DialEngine& engine;
    MainActions actions;
};

}  // namespace veltrin::workflows
