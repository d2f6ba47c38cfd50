#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "service/RemoteParameters.h"

namespace veltrin::service {

// The key the built-in account requests are signed with.
inline constexpr std::string_view kBuiltInSignKey = "Rm4TzWa8PnLc2VyKdHq7XeBf9UgJs3No";

// Seconds from 1970-01-01 08:00:00 local time: the Unix time on a UTC+8 clock, shifted by the
// zone difference elsewhere (the service sees that shift, as it always has).
std::int64_t signTimestampAt(std::time_t unixTime, long utcOffsetSeconds);
std::int64_t signTimestamp();

// MD5 of the code page 936 bytes of the text, as 32 lower-case hex digits.
std::string md5Hex(std::string_view utf8);

// Signed request addresses for one timestamp. The remote variant applies when the parameters
// give an address; `builtInAddress` is the deciphered constant otherwise. The name (already
// trimmed) and the id are signed as they are and escaped in the address.
std::string accountCheckUrl(std::string_view name, std::int64_t timestamp,
                            const RemoteParameters& parameters, std::string_view builtInAddress);
std::string sessionLogoffUrl(std::string_view sessionId, std::int64_t timestamp,
                             const RemoteParameters& parameters, std::string_view builtInAddress);

// The answer (UTF-8, restricted to code page 936), empty when nothing came back. The name is
// trimmed of blanks here.
std::string accountCheck(std::string_view name, const RemoteParameters& parameters);
std::string accountCheck(std::string_view name);
std::string sessionLogoff(std::string_view sessionId, const RemoteParameters& parameters);
std::string sessionLogoff(std::string_view sessionId);

// Pieces of an account-service answer, read by markers rather than as JSON.
std::string answerInfo(std::string_view answer);
std::string answerData(std::string_view answer);
std::string sessionIdOf(std::string_view data);

// Before the first dial of a run: refuse only when the service clearly said no.
struct ConnectDecision final {
    bool passed = true;
    std::string message;  // for the information box when refused
};
ConnectDecision connectTimeDecision(std::string_view answer);

}  // namespace veltrin::service
