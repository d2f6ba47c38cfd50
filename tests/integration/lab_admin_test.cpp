#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/LabProcess.h"
#include "support/LineClient.h"

namespace veltrin::testing {
namespace {

using nlohmann::json;
using ::testing::HasSubstr;

constexpr double kFast = 0.01;
constexpr int kEndlessDelayMs = 10'000'000;

json line(const std::string& name, json extra = json::object()) {
    json l = {{"name", name},
              {"accounts", json::array({{{"user", "demo"}, {"password", "demo123"}},
                                        {{"user", "张三"}, {"password", "pw"}}})},
              {"pool", {"58.34." + std::to_string(name.size()) + ".1"}}};
    l.update(extra);
    return l;
}

// An open tunnel: a connected client and the session id the lab gave it.
struct Tunnel {
    std::unique_ptr<LineClient> client;
    std::uint64_t id = 0;
};

Tunnel openTunnel(LabProcess& lab, const std::string& lineName, const std::string& protocol,
                  const std::string& user, const std::string& password) {
    Tunnel t;
    t.client = std::make_unique<LineClient>(lab.address(lineName), linePort(protocol));
    const auto lines = t.client->dial(protocol, user, password);
    if (lines.empty() || lines.back().rfind("CONNECTED ", 0) != 0) {
        throw std::runtime_error("dial did not connect");
    }
    t.id = lab.dials().back()["id"].get<std::uint64_t>();
    return t;
}

std::vector<std::uint64_t> sessionIds(LabProcess& lab) {
    std::vector<std::uint64_t> ids;
    for (const json& s : lab.sessions()) {
        ids.push_back(s["id"].get<std::uint64_t>());
    }
    return ids;
}

TEST(LabAdmin, SessionsListOpenTunnelsOnly) {
    LabProcess lab(
        {{"lines", {line("上海电信1"), line("b", {{"stage_delay_ms", kEndlessDelayMs}})}}}, kFast);
    EXPECT_EQ(lab.publicIp(), "");
    Tunnel first = openTunnel(lab, "上海电信1", "pptp", "demo", "demo123");
    Tunnel second = openTunnel(lab, "上海电信1", "sstp", "张三", "pw");
    // A dial still in its stage delays is no tunnel.
    LineClient dialing(lab.address("b"), linePort("l2tp"));
    EXPECT_EQ(dialing.readLine(), "HELLO veltrin-lab 1");
    dialing.send(dialLine("l2tp", "demo", "demo123"));
    ASSERT_TRUE(LabProcess::waitFor([&] { return lab.dials().back()["user"] == "demo"; }));

    const json sessions = lab.sessions();
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[0]["id"], first.id);
    EXPECT_EQ(sessions[0]["line"], "上海电信1");
    EXPECT_EQ(sessions[0]["protocol"], "pptp");
    EXPECT_EQ(sessions[0]["user"], "demo");
    EXPECT_EQ(sessions[0]["public_ip"], "58.34.13.1");
    EXPECT_GT(sessions[0]["started_ms"].get<std::int64_t>(), 1'600'000'000'000);
    EXPECT_EQ(sessions[1]["id"], second.id);
    EXPECT_EQ(sessions[1]["protocol"], "sstp");
    EXPECT_EQ(sessions[1]["user"], "张三");
    EXPECT_LE(sessions[0]["started_ms"], sessions[1]["started_ms"]);
    EXPECT_NE(first.id, second.id);
}

TEST(LabAdmin, PublicIpFollowsTheNewestOpenTunnel) {
    LabProcess lab({{"lines",
                     {line("a", {{"pool", {"58.34.10.1", "58.34.10.2"}}}),
                      line("bb", {{"pool", {"61.1.1.1"}}})}}},
                   kFast);
    Tunnel a1 = openTunnel(lab, "a", "pptp", "demo", "demo123");
    EXPECT_EQ(lab.publicIp(), "58.34.10.1");
    Tunnel b = openTunnel(lab, "bb", "pptp", "demo", "demo123");
    EXPECT_EQ(lab.publicIp(), "61.1.1.1");
    Tunnel a2 = openTunnel(lab, "a", "l2tp", "demo", "demo123");
    EXPECT_EQ(lab.publicIp(), "58.34.10.2");

    a2.client->close();
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.publicIp() == "61.1.1.1"; }));
    b.client->close();
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.publicIp() == "58.34.10.1"; }));
    a1.client->close();
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.publicIp().empty(); }));
}

TEST(LabAdmin, DropBySessionClosesOnlyThatTunnel) {
    LabProcess lab({{"lines", {line("a")}}}, kFast);
    Tunnel kept = openTunnel(lab, "a", "pptp", "demo", "demo123");
    Tunnel dropped = openTunnel(lab, "a", "pptp", "demo", "demo123");

    const json answer = lab.post("/admin/drop?session=" + std::to_string(dropped.id));
    EXPECT_EQ(answer["dropped"], 1);
    EXPECT_EQ(dropped.client->readUntilClosed(), "");
    EXPECT_EQ(sessionIds(lab), std::vector<std::uint64_t>{kept.id});
    EXPECT_TRUE(kept.client->isOpen());

    // A session that has ended cannot be dropped again; neither can an unknown one.
    for (const std::string& query : {"session=" + std::to_string(dropped.id),
                                     std::string("session=999"), std::string("session=x")}) {
        SCOPED_TRACE(query);
        EXPECT_THROW(lab.post("/admin/drop?" + query), std::runtime_error);
    }
    EXPECT_TRUE(kept.client->isOpen());
}

