#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace veltrin::testing {

struct LabLine {
    std::string name, address, status;
    std::vector<std::string> protocols;
};

// A veltrin-lab process run from a config, for the length of a test.
class LabProcess final {
public:
    // Writes config to a fresh temp dir (with "web_port": 0 unless the config names a port, so
    // labs of parallel tests never fight over the default web port), starts the veltrin-lab binary
    // with VELTRIN_TIME_SCALE=timeScale and --ready-file, and waits (bounded) for the ready file.
    // Throws std::runtime_error with the lab's stderr when the lab does not come up.
    explicit LabProcess(const nlohmann::json& config, double timeScale = 0.05);
    // SIGTERM, a bounded wait, SIGKILL if needed; removes the temp dir.
    ~LabProcess();
    LabProcess(const LabProcess&) = delete;
    LabProcess& operator=(const LabProcess&) = delete;

    const std::vector<LabLine>& lines() const;
    std::string address(const std::string& lineName) const;  // throws if unknown
    std::string adminUrl() const;
    std::string webUrl() const { return webUrl_; }
    std::string webTlsUrl() const { return webTlsUrl_; }
    pid_t pid() const { return pid_; }

    nlohmann::json get(const std::string& path);   // throws on non-200
    nlohmann::json post(const std::string& path);  // throws on non-200
    nlohmann::json sessions();
    nlohmann::json dials();
    void drop(const std::string& lineName);
    void dropAll();
    void refuseNext(const std::string& lineName, int code = 691);
    void setStatus(const std::string& lineName, const std::string& status);
    std::string publicIp();
    // Web requests received, oldest first: scheme, method, target, path, query, headers.
    nlohmann::json webRequests();
    void setScenario(const std::string& name);

    // Sends the signal (SIGTERM by default) without waiting.
    void terminate(int signal = SIGTERM);
    // The exit code once the lab has exited within the timeout (-1 for a signal death), or
    // nothing. The process is reaped.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    std::string stderrText() const;
    std::string stdoutText() const;

    // Polls pred every 5 ms until true or the timeout; returns the last value.
    static bool waitFor(const std::function<bool()>& pred,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    void start(const nlohmann::json& config, double timeScale);

    std::filesystem::path dir_;
    pid_t pid_ = -1;
    std::optional<int> exitCode_;
    std::string adminUrl_;
    std::string webUrl_;
    std::string webTlsUrl_;
    std::string adminHost_;
    int adminPort_ = 0;
    std::vector<LabLine> lines_;
};

// Percent-encodes every byte but unreserved ASCII, for query parameters.
std::string percentEncode(const std::string& text);

// How a lab run that is expected to end by itself went.
struct LabExit {
    std::optional<int> exitCode;  // nothing: still running at the deadline (then killed)
    std::string stdoutText;
    std::string stderrText;
};

// Runs the veltrin-lab binary with these arguments until it exits or the timeout passes.
LabExit runLabToExit(const std::vector<std::string>& args,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10));

// A fresh directory under the system temp dir, removed on destruction.
class TempDir final {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    // Writes a file in the directory and returns its path.
    std::filesystem::path write(const std::string& name, const std::string& content) const;

private:
    std::filesystem::path path_;
};

}  // namespace veltrin::testing
