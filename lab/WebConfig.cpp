#include "WebConfig.h"

#include <arpa/inet.h>

#include "Config.h"

namespace veltrin::lab {
namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw ConfigError(where + ": " + what);
}

std::string text(const json& value, const std::string& where) {
    if (!value.is_string()) {
        fail(where, "must be a string");
    }
    return value.get<std::string>();
}

std::int64_t integer(const json& value, const std::string& where) {
    if (!value.is_number_integer()) {
        fail(where, "must be an integer");
    }
    return value.get<std::int64_t>();
}

std::uint16_t port(const json& value, const std::string& where) {
    const std::int64_t n = integer(value, where);
    if (n < 0 || n > 65535) {
        fail(where, "must be an integer port number 0..65535");
    }
    return static_cast<std::uint16_t>(n);
}

void onlyKeys(const json& object, const std::set<std::string>& known, const std::string& where) {
    if (!object.is_object()) {
        fail(where, "must be an object");
    }
    for (const auto& [key, value] : object.items()) {
        if (known.count(key) == 0) {
            fail(where, "unknown key \"" + key + "\"");
        }
    }
}

const json& array(const json& value, const std::string& where) {
    if (!value.is_array()) {
        fail(where, "must be an array");
    }
    return value;
}

std::string at(const std::string& where, std::size_t index) {
    return where + "[" + std::to_string(index) + "]";
}

WebAccount account(const json& object, const std::string& where) {
    onlyKeys(object, {"user", "password", "end_time", "expires_in_s"}, where);
    if (!object.contains("user") || !object.contains("password")) {
        fail(where, "needs both \"user\" and \"password\"");
    }
    WebAccount a{text(object["user"], where + ".user"),
                 text(object["password"], where + ".password"),
                 {},
                 {}};
    if (object.contains("end_time") && object.contains("expires_in_s")) {
        fail(where, "give end_time or expires_in_s, not both");
    }
    if (object.contains("end_time")) {
        a.endTime = integer(object["end_time"], where + ".end_time");
    }
    if (object.contains("expires_in_s")) {
        a.expiresInS = integer(object["expires_in_s"], where + ".expires_in_s");
    }
    return a;
}

ServerListEntry server(const json& object, const std::string& where) {
    onlyKeys(object, {"name", "status", "ip", "address"}, where);
    if (!object.contains("name")) {
        fail(where, "missing \"name\"");
    }
    ServerListEntry s{text(object["name"], where + ".name"), "1", "127.0.0.1", {}};
    if (object.contains("status")) {
        s.status = text(object["status"], where + ".status");
    }
    if (object.contains("ip")) {
        s.ip = text(object["ip"], where + ".ip");
    }
    s.address = object.contains("address") ? text(object["address"], where + ".address") : s.ip;
    return s;
}

SpeedEntry speed(const json& object, const std::string& where) {
    onlyKeys(object, {"name", "speed", "remark"}, where);
    if (!object.contains("name") || !object.contains("speed")) {
        fail(where, "needs \"name\" and \"speed\"");
    }
    return {text(object["name"], where + ".name"), text(object["speed"], where + ".speed"),
            object.contains("remark") ? text(object["remark"], where + ".remark") : ""};
}

RemoteParamsConfig remoteParams(const json& object, const std::string& where) {
    onlyKeys(object, {"version", "notes", "withdrawn", "download_page", "keys"}, where);
    RemoteParamsConfig p;
    if (object.contains("version")) {
        p.version = text(object["version"], where + ".version");
    }
    if (object.contains("notes")) {
        p.notes = text(object["notes"], where + ".notes");
    }
    if (object.contains("withdrawn")) {
        p.withdrawn = text(object["withdrawn"], where + ".withdrawn");
    }
    if (object.contains("download_page")) {
        p.downloadPage = text(object["download_page"], where + ".download_page");
    }
    if (object.contains("keys")) {
        const json& keys = object["keys"];
        if (!keys.is_object()) {
            fail(where + ".keys", "must be an object");
        }
        for (const auto& [key, value] : keys.items()) {
            if (key.empty()) {
                fail(where + ".keys", "a key name must not be empty");
            }
            if (value.is_null()) {
                p.keys[key] = std::nullopt;
            } else {
                p.keys[key] = text(value, where + ".keys." + key);
            }
        }
    }
    return p;
}

}  // namespace

