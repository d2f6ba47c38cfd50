#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "support/LabProcess.h"
#include "support/LineClient.h"

namespace veltrin::testing {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::StartsWith;

constexpr double kFast = 0.01;
// Long enough that a test only passes if the delay is cut short.
constexpr int kEndlessDelayMs = 10'000'000;

const std::vector<std::string> kStagesTo6{"STATE 3", "STATE 4", "STATE 5", "STATE 6"};

json line(const std::string& name, json extra = json::object()) {
    json l = {{"name", name},
              {"accounts", json::array({{{"user", "demo"}, {"password", "demo123"}},
                                        {{"user", "用户"}, {"password", "密码 1"}}})},
              {"stage_delay_ms", 20}};
    l.update(extra);
    return l;
}

json config(std::vector<json> lines) {
    return {{"lines", lines}};
}

std::vector<std::string> connectedLines(const std::string& publicIp) {
    std::vector<std::string> lines = kStagesTo6;
    lines.push_back("STATE 14");
    lines.push_back("STATE 18");
    lines.push_back("CONNECTED " + publicIp);
    return lines;
}

std::vector<std::string> errorLines(int code) {
    std::vector<std::string> lines = kStagesTo6;
    lines.push_back("ERROR " + std::to_string(code));
    return lines;
}

json lastDial(LabProcess& lab) {
    const json dials = lab.dials();
    return dials.empty() ? json() : dials.back();
}

bool lastOutcomeIs(LabProcess& lab, const std::string& outcome) {
    const json dial = lastDial(lab);
    return dial.is_object() && dial["outcome"] == outcome;
}

TEST(LabDial, ConnectsThroughEveryStageHandingOutThePoolInOrder) {
    const std::string name = "上海电信1";
    LabProcess lab(config({line(name, {{"pool", {"58.34.10.1", "58.34.10.2", "58.34.10.1"}}})}),
                   kFast);
    const std::string address = lab.address(name);

    struct Dial {
        std::string protocol, user, password, publicIp;
    };
    const Dial dials[] = {
        {"pptp", "demo", "demo123", "58.34.10.1"},
        {"l2tp", "用户", "密码 1", "58.34.10.2"},
        {"sstp", "demo", "demo123", "58.34.10.1"},
        {"pptp", "demo", "demo123", "58.34.10.1"},  // the pool starts again at the top
        {"sstp", "用户", "密码 1", "58.34.10.2"},
    };
    for (const Dial& d : dials) {
        SCOPED_TRACE(d.protocol + " " + d.user);
        LineClient client(address, linePort(d.protocol));
        EXPECT_THAT(client.dial(d.protocol, d.user, d.password),
                    ElementsAreArray(connectedLines(d.publicIp)));

        const json sessions = lab.sessions();
        ASSERT_EQ(sessions.size(), 1u);
        EXPECT_EQ(sessions[0]["line"], name);
        EXPECT_EQ(sessions[0]["protocol"], d.protocol);
        EXPECT_EQ(sessions[0]["user"], d.user);
        EXPECT_EQ(sessions[0]["public_ip"], d.publicIp);
        EXPECT_EQ(lab.publicIp(), d.publicIp);
        // Connected means silence until one side hangs up.
        EXPECT_EQ(client.available(), "");
        EXPECT_TRUE(client.isOpen());

        client.close();
        EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
    }

    const json recorded = lab.dials();
    ASSERT_EQ(recorded.size(), std::size(dials));
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(recorded[i]["line"], name);
        EXPECT_EQ(recorded[i]["protocol"], dials[i].protocol);
        EXPECT_EQ(recorded[i]["user"], dials[i].user);
        EXPECT_EQ(recorded[i]["outcome"], "connected");
    }
}

