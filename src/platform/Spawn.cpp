#include "platform/Spawn.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace veltrin::platform {
namespace {

class FileActions final {
public:
    FileActions() { ::posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { ::posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

std::vector<char*> argvPointers(const std::vector<std::string>& argv) {
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (const auto& arg : argv) {
        pointers.push_back(const_cast<char*>(arg.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

void waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

bool startDetached(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return false;
    }
    FileActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.get(), 1, 2);
    auto pointers = argvPointers(argv);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, pointers[0], actions.get(), nullptr, pointers.data(), environ) != 0) {
        return false;
    }
    // Nobody waits for the tool, but it must not stay behind as a zombie.
    try {
        std::thread([pid] { waitFor(pid); }).detach();
    } catch (const std::system_error&) {
    }
    return true;
}

std::optional<std::string> runForOutput(const std::vector<std::string>& argv) {
    if (argv.empty()) {
        return std::nullopt;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    FileActions actions;
    ::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_adddup2(actions.get(), pipeFds[1], 1);
    ::posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0);
    auto pointers = argvPointers(argv);
    pid_t pid = 0;
    const int rc =
        ::posix_spawnp(&pid, pointers[0], actions.get(), nullptr, pointers.data(), environ);
    ::close(pipeFds[1]);
    if (rc != 0) {
        ::close(pipeFds[0]);
        return std::nullopt;
    }
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n > 0) {
            output.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipeFds[0]);
    waitFor(pid);
    return output;
}

}  // namespace veltrin::platform
