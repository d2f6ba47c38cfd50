#pragma once

#include <benchmark/benchmark.h>

#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace veltrin::bench {

// A benchmark's median printed as one "<name> <value> ms" figure line.
struct Figure {
    std::string name;
    bool cpuTime = false;  // the process's CPU time instead of the wall time
};

class FigureReporter final : public benchmark::BenchmarkReporter {
public:
    explicit FigureReporter(std::map<std::string, Figure> figures) : figures_(std::move(figures)) {}

    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            const auto figure = figures_.find(run.run_name.function_name);
            if (figure == figures_.end()) {
                continue;
            }
            if (run.error_occurred) {
                std::cout << figure->second.name << " failed: " << run.error_message << std::endl;
            } else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                const double value =
                    figure->second.cpuTime ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
                std::cout << figure->second.name << " " << value << " ms" << std::endl;
            }
        }
    }

private:
    std::map<std::string, Figure> figures_;
};

inline int runFigures(int argc, char** argv, std::map<std::string, Figure> figures) {
    benchmark::Initialize(&argc, argv);
    FigureReporter reporter(std::move(figures));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace veltrin::bench
