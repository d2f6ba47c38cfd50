#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "Cert.h"
#include "Config.h"
#include "WebConfig.h"
#include "WebFront.h"

namespace veltrin::lab {

class Lab;

// A query parameter with its value percent-decoded to raw bytes.
struct QueryParam {
    std::string name;
    std::string value;
};

// Splits a raw query ("a=1&b=%C4%E3") in order. Never throws: a broken escape stays as it is.
std::vector<QueryParam> parseQuery(std::string_view raw);

// MD5 of the bytes as 32 lower-case hex digits.
std::string md5HexOfBytes(std::string_view bytes);

// Seconds from 1970-01-01 08:00:00 on this machine's local clock, as the client signs them.
std::int64_t labSignTimestamp();

// The remote parameter text (UTF-8) for an origin such as http://127.0.0.1:18080.
std::string remoteParameterText(const WebConfig& config, Scenario scenario,
                                const std::string& origin);

// The service's web interface: HTTP and HTTPS fronts over one web server on an inner port.
class WebService final {
public:
    WebService(Lab& lab, WebConfig config, const std::vector<LineConfig>& lines);
    ~WebService();
    WebService(const WebService&) = delete;
    WebService& operator=(const WebService&) = delete;

    // Throws std::runtime_error.
    void start();
    void stop();

    std::string url() const;
    std::string tlsUrl() const;

    nlohmann::json requests() const { return log_.toJson(); }
    void clearRequests() { log_.clear(); }
    Scenario scenario() const { return scenario_.load(); }
    void setScenario(Scenario scenario) { scenario_.store(scenario); }
    // Milliseconds since 1970 as the time pages tell it.
    std::int64_t clockMs() const;
    void setClockMs(std::optional<std::int64_t> ms);
    void setAccount(const std::string& user, const std::string& password, std::int64_t endTime);
    // A session left over from an earlier connection; returns its id.
    std::string addLeftoverSession(const std::string& user);
    // Every online session: the open tunnels and the left-over ones.
    nlohmann::json onlineSessions() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    RequestLog log_;
    std::atomic<Scenario> scenario_;
    SslContext tls_;
    std::unique_ptr<WebFront> http_;
    std::unique_ptr<WebFront> https_;
};

}  // namespace veltrin::lab
