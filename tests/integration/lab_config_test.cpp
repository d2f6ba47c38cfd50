#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "lab/Config.h"
#include "lab/LineProtocol.h"

namespace veltrin::lab {
namespace {

using ::testing::HasSubstr;

TEST(LabConfig, LineDefaults) {
    const LabConfig config =
        parseConfigText(R"({"lines": [{"name": "上海电信1"}, {"name": "北京联通2"}]})");
    EXPECT_EQ(config.adminPort, 0);
    ASSERT_EQ(config.lines.size(), 2u);
    const LineConfig& line = config.lines[0];
    EXPECT_EQ(line.name, "上海电信1");
    EXPECT_FALSE(line.address.has_value());
    EXPECT_EQ(line.status, LineStatus::Up);
    EXPECT_EQ(line.protocols,
              (std::vector<Protocol>{Protocol::Pptp, Protocol::L2tp, Protocol::Sstp}));
    EXPECT_TRUE(line.accounts.empty());
    EXPECT_EQ(line.stageDelayMs, 0);
    EXPECT_EQ(line.failure.kind, Failure::Kind::None);
    // Each line gets its own default address so tests can tell lines apart by it.
    EXPECT_EQ(line.pool, std::vector<std::string>{"203.0.113.1"});
    EXPECT_EQ(config.lines[1].pool, std::vector<std::string>{"203.0.113.2"});
}

TEST(LabConfig, EveryKey) {
    const LabConfig config = parseConfigText(R"({
        "admin_port": 8123,
        "lines": [{
            "name": "a", "address": "127.9.8.7", "status": "maintenance",
            "protocols": ["sstp", "pptp", "sstp"],
            "accounts": [{"user": "demo", "password": "demo123"}, {"user": "", "password": ""}],
            "stage_delay_ms": 150, "failure": "error:734",
            "pool": ["58.34.10.1", "58.34.10.2", "58.34.10.1"]
        }]})");
    EXPECT_EQ(config.adminPort, 8123);
    const LineConfig& line = config.lines.at(0);
    EXPECT_EQ(line.address, "127.9.8.7");
    EXPECT_EQ(line.status, LineStatus::Maintenance);
    EXPECT_EQ(line.protocols, (std::vector<Protocol>{Protocol::Sstp, Protocol::Pptp}));
    ASSERT_EQ(line.accounts.size(), 2u);
    EXPECT_EQ(line.accounts[0].user, "demo");
    EXPECT_EQ(line.accounts[0].password, "demo123");
    EXPECT_EQ(line.stageDelayMs, 150);
    EXPECT_EQ(line.failure.kind, Failure::Kind::Error);
    EXPECT_EQ(line.failure.code, 734);
    EXPECT_EQ(line.pool, (std::vector<std::string>{"58.34.10.1", "58.34.10.2", "58.34.10.1"}));
}

TEST(LabConfig, AutoAddressIsLeftToTheLab) {
    const LabConfig config = parseConfigText(R"({"lines": [{"name": "a", "address": "auto"}]})");
    EXPECT_FALSE(config.lines.at(0).address.has_value());
}

struct BadConfig {
    const char* text;
    const char* messagePart;
};

TEST(LabConfig, RejectsBadConfigsNamingTheProblem) {
    const BadConfig cases[] = {
        {R"({"lines": [{"name": "a",)", "JSON"},
        {R"([])", "object"},
        {R"({"lines": [{}]})", "name"},
        {R"({"lines": [{"name": ""}]})", "name"},
        {R"({"lines": [{"name": 5}]})", "name"},
        {R"({"lines": [{"name": "a"}, {"name": "a"}]})", "duplicate"},
        {R"({"lines": [{"name": "a", "address": "10.1.2.3"}]})", "address"},
        {R"({"lines": [{"name": "a", "address": "0.0.0.0"}]})", "address"},
        {R"({"lines": [{"name": "a", "address": "localhost"}]})", "address"},
        {R"({"lines": [{"name": "a", "address": "127.1.2"}]})", "address"},
        {R"({"lines": [{"name": "a", "address": "::1"}]})", "address"},
        {R"({"lines": [{"name": "a", "address": "127.5.5.5"},
                       {"name": "b", "address": "127.5.5.5"}]})",
         "address"},
        {R"({"lines": [{"name": "a", "status": "broken"}]})", "status"},
        {R"({"lines": [{"name": "a", "protocols": ["pptp", "ikev2"]}]})", "protocols"},
        {R"({"lines": [{"name": "a", "protocols": "pptp"}]})", "protocols"},
        {R"({"lines": [{"name": "a", "accounts": [{"user": "x"}]}]})", "accounts"},
        {R"({"lines": [{"name": "a", "accounts": [{"user": "x", "password": 1}]}]})", "password"},
        {R"({"lines": [{"name": "a", "stage_delay_ms": -1}]})", "stage_delay_ms"},
        {R"({"lines": [{"name": "a", "stage_delay_ms": "5"}]})", "stage_delay_ms"},
        {R"({"lines": [{"name": "a", "failure": "explode"}]})", "failure"},
        {R"({"lines": [{"name": "a", "pool": []}]})", "pool"},
        {R"({"lines": [{"name": "a", "pool": ["58.34.10"]}]})", "pool"},
        {R"({"lines": [{"name": "a", "stage_delay": 5}]})", "stage_delay"},
        {R"({"admin_port": 70000})", "admin_port"},
        {R"({"admin_port": "80"})", "admin_port"},
        {R"({"lines": {}})", "lines"},
        {R"({"line": []})", "line"},
    };
    for (const BadConfig& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            parseConfigText(c.text);
            ADD_FAILURE() << "accepted";
        } catch (const ConfigError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.messagePart));
        }
    }
}

