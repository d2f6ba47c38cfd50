#include "Lab.h"

#include <algorithm>
#include <set>

#include "AdminApi.h"

namespace veltrin::lab {

Lab::Lab(LabConfig config, double timeScale) : config_(std::move(config)), timeScale_(timeScale) {}

Lab::~Lab() {
    stop();
}

void Lab::start() {
    std::set<std::string> taken;
    for (const LineConfig& line : config_.lines) {
        if (line.address) {
            taken.insert(*line.address);
        }
    }
    const LineServerContext context{timeScale_, &dials_, &tunnelOrder_};
    for (const LineConfig& line : config_.lines) {
        lines_.push_back(std::make_unique<LineServer>(line, context));
        lines_.back()->start(taken);
    }
    web_ = std::make_unique<WebService>(*this, config_.web, config_.lines);
    web_->start();
    admin_ = std::make_unique<AdminApi>(*this);
    admin_->start(config_.adminPort);
}

void Lab::stop() {
    // The admin interface goes first so no request reaches a line server that is stopping.
    if (admin_) {
        admin_->stop();
    }
    if (web_) {
        web_->stop();
    }
    for (auto& line : lines_) {
        line->stop();
    }
}

nlohmann::json Lab::readyInfo() const {
    return {{"admin", admin_ ? admin_->url() : std::string{}},
            {"web", web_ ? web_->url() : std::string{}},
            {"web_tls", web_ ? web_->tlsUrl() : std::string{}},
            {"lines", lines()}};
}

nlohmann::json Lab::lines() const {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& line : lines_) {
        list.push_back(line->describe());
    }
    return list;
}

std::vector<TunnelInfo> Lab::allTunnels() const {
    std::vector<TunnelInfo> all;
    for (const auto& line : lines_) {
        auto tunnels = line->tunnels();
        all.insert(all.end(), tunnels.begin(), tunnels.end());
    }
    std::sort(all.begin(), all.end(),
              [](const TunnelInfo& a, const TunnelInfo& b) { return a.id < b.id; });
    return all;
}

nlohmann::json Lab::sessions() const {
    nlohmann::json list = nlohmann::json::array();
    for (const TunnelInfo& t : allTunnels()) {
        list.push_back({{"id", t.id},
                        {"line", t.line},
                        {"protocol", protocolName(t.protocol)},
                        {"user", t.user},
                        {"public_ip", t.publicIp},
                        {"started_ms", t.startedMs}});
    }
    return list;
}

nlohmann::json Lab::dials() const {
    return dials_.toJson();
}

std::string Lab::publicIp() const {
    const auto newest = newestTunnel();
    return newest ? newest->publicIp : std::string{};
}

std::optional<TunnelInfo> Lab::newestTunnel() const {
    const auto all = allTunnels();
    const auto newest = std::max_element(
        all.begin(), all.end(),
        [](const TunnelInfo& a, const TunnelInfo& b) { return a.order < b.order; });
    if (newest == all.end()) {
        return std::nullopt;
    }
    return *newest;
}

LineServer* Lab::line(const std::string& name) {
    for (auto& line : lines_) {
        if (line->name() == name) {
            return line.get();
        }
    }
    return nullptr;
}

bool Lab::drop(std::uint64_t id) {
    for (auto& line : lines_) {
        if (line->drop(id)) {
            return true;
        }
    }
    return false;
}

std::size_t Lab::dropAll() {
    std::size_t dropped = 0;
    for (auto& line : lines_) {
        dropped += line->dropAll();
    }
    return dropped;
}

std::size_t Lab::connectionThreads() const {
    std::size_t count = 0;
    for (const auto& line : lines_) {
        count += line->connectionThreads();
    }
    return count;
}

void Lab::requestShutdown() {
    {
        std::lock_guard lock(shutdownMutex_);
        shutdown_ = true;
    }
    shutdownRequested_.notify_all();
}

void Lab::waitForShutdownRequest() {
    std::unique_lock lock(shutdownMutex_);
    shutdownRequested_.wait(lock, [this] { return shutdown_; });
}

}  // namespace veltrin::lab
