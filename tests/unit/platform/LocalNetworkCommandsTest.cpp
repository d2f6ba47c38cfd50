#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/LocalNetwork.h"
#include "workflows/LocalNetworkCommands.h"
#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace veltrin::workflows {
namespace {

using platform::testing::TempDir;

struct CommandCase {
    std::string name;
    std::function<void(View&, platform::LocalNetworkSwitch&, std::string_view)> command;
    std::string statusBox;
    std::vector<std::string> statusTexts;
    std::string appended;
    std::string state;
};

// Rows print as their names in test listings.
void PrintTo(const CommandCase& row, std::ostream* out) {
    *out << row.name;
}

const auto kDisable = [](View& v, platform::LocalNetworkSwitch& n, std::string_view box) {
    disableLocalNetwork(v, n, box);
};
const auto kEnable = [](View& v, platform::LocalNetworkSwitch& n, std::string_view box) {
    enableLocalNetwork(v, n, box);
};

const std::string kDisabledLine =
    "禁用所有网络已完成，如需恢复上网，请点击-【高级设置】-【启用本地网络】";
const std::string kLegacyStatus = "编辑框_旧窗口状态";

class LocalNetworkCommand : public ::testing::TestWithParam<CommandCase> {};

TEST_P(LocalNetworkCommand, WritesItsTextsAndSwitches) {
    TempDir temp;
    MemoryView view;
    platform::LabNetworkSwitch network(temp.path() / "vlset");

    GetParam().command(view, network, GetParam().statusBox);

    EXPECT_EQ(view.history(GetParam().statusBox), GetParam().statusTexts);
    EXPECT_EQ(view.text(kResultsBox), std::string(kResultsStartText) + GetParam().appended);
    EXPECT_EQ(platform::readLabNetworkState(temp.path() / "vlset"), GetParam().state);
    if (GetParam().statusBox != kStatusLine) {
        EXPECT_TRUE(view.history(kStatusLine).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, LocalNetworkCommand,
    ::testing::Values(CommandCase{"Disable",
                                  kDisable,
                                  std::string(kStatusLine),
                                  {"禁用所有网络正在进行中...", kDisabledLine},
                                  "\r\n" + kDisabledLine + "\r\n",
                                  "released"},
                      CommandCase{"Enable",
                                  kEnable,
                                  std::string(kStatusLine),
                                  {"所有网络正在启用中...",
                                   "启用所有网络操作已完成！请稍等20秒左右彻底恢复再使用网络！"},
                                  "",
                                  "renewed"},
                      CommandCase{"DisableIntoAnotherWindowsStatusBox",
                                  kDisable,
                                  kLegacyStatus,
                                  {"禁用所有网络正在进行中...", kDisabledLine},
                                  "\r\n" + kDisabledLine + "\r\n",
                                  "released"},
                      CommandCase{"EnableIntoAnotherWindowsStatusBox",
                                  kEnable,
                                  kLegacyStatus,
                                  {"所有网络正在启用中...",
                                   "启用所有网络操作已完成！请稍等20秒左右彻底恢复再使用网络！"},
                                  "",
                                  "renewed"}),
    [](const auto& info) { return info.param.name; });

// A tool that cannot be started changes nothing in what the user is told.
TEST(LocalNetworkCommandToolMissing, CompletionTextsAllTheSame) {
    TempDir temp;
    MemoryView view;
    platform::NetworkManagerSwitch network((temp.path() / "no-such-nmcli").string());

    disableLocalNetwork(view, network);
    enableLocalNetwork(view, network);

    EXPECT_EQ(view.history(kStatusLine),
              (std::vector<std::string>{
                  "禁用所有网络正在进行中...", kDisabledLine, "所有网络正在启用中...",
                  "启用所有网络操作已完成！请稍等20秒左右彻底恢复再使用网络！"}));
    EXPECT_EQ(view.text(kResultsBox),
              std::string(kResultsStartText) + "\r\n" + kDisabledLine + "\r\n");
}

}  // namespace
}  // namespace veltrin::workflows
