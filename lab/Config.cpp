#include "Config.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace veltrin::lab {
namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
    throw ConfigError(where + ": " + what);
}

const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

std::string stringValue(const json& value, const std::string& where) {
    if (!value.is_string()) {
        fail(where, "must be a string");
    }
    return value.get<std::string>();
}

void rejectUnknownKeys(const json& object, const std::set<std::string>& known,
                       const std::string& where) {
    for (const auto& [key, value] : object.items()) {
        if (known.count(key) == 0) {
            fail(where, "unknown key \"" + key + "\"");
        }
    }
}

bool isIpv4(const std::string& text) {
    in_addr parsed{};
    return inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

LineConfig parseLine(const json& object, std::size_t index, std::set<std::string>& names,
                     std::set<std::string>& addresses) {
    const std::string where = "lines[" + std::to_string(index) + "]";
    if (!object.is_object()) {
        fail(where, "must be an object");
    }
    rejectUnknownKeys(
        object,
        {"name", "address", "status", "protocols", "accounts", "stage_delay_ms", "failure", "pool"},
        where);
    LineConfig line;

    const json* name = member(object, "name");
    if (name == nullptr) {
        fail(where, "missing \"name\"");
    }
    line.name = stringValue(*name, where + ".name");
    if (line.name.empty()) {
        fail(where + ".name", "must not be empty");
    }
    if (!names.insert(line.name).second) {
        fail(where + ".name", "duplicate line name \"" + line.name + "\"");
    }

    if (const json* address = member(object, "address")) {
        std::string text = stringValue(*address, where + ".address");
        if (text != "auto") {
            if (!isLoopbackAddress(text)) {
                fail(where + ".address",
                     "\"" + text + "\" is not \"auto\" or a loopback address 127.x.y.z");
            }
            if (!addresses.insert(text).second) {
                fail(where + ".address", "address " + text + " is used by another line");
            }
            line.address = std::move(text);
        }
    }

    if (const json* status = member(object, "status")) {
        const std::string text = stringValue(*status, where + ".status");
        const auto parsed = parseStatus(text);
        if (!parsed) {
            fail(where + ".status", "\"" + text + "\" is not up, down or maintenance");
        }
        line.status = *parsed;
    }

    if (const json* protocols = member(object, "protocols")) {
        if (!protocols->is_array()) {
            fail(where + ".protocols", "must be an array");
        }
        line.protocols.clear();
        for (const auto& entry : *protocols) {
            const std::string text = stringValue(entry, where + ".protocols");
            const auto parsed = parseProtocol(text);
            if (!parsed) {
                fail(where + ".protocols", "\"" + text + "\" is not pptp, l2tp or sstp");
            }
            bool seen = false;
            for (Protocol p : line.protocols) {
                seen = seen || p == *parsed;
            }
            if (!seen) {
                line.protocols.push_back(*parsed);
            }
        }
    }

    if (const json* accounts = member(object, "accounts")) {
        if (!accounts->is_array()) {
            fail(where + ".accounts", "must be an array");
        }
        for (std::size_t i = 0; i < accounts->size(); ++i) {
            const json& entry = (*accounts)[i];
            const std::string at = where + ".accounts[" + std::to_string(i) + "]";
            if (!entry.is_object()) {
                fail(at, "must be an object with \"user\" and \"password\"");
            }
            rejectUnknownKeys(entry, {"user", "password"}, at);
            const json* user = member(entry, "user");
            const json* password = member(entry, "password");
            if (user == nullptr || password == nullptr) {
                fail(at, "needs both \"user\" and \"password\"");
            }
            line.accounts.push_back(
                {stringValue(*user, at + ".user"), stringValue(*password, at + ".password")});
        }
    }

    if (const json* delay = member(object, "stage_delay_ms")) {
        if (!delay->is_number() || !std::isfinite(delay->get<double>()) ||
            delay->get<double>() < 0) {
            fail(where + ".stage_delay_ms", "must be a number >= 0");
        }
        line.stageDelayMs = delay->get<double>();
    }

    if (const json* failure = member(object, "failure")) {
        const std::string text = stringValue(*failure, where + ".failure");
        const auto parsed = parseFailure(text);
        if (!parsed) {
            fail(where + ".failure",
                 "\"" + text + "\" is not none, silent, garbage, close or error:N");
        }
        line.failure = *parsed;
    }

    if (const json* pool = member(object, "pool")) {
        if (!pool->is_array() || pool->empty()) {
            fail(where + ".pool", "must be a non-empty array of IPv4 addresses");
        }
        for (const auto& entry : *pool) {
            std::string text = stringValue(entry, where + ".pool");
            if (!isIpv4(text)) {
                fail(where + ".pool", "\"" + text + "\" is not an IPv4 address");
            }
            line.pool.push_back(std::move(text));
        }
    } else {
        line.pool.push_back("203.0.113." + std::to_string(index % 254 + 1));
    }
    return line;
}

}  // namespace