TEST(LabAdmin, DropByLineAndDropAll) {
    LabProcess lab({{"lines", {line("上海电信1"), line("北京联通2")}}}, kFast);
    Tunnel s1 = openTunnel(lab, "上海电信1", "pptp", "demo", "demo123");
    Tunnel s2 = openTunnel(lab, "上海电信1", "l2tp", "demo", "demo123");
    Tunnel b1 = openTunnel(lab, "北京联通2", "sstp", "demo", "demo123");
    Tunnel b2 = openTunnel(lab, "北京联通2", "pptp", "demo", "demo123");

    lab.drop("上海电信1");
    EXPECT_EQ(s1.client->readUntilClosed(), "");
    EXPECT_EQ(s2.client->readUntilClosed(), "");
    EXPECT_EQ(sessionIds(lab), (std::vector<std::uint64_t>{b1.id, b2.id}));
    EXPECT_TRUE(b1.client->isOpen());

    lab.dropAll();
    EXPECT_EQ(b1.client->readUntilClosed(), "");
    EXPECT_EQ(b2.client->readUntilClosed(), "");
    EXPECT_TRUE(lab.sessions().empty());
    // Dropping ends tunnels, not the record of how their dials went.
    for (const json& dial : lab.dials()) {
        EXPECT_EQ(dial["outcome"], "connected");
    }
}

TEST(LabAdmin, DialsRecordEveryDialInOrder) {
    LabProcess lab({{"lines", {line("a"), line("b", {{"failure", "error:629"}})}}}, kFast);
    { Tunnel t = openTunnel(lab, "a", "pptp", "demo", "demo123"); }
    {
        LineClient client(lab.address("a"), linePort("sstp"));
        client.dial("sstp", "张三", "wrong");
    }
    {
        LineClient client(lab.address("b"), linePort("l2tp"));
        client.dial("l2tp", "demo", "demo123");
    }
    {
        LineClient client(lab.address("a"), linePort("l2tp"));
        EXPECT_EQ(client.readLine(), "HELLO veltrin-lab 1");
    }
    ASSERT_TRUE(LabProcess::waitFor([&] { return lab.dials().back()["outcome"] == "aborted"; }));
    const json dials = lab.dials();
    const std::vector<std::vector<std::string>> expected = {
        {"a", "pptp", "demo", "connected"},
        {"a", "sstp", "张三", "error:691"},
        {"b", "l2tp", "demo", "error:629"},
        {"a", "l2tp", "", "aborted"},
    };
    ASSERT_EQ(dials.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(dials[i]["line"], expected[i][0]);
        EXPECT_EQ(dials[i]["protocol"], expected[i][1]);
        EXPECT_EQ(dials[i]["user"], expected[i][2]);
        EXPECT_EQ(dials[i]["outcome"], expected[i][3]);
    }
}

TEST(LabAdmin, RejectsBadRequests) {
    LabProcess lab({{"lines", {line("a")}}}, kFast);
    struct Case {
        std::string method, path, errorPart;
    };
    const Case cases[] = {
        {"POST", "/admin/drop?line=nope", "404"},
        {"POST", "/admin/drop?line=a&session=1", "400"},
        {"POST", "/admin/refuse-next?line=nope", "404"},
        {"POST", "/admin/refuse-next", "400"},
        {"POST", "/admin/refuse-next?line=a&code=0", "400"},
        {"POST", "/admin/refuse-next?line=a&code=abc", "400"},
        {"POST", "/admin/line?name=nope&status=up", "404"},
        {"POST", "/admin/line?name=a&status=broken", "400"},
        {"POST", "/admin/line?name=a", "400"},
        {"GET", "/admin/nothing", "404"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.path);
        try {
            c.method == "GET" ? lab.get(c.path) : lab.post(c.path);
            ADD_FAILURE() << "accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_THAT(e.what(), HasSubstr("HTTP " + c.errorPart));
        }
    }
    // None of it changed the line.
    EXPECT_EQ(lab.get("/admin/lines")[0]["status"], "up");
    LineClient client(lab.address("a"), linePort("pptp"));
    EXPECT_EQ(client.dial("pptp", "demo", "demo123").back(), "CONNECTED 58.34.1.1");
}

TEST(LabAdmin, LinesListTheConfiguredLines) {
    LabProcess lab({{"lines",
                     {line("上海电信1", {{"protocols", {"sstp", "pptp"}}}),
                      line("b", {{"status", "maintenance"}})}}},
                   kFast);
    const json lines = lab.get("/admin/lines");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["name"], "上海电信1");
    EXPECT_EQ(lines[0]["address"], lab.address("上海电信1"));
    EXPECT_EQ(lines[0]["status"], "up");
    EXPECT_EQ(lines[0]["protocols"], json({"sstp", "pptp"}));
    EXPECT_EQ(lines[1]["name"], "b");
    EXPECT_EQ(lines[1]["status"], "maintenance");
    EXPECT_EQ(lines[1]["protocols"], json({"pptp", "l2tp", "sstp"}));
}

}  // namespace
}  // namespace veltrin::testing
