#include "LabProcess.h"

#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

#ifndef VELTRIN_LAB_BINARY
#error "VELTRIN_LAB_BINARY must name the veltrin-lab executable"
#endif

namespace veltrin::testing {
namespace {

constexpr auto kReadyTimeout = std::chrono::seconds(10);
constexpr auto kExitTimeout = std::chrono::seconds(10);

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The environment of this process with VELTRIN_TIME_SCALE replaced.
std::vector<std::string> labEnvironment(std::optional<double> timeScale) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "VELTRIN_TIME_SCALE=", 19) != 0) {
            env.emplace_back(*e);
        }
    }
    if (timeScale) {
        std::ostringstream value;
        value.precision(17);
        value << "VELTRIN_TIME_SCALE=" << *timeScale;
        env.push_back(value.str());
    }
    return env;
}

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::filesystem::path& out, const std::filesystem::path& err) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VELTRIN_LAB_BINARY));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) {
        envp.push_back(const_cast<char*>(e.c_str()));
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    // The lab must see default signal handling whatever the test runner set up.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGTERM);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int rc = posix_spawn(&pid, VELTRIN_LAB_BINARY, &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        throw std::runtime_error(std::string("cannot start " VELTRIN_LAB_BINARY ": ") +
                                 std::strerror(rc));
    }
    return pid;
}

// Reaps pid if it has exited; the exit code, -1 for a signal death.
std::optional<int> tryReap(pid_t pid) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r != pid) {
        return std::nullopt;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<int> waitExit(pid_t pid, std::chrono::milliseconds timeout) {
    std::optional<int> code;
    LabProcess::waitFor(
        [&] {
            code = tryReap(pid);
            return code.has_value();
        },
        timeout);
    return code;
}

std::filesystem::path makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "veltrin-lab-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    }
    return pattern;
}

bool unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

}  // namespace

std::string percentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (unreserved(c)) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

TempDir::TempDir() : path_(makeTempDir()) {}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::write(const std::string& name, const std::string& content) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
    return file;
}

LabExit runLabToExit(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    TempDir dir;
    const auto out = dir.path() / "stdout.log";
    const auto err = dir.path() / "stderr.log";
    const pid_t pid = spawn(args, labEnvironment(std::nullopt), out, err);
    LabExit result;
    result.exitCode = waitExit(pid, timeout);
    if (!result.exitCode) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    result.stdoutText = readFile(out);
    result.stderrText = readFile(err);
    return result;
}

LabProcess::LabProcess(const nlohmann::json& config, double timeScale) {
    dir_ = makeTempDir();
    try {
        start(config, timeScale);
    } catch (...) {
        if (pid_ > 0 && !exitCode_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
        throw;
    }
}

void LabProcess::start(const nlohmann::json& config, double timeScale) {
    const auto configFile = dir_ / "lab.json";
    nlohmann::json written = config;
    if (written.is_object() && !written.contains("web_port")) {
        written["web_port"] = 0;
    }
    {
        std::ofstream out(configFile, std::ios::binary);
        out << written.dump(2);
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + configFile.string());
        }
    }
    const auto readyFile = dir_ / "ready.json";
    pid_ = spawn({configFile.string(), "--ready-file", readyFile.string(), "--exit-with-parent"},
                 labEnvironment(timeScale), dir_ / "stdout.log", dir_ / "stderr.log");

    nlohmann::json ready;
    const bool up = waitFor(
        [&] {
            if (!exitCode_) {
                exitCode_ = tryReap(pid_);
            }
            if (exitCode_) {
                return true;
            }
            std::error_code ec;
            if (!std::filesystem::exists(readyFile, ec)) {
                return false;
            }
            ready = nlohmann::json::parse(readFile(readyFile), nullptr, false);
            return !ready.is_discarded();
        },
        kReadyTimeout);
    if (exitCode_) {
        throw std::runtime_error("veltrin-lab exited with " + std::to_string(*exitCode_) +
                                 " before it was ready: " + stderrText());
    }
    if (!up) {
        throw std::runtime_error("veltrin-lab was not ready in time: " + stderrText());
    }

    adminUrl_ = ready.at("admin").get<std::string>();
    const std::string prefix = "http://";
    const auto colon = adminUrl_.rfind(':');
    if (adminUrl_.rfind(prefix, 0) != 0 || colon == std::string::npos) {
        throw std::runtime_error("veltrin-lab announced an odd admin address " + adminUrl_);
    }
    adminHost_ = adminUrl_.substr(prefix.size(), colon - prefix.size());
    adminPort_ = std::stoi(adminUrl_.substr(colon + 1));
    webUrl_ = ready.value("web", "");
    webTlsUrl_ = ready.value("web_tls", "");
    for (const auto& line : ready.at("lines")) {
        lines_.push_back({line.at("name").get<std::string>(), line.at("address").get<std::string>(),
                          line.at("status").get<std::string>(),
                          line.at("protocols").get<std::vector<std::string>>()});
    }
}

