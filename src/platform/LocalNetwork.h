#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace veltrin::platform {

// Releases and renews the computer's network addresses. Both calls start the work and return at
// once; a tool that cannot be started is skipped silently.
class LocalNetworkSwitch {
public:
    virtual ~LocalNetworkSwitch() = default;
    virtual void release() = 0;
    virtual void renew() = 0;
};

// Linux desktops run by NetworkManager: "nmcli networking off" / "nmcli networking on".
class NetworkManagerSwitch final : public LocalNetworkSwitch {
public:
    // The program is looked up in PATH when it has no slash.
    explicit NetworkManagerSwitch(std::string program = "nmcli");
    void release() override;
    void renew() override;

private:
    std::string program_;
};

// The stand-in for machines without NetworkManager (this repo's lab machines and the tests):
// records what was asked for in the data directory, where the demo and tests can see it.
class LabNetworkSwitch final : public LocalNetworkSwitch {
public:
    explicit LabNetworkSwitch(std::filesystem::path dataDirectory);
    void release() override;
    void renew() override;

    std::filesystem::path stateFile() const;

private:
    void record(std::string_view state);
    std::filesystem::path dataDirectory_;
};

namespace lab_network_state {
inline constexpr std::string_view kReleased = "released";
inline constexpr std::string_view kRenewed = "renewed";
}  // namespace lab_network_state
inline constexpr std::string_view kLabNetworkStateFile = "network-state";

// The last state the lab stand-in recorded in a data directory; nothing when none was recorded.
std::optional<std::string> readLabNetworkState(const std::filesystem::path& dataDirectory);

// What the machine says about NetworkManager. Each answer is empty when it could not be asked.
struct NetworkManagerProbe {
    std::optional<std::string> nmcliRunning;  // output of "nmcli -t -f RUNNING general"
    std::optional<std::string> busNameOwner;  // reply of D-Bus NameHasOwner for its bus name
};

enum class LocalNetworkKind { kNetworkManager, kLab };

// The one place that picks: NetworkManager when it runs, the lab stand-in otherwise.
LocalNetworkKind chooseLocalNetwork(const NetworkManagerProbe& probe);

// Asks this machine (read-only queries; nothing is switched).
NetworkManagerProbe probeNetworkManager();

// The switch this machine uses; the lab stand-in keeps its state in dataDirectory.
std::unique_ptr<LocalNetworkSwitch> makeLocalNetworkSwitch(
    const std::filesystem::path& dataDirectory);

}  // namespace veltrin::platform