std::string_view protocolName(Protocol protocol) {
    switch (protocol) {
        case Protocol::Pptp:
            return "pptp";
        case Protocol::L2tp:
            return "l2tp";
        case Protocol::Sstp:
            return "sstp";
    }
    return "?";
}

std::optional<Protocol> parseProtocol(std::string_view text) {
    for (Protocol p : kAllProtocols) {
        if (protocolName(p) == text) {
            return p;
        }
    }
    return std::nullopt;
}

std::uint16_t protocolPort(Protocol protocol) {
    switch (protocol) {
        case Protocol::Pptp:
            return 1723;
        case Protocol::L2tp:
            return 1701;
        case Protocol::Sstp:
            return 4430;
    }
    return 0;
}

std::string_view statusName(LineStatus status) {
    switch (status) {
        case LineStatus::Up:
            return "up";
        case LineStatus::Down:
            return "down";
        case LineStatus::Maintenance:
            return "maintenance";
    }
    return "?";
}

std::optional<LineStatus> parseStatus(std::string_view text) {
    for (LineStatus s : {LineStatus::Up, LineStatus::Down, LineStatus::Maintenance}) {
        if (statusName(s) == text) {
            return s;
        }
    }
    return std::nullopt;
}

std::optional<Failure> parseFailure(std::string_view text) {
    using Kind = Failure::Kind;
    if (text == "none") {
        return Failure{Kind::None, 0};
    }
    if (text == "silent") {
        return Failure{Kind::Silent, 0};
    }
    if (text == "garbage") {
        return Failure{Kind::Garbage, 0};
    }
    if (text == "close") {
        return Failure{Kind::Close, 0};
    }
    constexpr std::string_view prefix = "error:";
    if (text.substr(0, prefix.size()) != prefix) {
        return std::nullopt;
    }
    const std::string_view digits = text.substr(prefix.size());
    if (digits.empty() || digits.size() > 9) {
        return std::nullopt;
    }
    int code = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        code = code * 10 + (c - '0');
    }
    if (code <= 0) {
        return std::nullopt;
    }
    return Failure{Kind::Error, code};
}

bool isLoopbackAddress(std::string_view text) {
    in_addr parsed{};
    const std::string copy(text);
    if (inet_pton(AF_INET, copy.c_str(), &parsed) != 1) {
        return false;
    }
    return (ntohl(parsed.s_addr) >> 24) == 127;
}

LabConfig parseConfig(const nlohmann::json& document) {
    if (!document.is_object()) {
        throw ConfigError("the config must be a JSON object");
    }
    std::set<std::string> known = webConfigKeys();
    known.insert({"admin_port", "lines"});
    rejectUnknownKeys(document, known, "config");
    LabConfig config;
    if (const json* port = member(document, "admin_port")) {
        if (!port->is_number_integer() || port->get<long long>() < 0 ||
            port->get<long long>() > 65535) {
            fail("admin_port", "must be an integer port number 0..65535");
        }
        config.adminPort = static_cast<std::uint16_t>(port->get<long long>());
    }
    if (const json* lines = member(document, "lines")) {
        if (!lines->is_array()) {
            fail("lines", "must be an array");
        }
        std::set<std::string> names;
        std::set<std::string> addresses;
        for (std::size_t i = 0; i < lines->size(); ++i) {
            config.lines.push_back(parseLine((*lines)[i], i, names, addresses));
        }
    }
    config.web = parseWebConfig(document);
    return config;
}

LabConfig parseConfigText(std::string_view text) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& e) {
        throw ConfigError(std::string("not valid JSON: ") + e.what());
    }
    return parseConfig(document);
}

LabConfig loadConfig(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw ConfigError("cannot read " + path.string() + ": " + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        throw ConfigError("cannot read " + path.string());
    }
    try {
        return parseConfigText(text.str());
    } catch (const ConfigError& e) {
        throw ConfigError(path.string() + ": " + e.what());
    }
}

double parseTimeScale(const char* text) {
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0.0) {
        return 1.0;
    }
    return value;
}

}  // namespace veltrin::lab
