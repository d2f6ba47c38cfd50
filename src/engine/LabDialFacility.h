#pragma once

#include <chrono>
#include <memory>

#include "engine/DialFacility.h"

namespace veltrin::engine {

struct LabFacilityOptions {
    std::filesystem::path dataDirectory;  // holds the user's default entry list
    // How long a dial waits for the line server's next word before giving up (never scaled).
    std::chrono::milliseconds answerTimeout{20000};
};

// Dials the lab's line servers over TCP on loopback: the TCP session is the tunnel, its stages
// come from the line server and its end is a drop. The phone-book is a readable text file.
class LabDialFacility final : public DialFacility {
public:
    explicit LabDialFacility(LabFacilityOptions options);
    ~LabDialFacility() override;

    int setEntryProperties(const std::filesystem::path& phoneBook, const std::string& entryName,
                           const VpnEntry& entry) override;
    int setCredentials(const std::filesystem::path& phoneBook, const std::string& entryName,
                       const Credentials& credentials) override;
    int dial(const std::filesystem::path& phoneBook, const DialParams& params,
             DialProgress progress, ConnectionHandle* handle) override;
    std::optional<std::string> errorString(int error, std::size_t bufferBytes) override;
    std::optional<std::vector<ActiveConnection>> connections(std::size_t capacity) override;
    int hangUp(ConnectionHandle handle) override;
    int hangUpEntry(const std::string& entryName) override;
    int removeEntry(const std::string& entryName) override;
    std::vector<std::string> defaultEntries() override;
    void shutdown() override;

    std::filesystem::path defaultPhoneBook() const;

    // Number of dial threads still alive; tests and the soak bench watch it.
    std::size_t liveThreads() const;

    struct Core;

private:
    std::shared_ptr<Core> core_;
};

// The lab facility's texts for remote-access error numbers; nothing for an unknown number.
std::optional<std::string> labErrorText(int error);

// How a phone-book address and protocol code become a TCP destination for the line server.
struct LineEndpoint {
    std::string host;
    unsigned short port = 0;
    std::string protocol;  // "pptp", "l2tp" or "sstp"
};
// Nothing when the address does not name a host the lab facility can dial.
std::optional<LineEndpoint> lineEndpoint(const std::string& address, int protocolCode);

}  // namespace veltrin::engine
