// Figures of the server list, printed as "<name> <value> <unit>".
#include <benchmark/benchmark.h>

#include "FigureReporter.h"

#include <algorithm>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "service/ServerList.h"
#include "service/ServerListModel.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

namespace {

using namespace veltrin;

constexpr int kLines = 10'000;

// Province-like names: three characters of a small set, so groups of a few servers each, and a
// number; the speed list names them in another order, so the last lines match first rows.
struct Texts {
    std::string answer;  // UTF-8 as the service sends it
    std::string speeds;  // code page 936 as the service sends it

    Texts() {
        const char* syllables[] = {"上", "海", "电", "信", "广", "东", "移", "动", "浙", "江",
                                   "联", "通", "北", "京", "天", "津", "河", "南", "湖", "山"};
        std::mt19937 random(3);
        auto list = nlohmann::ordered_json::array();
        std::vector<std::string> names;
        for (int i = 0; i < kLines; ++i) {
            const int group = i / 4;
            const std::string name = std::string(syllables[group % 20]) +
                                     syllables[(group / 20) % 20] + syllables[(group / 400) % 20] +
                                     "线路" + std::to_string(i);
            names.push_back(name);
            list.push_back(nlohmann::ordered_json{
                {"name", name},
                {"status", random() % 10 == 0 ? "0" : "1"},
                {"ip", "127.1." + std::to_string(i / 256) + "." + std::to_string(i % 256)},
                {"address", "line" + std::to_string(i) + ".lines.test"}});
        }
        answer = list.dump();
        std::shuffle(names.begin(), names.end(), random);
        std::string text;
        for (const auto& name : names) {
            text += "【" + name + "】[" + std::to_string(random() % 100) + "兆](约" +
                    std::to_string(random() % 5000) + "个IP)\r\n";
        }
        speeds = text::toLocal(text);
    }
};

const Texts& texts() {
    static const Texts t;
    return t;
}

std::vector<service::ServerEntry> load() {
    const Texts& t = texts();
    return service::buildServerRows(service::utf8ToLocal(t.answer),
                                    [&] { return service::localBodyToText(t.speeds); });
}

void serverListLoad(benchmark::State& state) {
    texts();
    for (auto _ : state) {
        auto rows = load();
        if (rows.size() < kLines) {
            state.SkipWithError("rows missing");
            break;
        }
        benchmark::DoNotOptimize(rows.data());
    }
}
BENCHMARK(serverListLoad)->Repetitions(7)->Unit(benchmark::kMillisecond);

void serverListSearch(benchmark::State& state) {
    service::ServerListModel model;
    model.setFullList(load());
    for (auto _ : state) {
        model.search("线路12");
        benchmark::DoNotOptimize(model.rowCount(service::ServerListId::search));
    }
    if (model.rowCount(service::ServerListId::search) == 0) {
        state.SkipWithError("search found nothing");
    }
}
BENCHMARK(serverListSearch)->Repetitions(7)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return veltrin::bench::runFigures(argc, argv,
                                      {{"serverListLoad", {"serverlist_load_10k_ms"}},
                                       {"serverListSearch", {"serverlist_search_10k_ms"}}});
}