TEST(LabDial, RefusesAccountsItDoesNotKnowWith691) {
    LabProcess lab(config({line("a"), line("empty", {{"accounts", json::array()}})}), kFast);
    struct Case {
        std::string line, user, password;
    };
    const Case cases[] = {
        {"a", "demo", "wrong"},
        {"a", "other", "demo123"},
        {"a", "DEMO", "demo123"},
        {"a", "demo", ""},
        {"a", "", ""},
        {"a", "用户", "密码1"},
        {"empty", "demo", "demo123"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line + " " + c.user + "/" + c.password);
        LineClient client(lab.address(c.line), linePort("pptp"));
        EXPECT_THAT(client.dial("pptp", c.user, c.password), ElementsAreArray(errorLines(691)));
        EXPECT_EQ(client.readUntilClosed(), "");
        const json dial = lastDial(lab);
        EXPECT_EQ(dial["outcome"], "error:691");
        EXPECT_EQ(dial["user"], c.user);
    }
    // Refused dials take nothing from the pool.
    LineClient client(lab.address("a"), linePort("pptp"));
    EXPECT_THAT(client.dial("pptp", "demo", "demo123"),
                ElementsAreArray(connectedLines("203.0.113.1")));
}

TEST(LabDial, AnswersMalformedRequestsWithAnErrorAndACloseRightAway) {
    LabProcess lab(config({line("a", {{"stage_delay_ms", kEndlessDelayMs}})}), kFast);
    const std::string demo = hexField("demo") + " " + hexField("demo123");
    const std::string cases[] = {
        "DIAL l2tp " + demo + "\n",  // protocol of another port
        "DIAL pptp " + hexField("demo") + "\n",
        "DIAL pptp 64656D6F " + hexField("demo123") + "\n",
        "DIAL pptp 64656d6 " + hexField("demo123") + "\n",
        "DIAL pptp " + demo + "\r\n",
        "dial pptp " + demo + "\n",
        "HELLO veltrin-lab 1\n",
        "\n",
        std::string(5000, 'x'),  // no line end in sight
    };
    for (const std::string& request : cases) {
        SCOPED_TRACE(request.substr(0, 60));
        LineClient client(lab.address("a"), linePort("pptp"));
        EXPECT_EQ(client.readLine(), "HELLO veltrin-lab 1");
        client.send(request);
        EXPECT_EQ(client.readLine(), "ERROR 720");
        EXPECT_EQ(client.readUntilClosed(), "");
        EXPECT_EQ(lastDial(lab)["outcome"], "error:720");
    }
}

TEST(LabDial, RefuseNextEndsOnlyTheNextDialOfThatLine) {
    LabProcess lab(config({line("上海电信1"), line("b")}), kFast);
    const auto dialOnce = [&](const std::string& name) {
        LineClient client(lab.address(name), linePort("l2tp"));
        return client.dial("l2tp", "demo", "demo123");
    };

    lab.refuseNext("上海电信1");
    EXPECT_THAT(dialOnce("b"), ElementsAreArray(connectedLines("203.0.113.2")));
    EXPECT_THAT(dialOnce("上海电信1"), ElementsAreArray(errorLines(691)));
    EXPECT_THAT(dialOnce("上海电信1"), ElementsAreArray(connectedLines("203.0.113.1")));

    lab.refuseNext("上海电信1", 734);
    EXPECT_THAT(dialOnce("上海电信1"), ElementsAreArray(errorLines(734)));
    EXPECT_EQ(lastDial(lab)["outcome"], "error:734");
    EXPECT_THAT(dialOnce("上海电信1"), ElementsAreArray(connectedLines("203.0.113.1")));
}

TEST(LabDial, FailureModesEndTheDialAfterAuthentication) {
    struct Case {
        std::string failure;
        std::vector<std::string> lines;
        std::string outcome;
    };
    const Case cases[] = {
        {"close", kStagesTo6, "closed"},
        {"error:629", errorLines(629), "error:629"},
        {"error:809", errorLines(809), "error:809"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failure);
        LabProcess lab(config({line("a", {{"failure", c.failure}})}), kFast);
        LineClient client(lab.address("a"), linePort("sstp"));
        EXPECT_THAT(client.dial("sstp", "demo", "demo123"), ElementsAreArray(c.lines));
        EXPECT_EQ(client.readUntilClosed(), "");
        EXPECT_EQ(lastDial(lab)["outcome"], c.outcome);
        EXPECT_TRUE(lab.sessions().empty());
    }
}

