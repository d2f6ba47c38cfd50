// The built client as a process: one main window per user.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QLocalSocket>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "shell/ProfileFile.h"
#include "shell/Settings.h"
#include "support/LabProcess.h"
#include "text/Files.h"

extern char** environ;

namespace veltrin {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// The client copied into a directory of its own, so its vlset is private to the test.
class ClientProcess final {
public:
    ClientProcess(const fs::path& binary, const std::string& instance, const fs::path& errFile) {
        std::vector<std::string> env;
        for (char** e = environ; *e != nullptr; ++e) {
            env.emplace_back(*e);
        }
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("VELTRIN_INSTANCE_NAME=" + instance);
        std::vector<char*> envp;
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::string path = binary.string();
        char* argv[] = {path.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ClientProcess() {
        if (pid_ > 0 && !code_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    std::optional<int> waitForExit(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!code_ && std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return code_;
    }
    bool running() const { return pid_ > 0 && !code_ && ::kill(pid_, 0) == 0; }

private:
    pid_t pid_ = -1;
    std::optional<int> code_;
};

bool listening(const std::string& instance) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(instance));
    const bool up = socket.waitForConnected(200);
    socket.abort();
    return up;
}

TEST(ClientProcessTest, ASecondStartRaisesTheFirstAndExitsZero) {
    testing::guiApp();
    TempDir program;
    const fs::path binary = program.path() / "veltrin";
    fs::copy_file(VELTRIN_CLIENT_BINARY, binary);
    fs::create_directories(program.path() / "vlset");
    shell::ProfileFile settings(program.path() / "vlset" / "veltrinset.ini");
    ASSERT_TRUE(shell::recordTermsAccepted(settings));
    const std::string instance = "veltrin-test-" + std::to_string(::getpid());

    ClientProcess first(binary, instance, program.path() / "first.err");
    ASSERT_TRUE(testing::pumpUntil([&] { return listening(instance) || !first.running(); }));
    ASSERT_TRUE(first.running());

    ClientProcess second(binary, instance, program.path() / "second.err");
    EXPECT_EQ(second.waitForExit(std::chrono::seconds(20)), std::optional<int>(0));
    EXPECT_TRUE(testing::pumpUntil([&] {
        return text::readWholeFile(program.path() / "first.err")
                   .value_or("")
                   .find("another start asked this window to come forward") != std::string::npos;
    }));
    EXPECT_TRUE(first.running());
}

TEST(ClientProcessTest, AnUnwritableProgramDirectoryFallsBackAndSaysSo) {
    testing::guiApp();
    TempDir program;
    TempDir dataHome;
    const fs::path binary = program.path() / "veltrin";
    fs::copy_file(VELTRIN_CLIENT_BINARY, binary);
    // A file where vlset belongs: the directory cannot be made, for root as well.
    ASSERT_TRUE(text::writeFileAtomically(program.path() / "vlset", "not a directory"));
    ::setenv("XDG_DATA_HOME", dataHome.path().c_str(), 1);
    const std::string instance = "veltrin-test-fallback-" + std::to_string(::getpid());
    ClientProcess client(binary, instance, program.path() / "client.err");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(testing::pumpUntil([&] {
        return text::readWholeFile(program.path() / "client.err")
                   .value_or("")
                   .find("settings are kept in " + (dataHome.path() / "veltrin").string()) !=
               std::string::npos;
    }));
    EXPECT_TRUE(fs::is_directory(dataHome.path() / "veltrin"));
}

}  // namespace
}  // namespace veltrin
