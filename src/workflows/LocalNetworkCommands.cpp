#include "workflows/LocalNetworkCommands.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/BrowserTraces.h"

namespace veltrin::workflows {
namespace {

namespace t = local_network_text;

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

void disableLocalNetwork(View& view, platform::LocalNetworkSwitch& network,
                         std::string_view statusBox) {
    view.setText(statusBox, std::string(t::kDisabling));
    network.release();
    view.setText(statusBox, std::string(t::kDisabled));
    view.appendResult("\r\n" + std::string(t::kDisabled) + "\r\n");
}

void enableLocalNetwork(View& view, platform::LocalNetworkSwitch& network,
                        std::string_view statusBox) {
    view.setText(statusBox, std::string(t::kEnabling));
    network.renew();
    view.setText(statusBox, std::string(t::kEnabled));
}

void clearBrowserTraces() {
    const auto home = homeFolder();
    if (!home.empty()) {
        platform::clearBrowserTraces(home);
    }
}

}  // namespace veltrin::workflows
