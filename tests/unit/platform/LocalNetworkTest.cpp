#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/LocalNetwork.h"

namespace veltrin::platform {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// ---- The lab stand-in ------------------------------------------------------------------------

struct LabCase {
    std::string name;
    std::vector<std::function<void(LocalNetworkSwitch&)>> calls;
    std::string state;
};

// Rows print as their names in test listings.
void PrintTo(const LabCase& row, std::ostream* out) {
    *out << row.name;
}

const auto kRelease = [](LocalNetworkSwitch& s) { s.release(); };
const auto kRenew = [](LocalNetworkSwitch& s) { s.renew(); };

class LabSwitch : public ::testing::TestWithParam<LabCase> {};

TEST_P(LabSwitch, RecordsTheLastRequestAtomically) {
    TempDir temp;
    const fs::path data = temp.path() / "program" / "vlset";
    LabNetworkSwitch network(data);
    for (const auto& call : GetParam().calls) {
        call(network);
    }
    EXPECT_EQ(network.stateFile(), data / "network-state");
    EXPECT_EQ(readFile(network.stateFile()), GetParam().state);
    EXPECT_EQ(readLabNetworkState(data), GetParam().state);
    // Nothing but the state file: no temporary left behind.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(data)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{"network-state"});
}

INSTANTIATE_TEST_SUITE_P(
    Requests, LabSwitch,
    ::testing::Values(LabCase{"Release", {kRelease}, "released"},
                      LabCase{"Renew", {kRenew}, "renewed"},
                      LabCase{"ReleaseThenRenew", {kRelease, kRenew}, "renewed"},
                      LabCase{"RenewThenRelease", {kRenew, kRelease}, "released"},
                      LabCase{"ReleaseTwice", {kRelease, kRelease}, "released"}),
    [](const auto& info) { return info.param.name; });

TEST(LabSwitchState, NothingRecordedYet) {
    TempDir temp;
    EXPECT_EQ(readLabNetworkState(temp.path()), std::nullopt);
}

// ---- NetworkManager, with a stand-in program in place of nmcli ---------------------------------

struct ToolCase {
    std::string name;
    std::function<void(LocalNetworkSwitch&)> call;
    std::string arguments;
};

void PrintTo(const ToolCase& row, std::ostream* out) {
    *out << row.name;
}

class NetworkManagerTool : public ::testing::TestWithParam<ToolCase> {};

// The stand-in hands its arguments over a FIFO and then blocks on a second FIFO until the test
// lets it go: the switch's call can only have returned without waiting for it.
TEST_P(NetworkManagerTool, StartsTheToolWithoutWaiting) {
    TempDir temp;
    const fs::path said = temp.path() / "said";
    const fs::path go = temp.path() / "go";
    ASSERT_EQ(::mkfifo(said.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(go.c_str(), 0600), 0);
    const fs::path tool = temp.path() / "nmcli";
    writeFile(tool, "#!/bin/sh\necho on stdout\necho on stderr >&2\nprintf '%s' \"$*\" > '" +
                        said.string() + "'\ncat '" + go.string() + "' > /dev/null\n");
    fs::permissions(tool, fs::perms::owner_all);
    NetworkManagerSwitch network(tool.string());

    GetParam().call(network);

    const std::string arguments = readFile(said);
    const int release = ::open(go.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(release, 0);
    ::close(release);
    EXPECT_EQ(arguments, GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(Commands, NetworkManagerTool,
                         ::testing::Values(ToolCase{"Release", kRelease, "networking off"},
                                           ToolCase{"Renew", kRenew, "networking on"}),
                         [](const auto& info) { return info.param.name; });

TEST(NetworkManagerToolMissing, SkippedSilently) {
    TempDir temp;
    NetworkManagerSwitch network((temp.path() / "no-such-nmcli").string());
    EXPECT_NO_THROW(network.release());
    EXPECT_NO_THROW(network.renew());
}

// ---- The choice ------------------------------------------------------------------------------

struct ChoiceCase {
    std::string name;
    NetworkManagerProbe probe;
    LocalNetworkKind chosen;
};

void PrintTo(const ChoiceCase& row, std::ostream* out) {
    *out << row.name;
}

class Choice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(Choice, NetworkManagerOnlyWhenItRuns) {
    EXPECT_EQ(chooseLocalNetwork(GetParam().probe), GetParam().chosen);
}

const std::string kOwned =
    "method return time=1.5 sender=org.freedesktop.DBus -> destination=:1.9 serial=3 "
    "reply_serial=2\n   boolean true\n";
const std::string kNotOwned =
    "method return time=1.5 sender=org.freedesktop.DBus -> destination=:1.9 serial=3 "
    "reply_serial=2\n   boolean false\n";
constexpr auto kNm = LocalNetworkKind::kNetworkManager;
constexpr auto kLab = LocalNetworkKind::kLab;

INSTANTIATE_TEST_SUITE_P(
    Probes, Choice,
    ::testing::Values(
        ChoiceCase{"NmcliSaysRunning", {"running\n", std::nullopt}, kNm},
        ChoiceCase{"NmcliSaysRunningBetweenBlanks", {"  running \r\n", std::nullopt}, kNm},
        ChoiceCase{"NmcliSaysStarting", {"starting\n", kNotOwned}, kNm},
        ChoiceCase{"NmcliPrintsNothingBusNameFree", {"", kNotOwned}, kLab},
        ChoiceCase{"NmcliMissingBusNameOwned", {std::nullopt, kOwned}, kNm},
        ChoiceCase{"NmcliMissingBusNameFree", {std::nullopt, kNotOwned}, kLab},
        ChoiceCase{"NmcliMissingNoSystemBus", {std::nullopt, ""}, kLab},
        ChoiceCase{"NothingCouldBeAsked", {std::nullopt, std::nullopt}, kLab},
        ChoiceCase{"NmcliSaysSomethingElse", {"not running\n", std::nullopt}, kLab},
        ChoiceCase{"BusReplyOnlyMentionsTrue", {std::nullopt, "string \"boolean true\"\n"}, kLab}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace veltrin::platform