TEST(LabDial, GarbageLineAnswersBytesThatAreNoProtocol) {
    LabProcess lab(config({line("a", {{"failure", "garbage"}})}), kFast);
    LineClient client(lab.address("a"), linePort("pptp"));
    EXPECT_EQ(client.readLine(), "HELLO veltrin-lab 1");
    client.send(dialLine("pptp", "demo", "demo123"));
    const std::string answer = client.readUntilClosed();
    EXPECT_FALSE(answer.empty());
    for (const char* word : {"STATE", "ERROR", "CONNECTED", "HELLO"}) {
        EXPECT_THAT(answer, ::testing::Not(StartsWith(word)));
    }
    EXPECT_EQ(answer.find('\n'), std::string::npos);
    const json dial = lastDial(lab);
    EXPECT_EQ(dial["outcome"], "garbage");
    EXPECT_EQ(dial["user"], "demo");
}

TEST(LabDial, SilentLineReadsTheDialButNeverAnswers) {
    LabProcess lab(config({line("a", {{"failure", "silent"}})}), kFast);
    LineClient client(lab.address("a"), linePort("l2tp"));
    client.send(dialLine("l2tp", "demo", "demo123"));
    // The user in the record shows the lab has read the DIAL line.
    ASSERT_TRUE(LabProcess::waitFor([&] {
        const json dial = lastDial(lab);
        return dial.is_object() && dial["user"] == "demo";
    }));
    EXPECT_EQ(lastDial(lab)["outcome"], "silent");
    EXPECT_EQ(client.available(), "");
    EXPECT_TRUE(client.isOpen());
    EXPECT_TRUE(lab.sessions().empty());

    lab.drop("a");
    EXPECT_EQ(client.readUntilClosed(), "");
}

TEST(LabDial, ClientClosingMidDialIsRecordedAsAborted) {
    LabProcess lab(config({line("a", {{"stage_delay_ms", kEndlessDelayMs}})}), kFast);

    LineClient beforeDial(lab.address("a"), linePort("pptp"));
    EXPECT_EQ(beforeDial.readLine(), "HELLO veltrin-lab 1");
    beforeDial.close();
    EXPECT_TRUE(LabProcess::waitFor([&] { return lastOutcomeIs(lab, "aborted"); }));
    EXPECT_EQ(lastDial(lab)["user"], "");

    LineClient duringDelay(lab.address("a"), linePort("pptp"));
    EXPECT_EQ(duringDelay.readLine(), "HELLO veltrin-lab 1");
    duringDelay.send(dialLine("pptp", "demo", "demo123"));
    ASSERT_TRUE(LabProcess::waitFor([&] { return lab.dials().size() == 2; }));
    duringDelay.close();
    EXPECT_TRUE(LabProcess::waitFor([&] { return lastOutcomeIs(lab, "aborted"); }));
    EXPECT_EQ(lastDial(lab)["user"], "demo");
}

TEST(LabDial, DropDuringAStageDelayClosesAtOnce) {
    LabProcess lab(config({line("a", {{"stage_delay_ms", kEndlessDelayMs}})}), kFast);
    LineClient client(lab.address("a"), linePort("sstp"));
    EXPECT_EQ(client.readLine(), "HELLO veltrin-lab 1");
    client.send(dialLine("sstp", "demo", "demo123"));
    ASSERT_TRUE(LabProcess::waitFor([&] { return lastDial(lab)["user"] == "demo"; }));
    lab.drop("a");
    EXPECT_EQ(client.readUntilClosed(), "");
    EXPECT_TRUE(LabProcess::waitFor([&] { return lastOutcomeIs(lab, "closed"); }));
}

