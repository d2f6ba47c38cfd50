#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/Entry.h"

namespace veltrin::engine {

using ConnectionHandle = std::uint64_t;

// Connection states and the error numbers the facilities report, numbered as remote access does.
namespace state {
inline constexpr int kOpenPort = 0;
inline constexpr int kPortOpened = 1;
inline constexpr int kConnectDevice = 2;
inline constexpr int kDeviceConnected = 3;
inline constexpr int kAllDevicesConnected = 4;
inline constexpr int kAuthenticate = 5;
inline constexpr int kAuthNotify = 6;
inline constexpr int kAuthenticated = 14;
inline constexpr int kProjected = 18;
inline constexpr int kConnected = 0x2000;
inline constexpr int kDisconnected = 0x2001;
}  // namespace state

namespace error {
inline constexpr int kInvalidHandle = 6;
inline constexpr int kCannotOpenPhonebook = 621;
inline constexpr int kCannotFindEntry = 623;
inline constexpr int kRemoteDisconnection = 629;
inline constexpr int kDeviceError = 651;
inline constexpr int kNoAnswer = 678;
inline constexpr int kAuthenticationFailure = 691;
inline constexpr int kPppTimeout = 718;
inline constexpr int kPppNoProtocols = 720;
inline constexpr int kPppLcpTerminated = 734;
inline constexpr int kNoTunnel = 800;
inline constexpr int kServerNotResponding = 809;
inline constexpr int kNameNotResolved = 868;
}  // namespace error

struct ActiveConnection {
    std::string entryName;
    ConnectionHandle handle = 0;
};

// (callback message, connection state, error code); called on a thread of the facility.
using DialProgress = std::function<void(unsigned message, int state, int error)>;

// The operating system's dial-up service as the engine needs it. Calls return 0 or a
// remote-access error number. Texts are UTF-8.
class DialFacility {
public:
    virtual ~DialFacility() = default;

    virtual int setEntryProperties(const std::filesystem::path& phoneBook,
                                   const std::string& entryName, const VpnEntry& entry) = 0;
    virtual int setCredentials(const std::filesystem::path& phoneBook, const std::string& entryName,
                               const Credentials& credentials) = 0;

    // Starts a dial and returns at once. The handle is stored in *handle before any progress is
    // reported. A non-zero result means the dial did not start; no progress follows.
    virtual int dial(const std::filesystem::path& phoneBook, const DialParams& params,
                     DialProgress progress, ConnectionHandle* handle) = 0;

    // The message for an error number if it fits a buffer of that many bytes of local text
    // (terminating zero included); nothing for an unknown number or a message that does not fit.
    virtual std::optional<std::string> errorString(int error, std::size_t bufferBytes) = 0;

    // The active connections, or nothing when the list cannot be read or has more than
    // `capacity` records.
    virtual std::optional<std::vector<ActiveConnection>> connections(std::size_t capacity) = 0;

    virtual int hangUp(ConnectionHandle handle) = 0;

    // The system tool's hang-up and remove switches: by entry name, no phone-book named.
    virtual int hangUpEntry(const std::string& entryName) = 0;
    virtual int removeEntry(const std::string& entryName) = 0;

    // Names in the user's default list of dial-up entries.
    virtual std::vector<std::string> defaultEntries() = 0;

    // Ends every connection and stops reporting progress; called before the engine goes away.
    virtual void shutdown() = 0;
};

struct FacilityOptions {
    // Where the facility keeps the user's default entry list (the lab facility's own file).
    std::filesystem::path dataDirectory;
};

// The facility this build dials with.
std::shared_ptr<DialFacility> makeDialFacility(const FacilityOptions& options);

}  // namespace veltrin::engine
