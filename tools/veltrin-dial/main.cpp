// A command-line dial of one lab line: prints every status text as it arrives, then probes,
// hangs up and removes the entry. It stands in for the main window in the demo.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/DialEngine.h"
#include "engine/EntryName.h"
#include "engine/Wait.h"
#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace {

namespace fs = std::filesystem;
using namespace veltrin;

int usage() {
    std::cerr << "usage: veltrin-dial --lab-ready FILE --user NAME --password TEXT\n"
                 "                    [--line NAME] [--protocol pptp|l2tp|sstp] [--data DIR]\n";
    return 2;
}

fs::path programDirectory() {
    std::error_code ec;
    const auto exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : exe.parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> args;
    for (int i = 1; i + 1 < argc; i += 2) {
        args[argv[i]] = argv[i + 1];
    }
    if (!args.contains("--lab-ready") || !args.contains("--user") || !args.contains("--password")) {
        return usage();
    }
    nlohmann::json ready;
    try {
        std::ifstream in(args["--lab-ready"]);
        ready = nlohmann::json::parse(in);
    } catch (const std::exception& e) {
        std::cerr << "veltrin-dial: cannot read the lab's ready file: " << e.what() << "\n";
        return 1;
    }
    const std::string wanted = args.contains("--line") ? args["--line"] : "";
    nlohmann::json line;
    for (const auto& l : ready.value("lines", nlohmann::json::array())) {
        if (wanted.empty() || l.value("name", "") == wanted) {
            line = l;
            break;
        }
    }
    if (line.is_null()) {
        std::cerr << "veltrin-dial: the lab has no such line\n";
        return 1;
    }
    const std::string protocol = args.contains("--protocol") ? args["--protocol"] : "pptp";
    const std::map<std::string, int> codes = {
        {"pptp", engine::kPptp}, {"l2tp", engine::kL2tp}, {"sstp", engine::kSstp}};
    if (!codes.contains(protocol)) {
        return usage();
    }
    const int code = codes.at(protocol);
    std::string address = line.value("address", "");
    if (code == engine::kSstp) {
        address += ":4430";
    }

    const fs::path data =
        args.contains("--data") ? fs::path(args["--data"]) : programDirectory() / "vlset";
    fs::create_directories(data);
    auto engine =
        std::make_shared<engine::DialEngine>(engine::makeDialFacility({data}), data / "pptp.pbk");

    workflows::MemoryView view;
    view.onTextChanged([](std::string_view control, const std::string& text) {
        if (control == workflows::kStatusLine) {
            std::cout << "  " << text << std::endl;
        }
    });

    std::cout << "线路 " << line.value("name", "") << "  " << address << "  " << protocol
              << std::endl;
    const std::string entry = engine::makeEntryName();
    engine->provisionEntry(entry, args["--user"], args["--password"], address, code);
    engine->dialEntry(entry, args["--user"], args["--password"], &view, workflows::kStatusLine);

    const bool connected = view.waitForText(
        workflows::kStatusLine,
        [](const std::string& t) { return workflows::statusIs(t, workflows::status::kConnected); },
        std::chrono::seconds(30));
    int result = 0;
    if (connected) {
        const int probe = engine->probeConnection(entry);
        std::cout << "探测连接: " << (probe == 1 ? "已连接" : "未连接") << std::endl;
        result = probe == 1 ? 0 : 1;
        engine::WaitPumping(1000);
    } else {
        std::cout << "未连接成功: " << view.text(workflows::kStatusLine) << std::endl;
        result = 1;
    }
    engine->hangUp();
    engine::WaitPumping(20);
    engine->hangUp();
    engine->removeEntry(entry);
    std::cout << "已断开并删除连接项 " << entry << std::endl;
    return result;
}
