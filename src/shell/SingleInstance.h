#pragma once

#include <QLocalServer>

#include <functional>
#include <string>

namespace veltrin::shell {

// One main window per user: the running one listens on a local socket named per user, which a
// second start finds and asks to come forward.
class SingleInstance final {
public:
    explicit SingleInstance(std::string name) : name_(std::move(name)) {}

    // True when a running instance answered and was asked to restore itself.
    bool askRunningToShow() const;
    // Starts listening; `onShow` runs on the UI thread for each later start. False on failure.
    bool listen(std::function<void()> onShow);

private:
    std::string name_;
    QLocalServer server_;
};

}  // namespace veltrin::shell
