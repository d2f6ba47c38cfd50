#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Config.h"

namespace veltrin::lab {

inline constexpr std::string_view kHelloLine = "HELLO veltrin-lab 1\n";

// Reported for a request the line server cannot read: the nearest remote-access meaning is a
// failed PPP negotiation.
inline constexpr int kBadRequestError = 720;

struct DialRequest {
    Protocol protocol = Protocol::Pptp;
    std::string user;
    std::string password;
};

// Parses a `DIAL <protocol> <user-hex> <password-hex>` line (without its newline). Hex is
// lower-case only and "-" stands for an empty text; anything else gives nothing.
std::optional<DialRequest> parseDialLine(std::string_view line);

std::optional<std::string> decodeHexField(std::string_view field);

}  // namespace veltrin::lab
