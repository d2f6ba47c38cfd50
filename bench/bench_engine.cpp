// Figures of the dial-up engine against a lab line, printed as "<name> <value> <unit>".
#include <benchmark/benchmark.h>

#include "FigureReporter.h"

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "engine/DialEngine.h"
#include "engine/EntryName.h"
#include "engine/LabDialFacility.h"
#include "engine/Wait.h"
#include "support/LabProcess.h"
#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace {

namespace fs = std::filesystem;
using namespace veltrin;

struct Fixture {
    testing::LabProcess lab{nlohmann::json{{"lines",
                                            {{{"name", "bench"},
                                              {"accounts", {{{"user", "u"}, {"password", "p"}}}},
                                              {"stage_delay_ms", 0},
                                              {"pool", {"10.0.0.1"}}}}}}};
    fs::path dir = fs::temp_directory_path() / ("veltrin-bench-" + std::to_string(::getpid()));
    std::shared_ptr<engine::LabDialFacility> facility;
    std::unique_ptr<engine::DialEngine> engine;
    workflows::MemoryView view;

    Fixture() {
        fs::create_directories(dir);
        facility = std::make_shared<engine::LabDialFacility>(engine::LabFacilityOptions{dir});
        engine = std::make_unique<engine::DialEngine>(facility, dir / "pptp.pbk");
    }
    ~Fixture() {
        engine.reset();
        fs::remove_all(dir);
    }
};

// dial -> connected -> probe -> hang-up -> remove, the client's process CPU time only (the lab is
// another process).
void dialCycle(benchmark::State& state) {
    static Fixture f;
    const std::string address = f.lab.address("bench");
    for (auto _ : state) {
        const std::string name = engine::makeEntryName();
        f.view.setText(workflows::kStatusLine, "");
        f.engine->provisionEntry(name, "u", "p", address, engine::kPptp);
        f.engine->dialEntry(name, "u", "p", &f.view, workflows::kStatusLine);
        if (!f.view.waitForText(
                workflows::kStatusLine,
                [](const std::string& t) { return t == workflows::status::kConnected; },
                std::chrono::seconds(10)) ||
            f.engine->probeConnection(name) != 1) {
            state.SkipWithError("dial did not connect");
            break;
        }
        f.engine->hangUp();
        f.engine->hangUp();
        f.engine->removeEntry(name);
    }
}
BENCHMARK(dialCycle)->MeasureProcessCPUTime()->Iterations(50)->Repetitions(7)->Unit(
    benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return veltrin::bench::runFigures(argc, argv,
                                      {{"dialCycle", {"dial_cycle_client_cpu_ms", true}}});
}