std::string_view scenarioName(Scenario scenario) {
    switch (scenario) {
        case Scenario::Normal:
            return "normal";
        case Scenario::Down:
            return "down";
        case Scenario::Slow:
            return "slow";
        case Scenario::Trickle:
            return "trickle";
        case Scenario::Garbage:
            return "garbage";
        case Scenario::ForceUpdate:
            return "force_update";
        case Scenario::Withdraw:
            return "withdraw";
    }
    return "?";
}

std::optional<Scenario> parseScenario(std::string_view name) {
    for (Scenario s : {Scenario::Normal, Scenario::Down, Scenario::Slow, Scenario::Trickle,
                       Scenario::Garbage, Scenario::ForceUpdate, Scenario::Withdraw}) {
        if (scenarioName(s) == name) {
            return s;
        }
    }
    return std::nullopt;
}

const std::set<std::string>& webConfigKeys() {
    static const std::set<std::string> keys = {
        "web_port",        "web_tls_port",  "home_ip",   "home_place",
        "web_clock_ms",    "web_sign_key",  "web_apiid", "web_sign_window_s",
        "web_online_info", "web_accounts",  "servers",   "servers_from_lines",
        "speeds",          "remote_params", "scenario"};
    return keys;
}

WebConfig parseWebConfig(const json& d) {
    WebConfig w;
    if (d.contains("web_port")) {
        w.port = port(d["web_port"], "web_port");
    }
    if (d.contains("web_tls_port")) {
        w.tlsPort = port(d["web_tls_port"], "web_tls_port");
    }
    if (d.contains("home_ip")) {
        w.homeIp = text(d["home_ip"], "home_ip");
        in_addr parsed{};
        if (inet_pton(AF_INET, w.homeIp.c_str(), &parsed) != 1) {
            fail("home_ip", "\"" + w.homeIp + "\" is not an IPv4 address");
        }
    }
    if (d.contains("home_place")) {
        w.homePlace = text(d["home_place"], "home_place");
    }
    if (d.contains("web_clock_ms")) {
        w.clockMs = integer(d["web_clock_ms"], "web_clock_ms");
    }
    if (d.contains("web_sign_key")) {
        w.signKey = text(d["web_sign_key"], "web_sign_key");
    }
    if (d.contains("web_apiid")) {
        w.apiid = text(d["web_apiid"], "web_apiid");
    }
    if (d.contains("web_sign_window_s")) {
        w.signWindowS = integer(d["web_sign_window_s"], "web_sign_window_s");
        if (w.signWindowS < 0) {
            fail("web_sign_window_s", "must be >= 0");
        }
    }
    if (d.contains("web_online_info")) {
        w.onlineInfo = text(d["web_online_info"], "web_online_info");
    }
    if (d.contains("web_accounts")) {
        const json& list = array(d["web_accounts"], "web_accounts");
        for (std::size_t i = 0; i < list.size(); ++i) {
            w.accounts.push_back(account(list[i], at("web_accounts", i)));
        }
    }
    if (d.contains("servers_from_lines")) {
        if (!d["servers_from_lines"].is_boolean()) {
            fail("servers_from_lines", "must be true or false");
        }
        w.serversFromLines = d["servers_from_lines"].get<bool>();
    }
    if (d.contains("servers")) {
        const json& list = array(d["servers"], "servers");
        for (std::size_t i = 0; i < list.size(); ++i) {
            w.servers.push_back(server(list[i], at("servers", i)));
        }
    }
    if (d.contains("speeds")) {
        const json& list = array(d["speeds"], "speeds");
        for (std::size_t i = 0; i < list.size(); ++i) {
            w.speeds.push_back(speed(list[i], at("speeds", i)));
        }
    }
    if (d.contains("remote_params")) {
        w.params = remoteParams(d["remote_params"], "remote_params");
    }
    if (d.contains("scenario")) {
        const std::string name = text(d["scenario"], "scenario");
        const auto parsed = parseScenario(name);
        if (!parsed) {
            fail("scenario", "\"" + name +
                                 "\" is not normal, down, slow, trickle, garbage, force_update or "
                                 "withdraw");
        }
        w.scenario = *parsed;
    }
    return w;
}

}  // namespace veltrin::lab