TEST(LabDial, TimeScaleShortensStageDelays) {
    // A minute per stage unscaled; the reads below give up after five seconds.
    LabProcess lab(config({line("a", {{"stage_delay_ms", 60'000}})}), 0.0002);
    LineClient client(lab.address("a"), linePort("pptp"));
    EXPECT_THAT(client.dial("pptp", "demo", "demo123"),
                ElementsAreArray(connectedLines("203.0.113.1")));
}

TEST(LabLineStatus, DownLineRefusesConnectionsUntilItComesUp) {
    LabProcess lab(config({line("a", {{"status", "down"}})}), kFast);
    ASSERT_EQ(lab.lines().size(), 1u);
    EXPECT_EQ(lab.lines()[0].status, "down");
    const std::string address = lab.address("a");
    EXPECT_THAT(address, StartsWith("127."));
    for (const char* protocol : {"pptp", "l2tp", "sstp"}) {
        EXPECT_TRUE(connectionRefused(address, linePort(protocol))) << protocol;
    }
    EXPECT_TRUE(lab.dials().empty());

    lab.setStatus("a", "up");
    EXPECT_EQ(lab.get("/admin/lines")[0]["status"], "up");
    EXPECT_EQ(lab.get("/admin/lines")[0]["address"], address);
    LineClient client(address, linePort("l2tp"));
    EXPECT_THAT(client.dial("l2tp", "demo", "demo123"),
                ElementsAreArray(connectedLines("203.0.113.1")));

    // Going down drops the open tunnel and closes the listeners again.
    lab.setStatus("a", "down");
    EXPECT_EQ(client.readUntilClosed(), "");
    EXPECT_TRUE(lab.sessions().empty());
    for (const char* protocol : {"pptp", "l2tp", "sstp"}) {
        EXPECT_TRUE(connectionRefused(address, linePort(protocol))) << protocol;
    }

    lab.setStatus("a", "maintenance");
    EXPECT_EQ(lab.get("/admin/lines")[0]["status"], "maintenance");
    LineClient again(address, linePort("pptp"));
    EXPECT_THAT(again.dial("pptp", "demo", "demo123"),
                ElementsAreArray(connectedLines("203.0.113.1")));
}

TEST(LabLineStatus, MaintenanceLineStillAnswers) {
    LabProcess lab(config({line("a", {{"status", "maintenance"}})}), kFast);
    EXPECT_EQ(lab.lines().at(0).status, "maintenance");
    LineClient client(lab.address("a"), linePort("sstp"));
    EXPECT_THAT(client.dial("sstp", "demo", "demo123"),
                ElementsAreArray(connectedLines("203.0.113.1")));
}

TEST(LabLineStatus, UnsupportedProtocolsRefuseTheConnection) {
    LabProcess lab(config({line("l2tp-only", {{"protocols", {"l2tp"}}}),
                           line("no-pptp", {{"protocols", {"sstp", "l2tp"}}})}),
                   kFast);
    EXPECT_THAT(lab.lines().at(0).protocols, ElementsAre("l2tp"));
    EXPECT_TRUE(connectionRefused(lab.address("l2tp-only"), linePort("pptp")));
    EXPECT_TRUE(connectionRefused(lab.address("l2tp-only"), linePort("sstp")));
    EXPECT_TRUE(connectionRefused(lab.address("no-pptp"), linePort("pptp")));
    {
        LineClient client(lab.address("l2tp-only"), linePort("l2tp"));
        EXPECT_THAT(client.dial("l2tp", "demo", "demo123"),
                    ElementsAreArray(connectedLines("203.0.113.1")));
    }
    LineClient client(lab.address("no-pptp"), linePort("sstp"));
    EXPECT_THAT(client.dial("sstp", "demo", "demo123"),
                ElementsAreArray(connectedLines("203.0.113.2")));
    // Still refused after going down and up again.
    lab.setStatus("l2tp-only", "down");
    lab.setStatus("l2tp-only", "up");
    EXPECT_TRUE(connectionRefused(lab.address("l2tp-only"), linePort("pptp")));
    EXPECT_FALSE(connectionRefused(lab.address("l2tp-only"), linePort("l2tp")));
}

TEST(LabLineStatus, AutoAddressesAreDistinctLoopbackAddresses) {
    LabProcess lab(config({line("a"), line("b", {{"status", "down"}}), line("c")}), kFast);
    std::set<std::string> addresses;
    for (const LabLine& l : lab.lines()) {
        EXPECT_THAT(l.address, StartsWith("127."));
        EXPECT_NE(l.address, "127.0.0.1");
        addresses.insert(l.address);
    }
    EXPECT_EQ(addresses.size(), 3u);
}

TEST(LabLineStatus, ExplicitAddressIsUsed) {
    // Derived from the pid so parallel test runs do not collide.
    const int pid = static_cast<int>(::getpid());
    const std::string address =
        "127.3." + std::to_string(pid / 250 % 250) + "." + std::to_string(pid % 250 + 1);
    LabProcess lab(config({line("a", {{"address", address}})}), kFast);
    EXPECT_EQ(lab.address("a"), address);
    LineClient client(address, linePort("pptp"));
    EXPECT_THAT(client.dial("pptp", "demo", "demo123"),
                ElementsAreArray(connectedLines("203.0.113.1")));
}

}  // namespace
}  // namespace veltrin::testing
