#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Config.h"
#include "DialLog.h"
#include "LineServer.h"
#include "WebService.h"

namespace veltrin::lab {

class AdminApi;

// The whole stand-in service in one process: its line servers and the admin interface.
class Lab final {
public:
    Lab(LabConfig config, double timeScale);
    ~Lab();
    Lab(const Lab&) = delete;
    Lab& operator=(const Lab&) = delete;

    // Binds every listener; throws std::runtime_error.
    void start();
    // Closes every listener and connection and joins every thread; safe to call twice.
    void stop();

    // What the ready line announces.
    nlohmann::json readyInfo() const;

    nlohmann::json lines() const;
    nlohmann::json sessions() const;
    nlohmann::json dials() const;
    std::string publicIp() const;
    // The open tunnel that came up last, if any.
    std::optional<TunnelInfo> newestTunnel() const;
    WebService& web() { return *web_; }
    // Nothing when no line has that name.
    LineServer* line(const std::string& name);
    // Drops the live connection with that id on any line; false if there is none.
    bool drop(std::uint64_t id);
    std::size_t dropAll();
    std::size_t connectionThreads() const;

    void requestShutdown();
    void waitForShutdownRequest();

private:
    std::vector<TunnelInfo> allTunnels() const;

    LabConfig config_;
    double timeScale_;
    DialLog dials_;
    std::atomic<std::uint64_t> tunnelOrder_{0};
    std::vector<std::unique_ptr<LineServer>> lines_;
    std::unique_ptr<WebService> web_;
    std::unique_ptr<AdminApi> admin_;

    std::mutex shutdownMutex_;
    std::condition_variable shutdownRequested_;
    bool shutdown_ = false;
};

}  // namespace veltrin::lab