TEST(LabConfig, LoadConfigReportsAMissingFile) {
    try {
        loadConfig("/nonexistent/veltrin-lab.json");
        FAIL() << "loaded";
    } catch (const ConfigError& e) {
        EXPECT_THAT(e.what(), HasSubstr("/nonexistent/veltrin-lab.json"));
    }
}

TEST(LabConfig, Failures) {
    using Kind = Failure::Kind;
    struct Case {
        const char* text;
        std::optional<Kind> kind;
        int code;
    };
    const Case cases[] = {
        {"none", Kind::None, 0},
        {"silent", Kind::Silent, 0},
        {"garbage", Kind::Garbage, 0},
        {"close", Kind::Close, 0},
        {"error:691", Kind::Error, 691},
        {"error:1", Kind::Error, 1},
        {"error:", std::nullopt, 0},
        {"error:0", std::nullopt, 0},
        {"error:-5", std::nullopt, 0},
        {"error:69x", std::nullopt, 0},
        {"error:1234567890", std::nullopt, 0},
        {"Silent", std::nullopt, 0},
        {"", std::nullopt, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const auto parsed = parseFailure(c.text);
        ASSERT_EQ(parsed.has_value(), c.kind.has_value());
        if (parsed) {
            EXPECT_EQ(parsed->kind, *c.kind);
            EXPECT_EQ(parsed->code, c.code);
        }
    }
}

TEST(LabConfig, TimeScale) {
    const std::pair<const char*, double> cases[] = {
        {nullptr, 1.0}, {"", 1.0},    {"0.05", 0.05}, {"2", 2.0},   {"0", 1.0},
        {"-1", 1.0},    {"abc", 1.0}, {"1x", 1.0},    {"inf", 1.0}, {"nan", 1.0},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text == nullptr ? "(unset)" : text);
        EXPECT_DOUBLE_EQ(parseTimeScale(text), expected);
    }
}

TEST(LabLineProtocol, ParsesDialLines) {
    const auto request = parseDialLine("DIAL sstp e794a8e688b7 70617373203121");
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->protocol, Protocol::Sstp);
    EXPECT_EQ(request->user, "用户");
    EXPECT_EQ(request->password, "pass 1!");

    const auto empty = parseDialLine("DIAL pptp - -");
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->user, "");
    EXPECT_EQ(empty->password, "");
}

TEST(LabLineProtocol, RejectsMalformedDialLines) {
    const char* cases[] = {
        "",
        "DIAL",
        "DIAL pptp 64656d6f",
        "DIAL pptp 64656d6f 64656d6f 00",
        "DIAL ikev2 64656d6f 64656d6f",
        "dial pptp 64656d6f 64656d6f",
        "DIAL PPTP 64656d6f 64656d6f",
        "DIAL pptp 64656D6F 64656d6f",  // upper-case hex
        "DIAL pptp 64656d6 64656d6f",   // odd length
        "DIAL pptp 6465xx6f 64656d6f",
        "DIAL pptp  64656d6f",
        "DIAL pptp 64656d6f 64656d6f\r",
        "DIAL  pptp 64656d6f 64656d6f",
    };
    for (const char* line : cases) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(parseDialLine(line).has_value());
    }
}

}  // namespace
}  // namespace veltrin::lab
