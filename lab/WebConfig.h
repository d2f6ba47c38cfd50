#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace veltrin::lab {

// How the web interface behaves, switchable at run time.
enum class Scenario {
    Normal,
    Down,         // accepts and closes at once
    Slow,         // reads the request and never answers
    Trickle,      // answers a long body one byte at a time
    Garbage,      // answers random bytes that are no HTTP
    ForceUpdate,  // remote text: newer version with automatic update on
    Withdraw,     // remote text: newer version, notes shown, this version withdrawn
};

std::string_view scenarioName(Scenario scenario);
std::optional<Scenario> parseScenario(std::string_view text);

struct WebAccount {
    std::string user;
    std::string password;
    std::optional<std::int64_t> endTime;     // Unix seconds
    std::optional<std::int64_t> expiresInS;  // from the lab clock at start
};

struct ServerListEntry {
    std::string name;
    std::string status;  // "0" under maintenance, anything else runs
    std::string ip;
    std::string address;
};

struct SpeedEntry {
    std::string name;
    std::string speed;
    std::string remark;
};

// Head marks and key lines of the remote parameter text. A key mapped to nothing is left out.
struct RemoteParamsConfig {
    std::string version = "9.81";
    std::string notes = "修正若干问题，线路更稳定。";
    std::string withdrawn = "否";
    std::optional<std::string> downloadPage;  // default: the lab's download page
    std::map<std::string, std::optional<std::string>> keys;
};

inline constexpr std::string_view kDefaultSignKey = "Rm4TzWa8PnLc2VyKdHq7XeBf9UgJs3No";

struct WebConfig {
    std::uint16_t port = 18080;
    std::uint16_t tlsPort = 0;
    std::string homeIp = "110.80.1.1";
    std::string homePlace = "福建省厦门市 电信";
    std::optional<std::int64_t> clockMs;  // nothing: the real clock
    std::string signKey{kDefaultSignKey};
    std::string apiid = "198";
    std::int64_t signWindowS = 300;
    std::string onlineInfo = "该账户已在线";
    std::vector<WebAccount> accounts;
    bool serversFromLines = true;
    std::vector<ServerListEntry> servers;
    std::vector<SpeedEntry> speeds;
    RemoteParamsConfig params;
    Scenario scenario = Scenario::Normal;
};

// The top-level keys the web interface owns.
const std::set<std::string>& webConfigKeys();

// Reads those keys of the document; throws ConfigError naming the key.
WebConfig parseWebConfig(const nlohmann::json& document);

}  // namespace veltrin::lab
