#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Socket.h"
#include "WebConfig.h"

namespace veltrin::lab {

// One request head as it came over the wire, headers in their order.
struct RecordedRequest {
    std::string scheme;
    std::string method;
    std::string target;
    std::string path;
    std::string query;  // without "?", as sent
    std::vector<std::pair<std::string, std::string>> headers;
    std::int64_t receivedMs = 0;
};

// Every web request received, oldest first, bounded.
class RequestLog final {
public:
    void add(RecordedRequest request);
    nlohmann::json toJson() const;
    void clear();

private:
    static constexpr std::size_t kLimit = 10000;
    mutable std::mutex mutex_;
    std::deque<RecordedRequest> requests_;
};

// Splits the bytes a client sends into request heads; bodies announced by Content-Length are
// skipped. Gives up quietly on anything that is no HTTP.
class RequestSniffer final {
public:
    explicit RequestSniffer(std::string scheme) : scheme_(std::move(scheme)) {}
    // The heads completed by these bytes.
    std::vector<RecordedRequest> feed(const char* data, std::size_t size);

private:
    static constexpr std::size_t kHeadLimit = 64 * 1024;
    std::string scheme_;
    std::string buffer_;
    std::uint64_t bodyLeft_ = 0;
    bool lost_ = false;
};

// The web port as clients see it: accepts on 127.0.0.1, ends TLS when it has a context, and
// either passes the bytes to the web service behind it or misbehaves as the scenario says.
class WebFront final {
public:
    // `tls` (may be null) must outlive the front.
    WebFront(std::string scheme, SSL_CTX* tls, const std::atomic<Scenario>& scenario,
             RequestLog& log);
    ~WebFront();
    WebFront(const WebFront&) = delete;
    WebFront& operator=(const WebFront&) = delete;

    // Port 0 picks a free one. Throws std::runtime_error.
    void start(std::uint16_t port, std::uint16_t backendPort);
    // Closes the listener and every connection and waits for their threads.
    void stop();
    std::uint16_t port() const { return port_; }
    std::string url() const;

private:
    class Peer;

    void acceptLoop();
    void serve(int client);
    void serveScenario(Peer& peer, Scenario scenario, RequestSniffer& sniffer);
    void proxy(Peer& peer, RequestSniffer& sniffer);
    bool readHead(Peer& peer, RequestSniffer& sniffer);
    void record(RequestSniffer& sniffer, const char* data, std::size_t size);
    bool track(int fd);
    void untrack(int fd);

    const std::string scheme_;
    SSL_CTX* const tls_;
    const std::atomic<Scenario>& scenario_;
    RequestLog& log_;
    std::uint16_t port_ = 0;
    std::uint16_t backendPort_ = 0;
    FileDescriptor listener_;
    WakeEvent wake_;
    std::thread acceptor_;

    std::mutex mutex_;
    std::condition_variable idle_;
    bool stopping_ = false;
    std::size_t running_ = 0;
    std::set<int> open_;
};

}  // namespace veltrin::lab