LabProcess::~LabProcess() {
    if (pid_ > 0 && !exitCode_) {
        ::kill(pid_, SIGTERM);
        if (!waitExit(pid_, kExitTimeout)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

const std::vector<LabLine>& LabProcess::lines() const {
    return lines_;
}

std::string LabProcess::address(const std::string& lineName) const {
    for (const auto& line : lines_) {
        if (line.name == lineName) {
            return line.address;
        }
    }
    throw std::runtime_error("the lab has no line named " + lineName);
}

std::string LabProcess::adminUrl() const {
    return adminUrl_;
}

std::string LabProcess::stderrText() const {
    return readFile(dir_ / "stderr.log");
}

std::string LabProcess::stdoutText() const {
    return readFile(dir_ / "stdout.log");
}

namespace {

nlohmann::json answer(const httplib::Result& result, const std::string& what) {
    if (!result) {
        throw std::runtime_error(what + ": " + httplib::to_string(result.error()));
    }
    if (result->status != 200) {
        throw std::runtime_error(what + ": HTTP " + std::to_string(result->status) + " " +
                                 result->body);
    }
    return nlohmann::json::parse(result->body);
}

}  // namespace

nlohmann::json LabProcess::get(const std::string& path) {
    httplib::Client client(adminHost_, adminPort_);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(10));
    return answer(client.Get(path), "GET " + path);
}

nlohmann::json LabProcess::post(const std::string& path) {
    httplib::Client client(adminHost_, adminPort_);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(10));
    return answer(client.Post(path), "POST " + path);
}

nlohmann::json LabProcess::sessions() {
    return get("/admin/sessions");
}

nlohmann::json LabProcess::dials() {
    return get("/admin/dials");
}

void LabProcess::drop(const std::string& lineName) {
    post("/admin/drop?line=" + percentEncode(lineName));
}

void LabProcess::dropAll() {
    post("/admin/drop");
}

void LabProcess::refuseNext(const std::string& lineName, int code) {
    post("/admin/refuse-next?line=" + percentEncode(lineName) + "&code=" + std::to_string(code));
}

void LabProcess::setStatus(const std::string& lineName, const std::string& status) {
    post("/admin/line?name=" + percentEncode(lineName) + "&status=" + percentEncode(status));
}

std::string LabProcess::publicIp() {
    return get("/admin/public-ip").get<std::string>();
}

nlohmann::json LabProcess::webRequests() {
    return get("/admin/requests");
}

void LabProcess::setScenario(const std::string& name) {
    post("/admin/scenario?name=" + percentEncode(name));
}

void LabProcess::terminate(int signal) {
    if (pid_ > 0 && !exitCode_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> LabProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (!exitCode_ && pid_ > 0) {
        exitCode_ = waitExit(pid_, timeout);
    }
    return exitCode_;
}

bool LabProcess::waitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        const bool value = pred();
        if (value || std::chrono::steady_clock::now() >= deadline) {
            return value;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

}  // namespace veltrin::testing
