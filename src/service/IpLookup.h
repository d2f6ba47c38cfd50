#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "service/RemoteParameters.h"

namespace veltrin::service {

enum class IpSource {
    firstPage,    // IP-echo page that also names the place
    secondPage,   // IP-echo page with the address only
    serviceEcho,  // the service's own echo: the address between "[" and "]"
};

// The orders the callers use.
inline constexpr std::array<IpSource, 3> kVerificationOrder = {
    IpSource::firstPage, IpSource::secondPage, IpSource::serviceEcho};
inline constexpr std::array<IpSource, 3> kSecondLookOrder = {
    IpSource::secondPage, IpSource::firstPage, IpSource::serviceEcho};
inline constexpr std::array<IpSource, 2> kQueryButtonOrder = {IpSource::firstPage,
                                                              IpSource::serviceEcho};

inline constexpr int kIpLookupTimeoutSeconds = 2;

// Filled by a lookup; a later lookup may start from what an earlier one left.
struct IpLookupResult final {
    std::string address;  // as cut, not trimmed
    std::string place;
    bool placeless = false;
    bool operator==(const IpLookupResult&) const = default;
};

struct IpPage final {
    std::string url;
    std::string addressBefore;
    std::string addressAfter;
    std::string placeBefore;  // first page only
    std::string placeAfter;
    bool operator==(const IpPage&) const = default;
};

struct IpSources final {
    IpPage firstPage;
    IpPage secondPage;
    std::string serviceEchoUrl;
    bool operator==(const IpSources&) const = default;
};

// The built-in addresses: the two public pages and the service echo.
struct IpEndpoints final {
    std::string firstPage;
    std::string secondPage;
    std::string serviceEcho;
};

// Deciphers the service echo now; the built-in public pages are served beside it.
IpEndpoints builtInIpEndpoints();

// A page the remote parameters name comes with their markers; otherwise the built-in page with
// the markers it is known to use.
IpSources ipSources(const RemoteParameters& remote, const IpEndpoints& builtIn);

struct IpSourceAnswer final {
    IpSource source;
    bool answered = false;     // the body held text
    bool gaveAddress = false;  // something other than blanks stood between the address markers
    bool operator==(const IpSourceAnswer&) const = default;
};

// Asks the sources in order until the address holds more than blanks. Returns what each source
// that was asked gave. Blocking; shows nothing.
std::vector<IpSourceAnswer> lookupPublicIp(std::span<const IpSource> order, IpLookupResult& result,
                                           const IpSources& sources);
// The same with the current remote parameters and the built-in endpoints.
std::vector<IpSourceAnswer> lookupPublicIp(std::span<const IpSource> order, IpLookupResult& result);

struct TintColour final {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const TintColour&) const = default;
};

inline constexpr std::array<TintColour, 3> kTintColours = {
    TintColour{255, 0, 0}, TintColour{155, 48, 255}, TintColour{34, 139, 34}};

// One of the three tints at random; the caller gives it to the status line.
TintColour tintStatusLine();

// Set by the query button so the query that follows leaves out the second page; the query reads
// and clears it.
extern std::atomic<int> skipSecondPage;

inline constexpr std::string_view kIpQueryFailedText = "软件暂时查询不到，请百度一下ip查询！";

// "当前IP：" and the address, with the place unless the result is placeless.
std::string currentIpLine(const IpLookupResult& result);

// What the query leaves for the window: the status line text and colour, and the text to append
// to the results box.
struct IpQueryReport final {
    IpLookupResult result;
    std::string statusLine;
    std::string resultsAppend;
    TintColour statusColour;
};

IpQueryReport queryCurrentIp(bool skipSecond, const IpSources& sources);
// Takes `skipSecondPage` (and clears it) and the current sources.
IpQueryReport queryCurrentIp();

}  // namespace veltrin::service
