#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "service/RemoteParameters.h"

namespace veltrin::service {

// What the common log-off core saw and did.
struct LogoffOutcome final {
    std::string checkAnswer;  // empty: the service did not answer, nothing else happened
    std::string data;         // the answer's data, trimmed
    bool logoffSent = false;
    std::string logoffAnswer;
};

// accountCheck for the name; then sessionLogoff for the online session, when there is one.
LogoffOutcome logoffCore(std::string_view name, const RemoteParameters& parameters);

// The information boxes the log-off button shows for an outcome, in order.
std::vector<std::string> forceLogoffMessages(const LogoffOutcome& outcome);

// What forceLogoff needs of the main window. Calls come from the worker thread.
class LogoffView {
public:
    virtual ~LogoffView() = default;
    virtual void setLogoffButtonEnabled(bool enabled) = 0;
    // An information box with the default title; returns when it is closed.
    virtual void showInformation(const std::string& text) = 0;
};

// The log-off button's worker.
void forceLogoff(std::string_view name, LogoffView& view, const RemoteParameters& parameters);
void forceLogoff(std::string_view name, LogoffView& view);

// After a failed dial: ends the account's online session, shows nothing, keeps nothing.
void releaseSessionQuietly(std::string_view name, const RemoteParameters& parameters);
void releaseSessionQuietly(std::string_view name);

}  // namespace veltrin::service
