#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <unistd.h>
#include <atomic>
#include <chrono>

#include <cstdlib>
#include <functional>

namespace veltrin::testing {

// One offscreen application for the whole test program.
inline QApplication& guiApp() {
    static int argc = 1;
    static char name[] = "veltrin-gui-test";
    static char* argv[] = {name, nullptr};
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1",
                 0);  // the notice page's browser refuses root otherwise
    }
    // Never destroyed: WebEngine's exit routines crash when the application object goes at exit.
    static QApplication* app = [] {
        QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Handles window events until pred holds or the (unscaled) timeout passes.
inline bool pumpUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return pred();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Clicks the connect button. The command waits inside the click until the line is up; a dial
// that never succeeds would keep it waiting, so the stop flag is raised at a deadline.
inline void clickConnectWithDeadline(QAbstractButton* connect, std::atomic<int>& stopRequested) {
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&stopRequested] { stopRequested = 1; });
    deadline.start(20000);
    connect->click();
    deadline.stop();
}

}  // namespace veltrin::testing
