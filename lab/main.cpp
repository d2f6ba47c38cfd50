#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "Config.h"
#include "Lab.h"

namespace {

constexpr int kExitRuntime = 1;
constexpr int kExitUsage = 2;

struct Arguments {
    std::string config;
    std::optional<std::string> readyFile;
    bool exitWithParent = false;
};

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments args;
    bool haveConfig = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ready-file" && i + 1 < argc) {
            args.readyFile = argv[++i];
        } else if (arg.rfind("--ready-file=", 0) == 0) {
            args.readyFile = arg.substr(std::strlen("--ready-file="));
        } else if (arg == "--exit-with-parent") {
            args.exitWithParent = true;
        } else if (!arg.empty() && arg[0] != '-' && !haveConfig) {
            args.config = arg;
            haveConfig = true;
        } else {
            return std::nullopt;
        }
    }
    if (!haveConfig) {
        return std::nullopt;
    }
    return args;
}

// Readers poll for the file, so they must never see it half written.
void writeAtomically(const std::filesystem::path& path, const std::string& text) {
    const std::filesystem::path temp =
        path.string() + ".tmp-" + std::to_string(static_cast<long>(::getpid()));
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            throw std::runtime_error("cannot write " + temp.string());
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::filesystem::remove(temp);
        throw std::runtime_error("cannot write " + path.string() + ": " + ec.message());
    }
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = parseArguments(argc, argv);
    if (!args) {
        std::cerr << "usage: veltrin-lab CONFIG.json [--ready-file PATH] [--exit-with-parent]\n";
        return kExitUsage;
    }
    if (args->exitWithParent) {
        // A test that crashes must not leave its lab holding ports for the next ones.
        const pid_t parent = ::getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            return kExitRuntime;
        }
    }

    // Blocked before any thread starts so only the waiting thread below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    veltrin::lab::LabConfig config;
    try {
        config = veltrin::lab::loadConfig(args->config);
    } catch (const veltrin::lab::ConfigError& e) {
        std::cerr << "veltrin-lab: bad config: " << e.what() << '\n';
        return kExitUsage;
    }

    const double timeScale = veltrin::lab::parseTimeScale(std::getenv("VELTRIN_TIME_SCALE"));
    veltrin::lab::Lab lab(std::move(config), timeScale);

    std::atomic<bool> signalWaiterDone{false};
    std::thread signalWaiter([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        signalWaiterDone = true;
        lab.requestShutdown();
    });
    const auto endSignalWaiter = [&] {
        if (!signalWaiterDone) {
            pthread_kill(signalWaiter.native_handle(), SIGTERM);
        }
        signalWaiter.join();
    };

    try {
        lab.start();
        const std::string ready = lab.readyInfo().dump();
        if (args->readyFile) {
            writeAtomically(*args->readyFile, ready);
        }
        std::cout << "veltrin-lab ready " << ready << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "veltrin-lab: " << e.what() << '\n';
        lab.stop();
        endSignalWaiter();
        return kExitRuntime;
    }

    lab.waitForShutdownRequest();
    lab.stop();
    endSignalWaiter();
    return 0;
}
