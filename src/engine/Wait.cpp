#include "engine/Wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <thread>

#include "engine/TimeScale.h"

namespace veltrin::engine {

void WaitPumping(int milliseconds) {
    const auto wait = scaled(std::chrono::milliseconds{milliseconds});
    auto* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() != app->thread()) {
        std::this_thread::sleep_for(wait);
        return;
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::chrono::duration_cast<std::chrono::milliseconds>(
        wait + std::chrono::microseconds{999}));
    loop.exec();
}

}  // namespace veltrin::engine
