#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace veltrin::engine {

enum ProtocolCode : int { kPptp = 1, kL2tp = 3, kSstp = 5 };

// The settings of one VPN phone-book entry, named after the remote-access members they stand for.
// Members not listed are zero or empty.
struct VpnEntry {
    std::uint32_t dwSize = 2884;
    std::uint32_t dwfOptions = 0x3D0D0210;
    std::uint32_t dwCountryID = 86;
    std::uint32_t dwCountryCode = 86;
    std::string szAreaCode;
    std::string szLocalPhoneNumber;  // the server address, exactly as passed in
    std::uint32_t dwAlternateOffset = 0;
    std::string ipaddr = "0.0.0.0";
    std::string ipaddrDns = "0.0.0.0";
    std::string ipaddrDnsAlt = "0.0.0.0";
    std::string ipaddrWins = "0.0.0.0";
    std::string ipaddrWinsAlt = "0.0.0.0";
    std::uint32_t dwFrameSize = 0;
    std::uint32_t dwfNetProtocols = 4;
    std::uint32_t dwFramingProtocol = 1;
    std::string szScript;
    std::string szAutodialDll;
    std::string szAutodialFunc;
    std::string szDeviceType = "vpn";
    std::string szDeviceName = "WAN 微型端口 (L2TP)";
    std::string szX25PadType;
    std::string szX25Address;
    std::string szX25Facilities;
    std::string szX25UserData;
    std::uint32_t dwChannels = 0;
    std::uint32_t dwReserved1 = 0;
    std::uint32_t dwReserved2 = 0;
    std::uint32_t dwSubEntries = 0;
    std::uint32_t dwDialMode = 1;
    std::uint32_t dwDialExtraPercent = 75;
    std::uint32_t dwDialExtraSampleSeconds = 120;
    std::uint32_t dwHangUpExtraPercent = 10;
    std::uint32_t dwHangUpExtraSampleSeconds = 120;
    std::uint32_t dwIdleDisconnectSeconds = 0;
    std::uint32_t dwType = 2;
    std::uint32_t dwEncryptionType = 3;
    std::uint32_t dwCustomAuthKey = 0;
    std::string guidId = "00000000-0000-0000-0000-000000000000";
    std::string szCustomDialDll;
    std::uint32_t dwVpnStrategy = 0;  // the protocol code, passed through unchanged
    std::uint32_t dwfOptions2 = 0x6F;
    std::uint32_t dwfOptions3 = 0;
    std::string szDnsSuffix;
    std::uint32_t dwTcpWindowSize = 0;
    std::string szPrerequisitePbk;
    std::string szPrerequisiteEntry;
    std::uint32_t dwRedialCount = 0;
    std::uint32_t dwRedialPause = 10;

    bool operator==(const VpnEntry&) const = default;
};

struct Credentials {
    std::uint32_t dwSize = 540;
    std::uint32_t dwMask = 0xB;  // user name, password, default credentials
    std::string szUserName;
    std::string szPassword;
    std::string szDomain;

    bool operator==(const Credentials&) const = default;
};

struct DialParams {
    std::uint32_t dwSize = 1052;
    std::string szEntryName;
    std::string szPhoneNumber;  // empty: the entry's own number (the server address) is used
    std::string szCallbackNumber;
    std::string szUserName;
    std::string szPassword;
    std::string szDomain;
};

VpnEntry makeVpnEntry(std::string_view serverAddress, int protocolCode);
Credentials makeCredentials(std::string_view userName, std::string_view password);
DialParams makeDialParams(std::string_view entryName, std::string_view userName,
                          std::string_view password);

// Bytes (in local text) the platform's fields hold, terminating zero not counted.
inline constexpr std::size_t kMaxServerAddressBytes = 128;
inline constexpr std::size_t kMaxNameBytes = 256;

// Why an entry cannot be written without cutting one of its texts, or nothing when it fits.
std::optional<std::string> oversizeReason(std::string_view entryName, std::string_view userName,
                                          std::string_view password,
                                          std::string_view serverAddress);

}  // namespace veltrin::engine
