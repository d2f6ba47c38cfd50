// The one place that picks the local network switch of this machine.
#include <string_view>

#include "platform/LocalNetwork.h"
#include "platform/Spawn.h"

namespace veltrin::platform {
namespace {

inline constexpr std::string_view kBusName = "org.freedesktop.NetworkManager";

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool nmcliSaysRunning(const std::optional<std::string>& output) {
    if (!output) {
        return false;
    }
    const auto state = trimmed(*output);
    return state == "running" || state == "starting";
}

// dbus-send prints the reply's value on its own line, e.g. "   boolean true".
bool busNameOwned(const std::optional<std::string>& reply) {
    if (!reply) {
        return false;
    }
    std::string_view rest = *reply;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        if (trimmed(rest.substr(0, end)) == "boolean true") {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(end + 1);
    }
    return false;
}

}  // namespace

LocalNetworkKind chooseLocalNetwork(const NetworkManagerProbe& probe) {
    if (nmcliSaysRunning(probe.nmcliRunning) || busNameOwned(probe.busNameOwner)) {
        return LocalNetworkKind::kNetworkManager;
    }
    return LocalNetworkKind::kLab;
}

NetworkManagerProbe probeNetworkManager() {
    NetworkManagerProbe probe;
    probe.nmcliRunning = runForOutput({"nmcli", "-t", "-f", "RUNNING", "general"});
    probe.busNameOwner =
        runForOutput({"dbus-send", "--system", "--print-reply", "--reply-timeout=2000",
                      "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                      "org.freedesktop.DBus.NameHasOwner", "string:" + std::string(kBusName)});
    return probe;
}

std::unique_ptr<LocalNetworkSwitch> makeLocalNetworkSwitch(
    const std::filesystem::path& dataDirectory) {
    if (chooseLocalNetwork(probeNetworkManager()) == LocalNetworkKind::kNetworkManager) {
        return std::make_unique<NetworkManagerSwitch>();
    }
    return std::make_unique<LabNetworkSwitch>(dataDirectory);
}

}  // namespace veltrin::platform
