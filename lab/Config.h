#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "WebConfig.h"

namespace veltrin::lab {

enum class Protocol { Pptp, L2tp, Sstp };
inline constexpr std::array<Protocol, 3> kAllProtocols{Protocol::Pptp, Protocol::L2tp,
                                                       Protocol::Sstp};

std::string_view protocolName(Protocol protocol);
std::optional<Protocol> parseProtocol(std::string_view text);
std::uint16_t protocolPort(Protocol protocol);

enum class LineStatus { Up, Down, Maintenance };

std::string_view statusName(LineStatus status);
std::optional<LineStatus> parseStatus(std::string_view text);

struct Account {
    std::string user;
    std::string password;
};

struct Failure {
    enum class Kind { None, Silent, Garbage, Close, Error };
    Kind kind = Kind::None;
    int code = 0;  // only for Kind::Error
};

std::optional<Failure> parseFailure(std::string_view text);

struct LineConfig {
    std::string name;
    std::optional<std::string> address;  // nothing: the lab picks one
    LineStatus status = LineStatus::Up;
    std::vector<Protocol> protocols{kAllProtocols.begin(), kAllProtocols.end()};
    std::vector<Account> accounts;
    double stageDelayMs = 0;
    Failure failure;
    std::vector<std::string> pool;
};

struct LabConfig {
    std::uint16_t adminPort = 0;
    std::vector<LineConfig> lines;
    WebConfig web;
};

class ConfigError final : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// All of these throw ConfigError with a message that names the offending key.
LabConfig parseConfig(const nlohmann::json& document);
LabConfig parseConfigText(std::string_view text);
LabConfig loadConfig(const std::filesystem::path& path);

bool isLoopbackAddress(std::string_view text);

// Anything but a positive finite number gives 1.
double parseTimeScale(const char* text);

}  // namespace veltrin::lab
