#pragma once

#include <string_view>

#include "platform/LocalNetwork.h"
#include "workflows/StatusChannel.h"
#include "workflows/View.h"

namespace veltrin::workflows {

// The local network buttons and the monitor's reaction to a drop. Each runs on the worker it is
// called on and reports into the given window: its status box (the main window's status line
// unless the window names its own) and its results box. The completion texts are written as soon
// as the switch has been started.
void disableLocalNetwork(View& view, platform::LocalNetworkSwitch& network,
                         std::string_view statusBox = kStatusLine);
void enableLocalNetwork(View& view, platform::LocalNetworkSwitch& network,
                        std::string_view statusBox = kStatusLine);

// Browser-trace cleanup of the current user's home folder ($HOME); reports nothing.
void clearBrowserTraces();

namespace local_network_text {
inline constexpr std::string_view kDisabling = "禁用所有网络正在进行中...";
inline constexpr std::string_view kDisabled =
    "禁用所有网络已完成，如需恢复上网，请点击-【高级设置】-【启用本地网络】";
inline constexpr std::string_view kEnabling = "所有网络正在启用中...";
inline constexpr std::string_view kEnabled =
    "启用所有网络操作已完成！请稍等20秒左右彻底恢复再使用网络！";
}  // namespace local_network_text

}  // namespace veltrin::workflows
