// The timed IP change against a zero-delay lab line, many rounds in a row with a small time
// scale. Prints the client's own CPU time per change and what a long run leaves behind:
//   ip_change_overhead_ms, soak_rss_growth_kb, soak_max_threads, soak_fd_growth
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/DialEngine.h"
#include "engine/LabDialFacility.h"
#include "engine/TimeScale.h"
#include "support/LabProcess.h"
#include "workflows/ConnectCommand.h"
#include "workflows/Controls.h"
#include "workflows/DisconnectCommands.h"
#include "workflows/MemoryView.h"
#include "workflows/OneShotTimers.h"
#include "workflows/TimedChange.h"
#include "workflows/Workers.h"

namespace {

namespace fs = std::filesystem;
namespace c = veltrin::workflows::control;
using namespace veltrin;

long statusField(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stol(line.substr(key.size() + 1));
        }
    }
    return 0;
}

long openDescriptors() {
    long n = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        if (std::getenv("SOAK_DEBUG")) {
            std::error_code ec;
            std::cerr << e.path() << " -> " << fs::read_symlink(e.path(), ec) << "\n";
        }
        ++n;
    }
    return n;
}

double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

}  // namespace

int main() {
    const int changes = std::getenv("SOAK_CHANGES") ? std::atoi(std::getenv("SOAK_CHANGES")) : 500;
    // Fixed waits of the ring shrink to a few milliseconds; the lab answers at once.
    engine::setTimeScale(0.002);
    testing::LabProcess lab(nlohmann::json{{"lines",
                                            {{{"name", "bench"},
                                              {"accounts", {{{"user", "u"}, {"password", "p"}}}},
                                              {"stage_delay_ms", 0},
                                              {"pool", {"10.0.0.1", "10.0.0.2", "10.0.0.3"}}}}}},
                            0.002);
    const fs::path dir = fs::temp_directory_path() / ("veltrin-soak-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    {
        engine::DialEngine dialEngine(
            std::make_shared<engine::LabDialFacility>(engine::LabFacilityOptions{dir}),
            dir / "pptp.pbk");
        workflows::MemoryView view;
        workflows::ConnectionState state;
        workflows::OneShotTimers timers;
        workflows::MainContext context{view, state, dialEngine, {}};
        context.actions.setTimer = [&](std::string_view t, int ms) { timers.arm(t, ms); };
        context.actions.stopChangeTimers = [&] { timers.stopAll(); };
        context.actions.startTimedChange = [&] { workflows::startTimedChange(context); };
        timers.setHandler(c::时钟_定时自动换ip, [&] { workflows::onChangeTimerTick(context); });
        view.setText(c::编辑框_用户名, "u");
        view.setText(c::编辑框_密码, "p");
        view.setText(c::编辑框_连断时间秒, "21");
        view.setTicked(c::单选框_PPTP, true);
        view.setTicked(c::选择框_定时连断, true);
        state.serverAddress.set(lab.address("bench"));
        state.lineName.set("bench");

        // Descriptors are compared with no line up at either end: a live tunnel holds two.
        const long fdBefore = openDescriptors();
        workflows::connectCommand(context);
        // Settle the first rounds before measuring, so one-time allocations are not counted.
        view.waitForText(
            c::编辑框_连断计次, [](const std::string& t) { return t == "5"; },
            std::chrono::minutes(2));
        const long rssBefore = statusField("VmRSS");
        const double cpuBefore = cpuMs();
        long maxThreads = 0;
        std::atomic<bool> sampling{true};
        std::thread sampler([&] {
            while (sampling) {
                maxThreads = std::max(maxThreads, statusField("Threads"));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        const std::string target = std::to_string(5 + changes);
        const bool done = view.waitForText(
            c::编辑框_连断计次, [&](const std::string& t) { return t == target; },
            std::chrono::minutes(10));
        const double cpu = cpuMs() - cpuBefore;
        state.stopRequested = 1;
        timers.stopAll();
        workflows::waitForWorkers(std::chrono::seconds(30));
        const long rssAfter = statusField("VmRSS");
        dialEngine.hangUp();
        auto& facility = static_cast<engine::LabDialFacility&>(dialEngine.facility());
        for (int i = 0; i < 1000 && facility.liveThreads() > 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        facility.connections(10);  // lets the facility join the threads of ended dials
        const long fdAfter = openDescriptors();
        sampling = false;
        sampler.join();
        if (!done) {
            std::cout << "ip_change_overhead_ms failed: the ring stopped at "
                      << view.text(c::编辑框_连断计次) << std::endl;
            return 1;
        }
        // The sampler thread is the bench's own; it is not counted.
        std::cout << "ip_change_overhead_ms " << cpu / changes << " ms" << std::endl;
        std::cout << "soak_rss_growth_kb " << (rssAfter - rssBefore) << " kB" << std::endl;
        std::cout << "soak_max_threads " << (maxThreads - 1) << " threads" << std::endl;
        std::cout << "soak_fd_growth " << (fdAfter - fdBefore) << " fds" << std::endl;
    }
    fs::remove_all(dir);
    return 0;
}
