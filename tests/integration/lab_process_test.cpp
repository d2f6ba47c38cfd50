#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/LabProcess.h"
#include "support/LineClient.h"

namespace veltrin::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr double kFast = 0.01;
constexpr int kEndlessDelayMs = 10'000'000;
constexpr auto kExitDeadline = std::chrono::seconds(10);

json demoLine(const std::string& name, json extra = json::object()) {
    json l = {{"name", name}, {"accounts", {{{"user", "demo"}, {"password", "demo123"}}}}};
    l.update(extra);
    return l;
}

TEST(LabProcessExit, BadConfigExitsWithTwoAndSaysWhy) {
    TempDir dir;
    struct Case {
        std::string label;
        std::vector<std::string> args;
        std::string messagePart;
    };
    const Case cases[] = {
        {"no arguments", {}, "usage"},
        {"unknown option", {"--frobnicate"}, "usage"},
        {"unreadable file", {(dir.path() / "missing.json").string()}, "missing.json"},
        {"directory", {dir.path().string()}, "bad config"},
        {"bad JSON", {dir.write("bad.json", "{\"lines\": [").string()}, "JSON"},
        {"missing name",
         {dir.write("noname.json", R"({"lines": [{"address": "auto"}]})").string()},
         "name"},
        {"non-loopback address",
         {dir.write("remote.json", R"({"lines": [{"name": "a", "address": "192.0.2.1"}]})")
              .string()},
         "address"},
        {"any address",
         {dir.write("any.json", R"({"lines": [{"name": "a", "address": "0.0.0.0"}]})").string()},
         "address"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const LabExit run = runLabToExit(c.args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_THAT(run.stderrText, HasSubstr(c.messagePart));
        EXPECT_EQ(run.stdoutText, "");
    }
}

TEST(LabProcessExit, ReadyLineMatchesTheReadyFile) {
    LabProcess lab({{"lines", {demoLine("上海电信1"), demoLine("b", {{"status", "down"}})}}},
                   kFast);
    const std::string out = lab.stdoutText();
    const std::string prefix = "veltrin-lab ready ";
    ASSERT_THAT(out, StartsWith(prefix));
    ASSERT_EQ(out.find('\n'), out.size() - 1) << "one line";
    const json ready = json::parse(out.substr(prefix.size()));
    EXPECT_EQ(ready["admin"], lab.adminUrl());
    EXPECT_THAT(lab.adminUrl(), StartsWith("http://127.0.0.1:"));
    ASSERT_EQ(ready["lines"].size(), 2u);
    EXPECT_EQ(ready["lines"][0]["name"], "上海电信1");
    EXPECT_EQ(ready["lines"][0]["address"], lab.address("上海电信1"));
    EXPECT_EQ(ready["lines"][0]["protocols"], json({"pptp", "l2tp", "sstp"}));
    EXPECT_EQ(ready["lines"][1]["status"], "down");
    EXPECT_EQ(ready["lines"], lab.get("/admin/lines"));
}

TEST(LabProcessExit, AdminShutdownClosesOpenTunnelsAndExitsZero) {
    LabProcess lab({{"lines", {demoLine("a"), demoLine("silent", {{"failure", "silent"}})}}},
                   kFast);
    LineClient tunnel(lab.address("a"), linePort("pptp"));
    EXPECT_EQ(tunnel.dial("pptp", "demo", "demo123").back(), "CONNECTED 203.0.113.1");
    LineClient silent(lab.address("silent"), linePort("pptp"));
    ASSERT_TRUE(LabProcess::waitFor([&] { return lab.dials().size() == 2; }));

    EXPECT_EQ(lab.post("/admin/shutdown")["shutting_down"], true);
    EXPECT_EQ(lab.waitForExit(kExitDeadline), 0) << lab.stderrText();
    EXPECT_EQ(tunnel.readUntilClosed(), "");
    EXPECT_EQ(silent.readUntilClosed(), "");
}

TEST(LabProcessExit, SignalsEndTheLabDuringAStageDelay) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        LabProcess lab({{"lines", {demoLine("a", {{"stage_delay_ms", kEndlessDelayMs}})}}}, kFast);
        LineClient client(lab.address("a"), linePort("sstp"));
        EXPECT_EQ(client.readLine(), "HELLO veltrin-lab 1");
        client.send(dialLine("sstp", "demo", "demo123"));
        ASSERT_TRUE(LabProcess::waitFor([&] { return lab.dials().back()["user"] == "demo"; }));

        lab.terminate(signal);
        EXPECT_EQ(lab.waitForExit(kExitDeadline), 0) << lab.stderrText();
        EXPECT_EQ(client.readUntilClosed(), "");
    }
}

std::size_t entries(const std::filesystem::path& dir) {
    std::size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++n;
    }
    return n;
}

TEST(LabProcessExit, FinishedConnectionsGiveBackTheirThreadsAndDescriptors) {
    LabProcess lab({{"lines", {demoLine("a"), demoLine("b", {{"failure", "error:629"}})}}}, kFast);
    const auto proc = std::filesystem::path("/proc") / std::to_string(lab.pid());
    const auto threadsNow = [&] { return entries(proc / "task"); };
    const auto descriptorsNow = [&] { return entries(proc / "fd"); };
    // An answered request means the admin server's worker threads exist.
    lab.get("/admin/lines");
    const std::size_t threads = threadsNow();
    const std::size_t descriptors = descriptorsNow();
    ASSERT_GT(threads, 0u);

    for (int i = 0; i < 150; ++i) {
        {
            LineClient client(lab.address("a"), linePort("pptp"));
            ASSERT_EQ(client.dial("pptp", "demo", "demo123").back(), "CONNECTED 203.0.113.1");
        }
        LineClient refused(lab.address("b"), linePort("l2tp"));
        ASSERT_EQ(refused.dial("l2tp", "demo", "demo123").back(), "ERROR 629");
    }
    // Several sessions open at once, then all hung up together.
    {
        std::vector<std::unique_ptr<LineClient>> open;
        for (int i = 0; i < 20; ++i) {
            open.push_back(std::make_unique<LineClient>(lab.address("a"), linePort("sstp")));
            ASSERT_EQ(open.back()->dial("sstp", "demo", "demo123").back(), "CONNECTED 203.0.113.1");
        }
        EXPECT_GE(threadsNow(), threads + 20);
    }
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
    EXPECT_TRUE(LabProcess::waitFor([&] { return threadsNow() <= threads; }))
        << threadsNow() << " threads, " << threads << " at the start";
    EXPECT_TRUE(LabProcess::waitFor([&] { return descriptorsNow() <= descriptors; }))
        << descriptorsNow() << " descriptors, " << descriptors << " at the start";
}

}  // namespace
}  // namespace veltrin::testing
