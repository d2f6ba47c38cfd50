// The desktop client: the main window, or the legacy window when the marker file asks for it.
#include <unistd.h>

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "engine/DialEngine.h"
#include "engine/Wait.h"
#include "shell/MainShell.h"
#include "shell/SingleInstance.h"
#include "shell/Startup.h"
#include "text/Files.h"

namespace {

using namespace veltrin;

// Ends the process at once: workers may still be waiting on the window, which must not be torn
// down under them. Every file this program writes is complete by then (written and renamed).
[[noreturn]] void endProcess(int code) {
    std::fflush(nullptr);
    ::_exit(code);
}

}  // namespace

int main(int argc, char** argv) {
    if (::geteuid() == 0) {
        // Qt WebEngine refuses to start as root with its sandbox on.
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    QApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const std::filesystem::path programDir = QCoreApplication::applicationDirPath().toStdString();
    const auto choice =
        shell::modeFromMarker(text::readWholeFile(programDir / shell::kMarkerFile).value_or(""));
    if (choice.mode == shell::Mode::legacy) {
        // The legacy dialer is not built yet: its window stands here as the whole program.
        QWidget legacy;
        legacy.setWindowTitle(QString::fromUtf8(shell::kLegacyTitle.data()));
        legacy.resize(520, 400);
        legacy.show();
        QApplication::setQuitOnLastWindowClosed(true);
        endProcess(app.exec());
    }

    shell::SingleInstance instance(shell::instanceName());
    if (instance.askRunningToShow()) {
        endProcess(0);
    }

    const auto settings = shell::prepareSettingsDirectory(programDir, std::getenv("XDG_DATA_HOME"),
                                                          std::getenv("HOME"));
    if (settings.fellBack) {
        std::cerr << "veltrin: " << (programDir / "vlset").string()
                  << " is not writable; settings are kept in " << settings.path.string() << "\n";
    }

    engine::installDialEngine(std::make_shared<engine::DialEngine>(
        engine::makeDialFacility({settings.path}), settings.path / shell::kPhoneBookFile));

    shell::MainShell shell({settings.path, [](int code) { endProcess(code); }},
                           engine::dialEngine());
    instance.listen([&shell] {
        std::cerr << "veltrin: another start asked this window to come forward\n";
        auto& window = shell.window();
        window.showNormal();
        window.raise();
        window.activateWindow();
        // Briefly topmost, so the window manager really puts it in front.
        if (!window.windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
            window.setAlwaysOnTop(true);
            window.setAlwaysOnTop(false);
        }
    });
    shell.start();
    if (choice.waitAfterLoading) {
        engine::WaitPumping(shell::kMarkerWaitMs);
    }
    endProcess(app.exec());
}
