#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "Config.h"
#include "DialLog.h"
#include "Socket.h"

namespace veltrin::lab {

struct TunnelInfo {
    std::uint64_t id = 0;
    std::string line;
    Protocol protocol = Protocol::Pptp;
    std::string user;
    std::string publicIp;
    std::int64_t startedMs = 0;  // Unix time
    std::uint64_t order = 0;     // larger is newer, across all lines
};

// Shared by the line servers of one lab.
struct LineServerContext {
    double timeScale = 1.0;
    DialLog* dials = nullptr;
    std::atomic<std::uint64_t>* tunnelOrder = nullptr;
};

// One line: its loopback address, a listener per protocol it answers, and a thread per
// connection speaking the line protocol.
class LineServer final {
public:
    LineServer(LineConfig config, LineServerContext context);
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    // Binds the listeners, picking a free address first when the config says "auto" and
    // avoiding `taken`, which receives the address. Throws std::runtime_error.
    void start(std::set<std::string>& taken);
    // Closes the listeners and every connection and joins all threads.
    void stop();

    const std::string& name() const { return config_.name; }
    std::string address() const;
    LineStatus status() const;
    nlohmann::json describe() const;

    std::vector<TunnelInfo> tunnels() const;
    // Closes one live connection (tunnel or dial in progress); false if there is none.
    bool drop(std::uint64_t id);
    // Closes every live connection; returns how many.
    std::size_t dropAll();
    void refuseNext(int code);
    // Going down closes the listeners and drops every connection; going up binds them again.
    // Throws std::runtime_error when the listeners cannot be bound.
    void setStatus(LineStatus status);

    // Connection threads not yet joined; the soak checks watch it.
    std::size_t connectionThreads() const;

private:
    struct Connection;
    struct ConnectionEntry {
        std::shared_ptr<Connection> connection;
        std::thread thread;
    };

    void acceptLoop();
    void applyListening();
    void acceptOne(int listener, Protocol protocol);
    void reapFinished();
    void runConnection(const std::shared_ptr<Connection>& connection);
    void converse(Connection& connection);
    void requestStop(Connection& connection);
    std::optional<int> takeRefusal();
    bool accountAccepted(const std::string& user, const std::string& password) const;
    std::chrono::microseconds stageDelay() const;

    const LineConfig config_;
    const LineServerContext context_;
    std::string address_;  // fixed once started

    // Touched only by the acceptor thread after start().
    std::array<FileDescriptor, 3> listeners_;
    bool listening_ = false;

    WakeEvent wake_;
    std::thread acceptor_;
    std::mutex statusChange_;  // one status change at a time

    mutable std::mutex mutex_;
    std::condition_variable applied_;
    LineStatus status_;
    bool wantListening_ = false;
    std::uint64_t listenRequest_ = 0;
    std::uint64_t listenApplied_ = 0;
    std::string listenError_;
    bool stopping_ = false;
    bool acceptorDone_ = false;
    std::optional<int> refuseNext_;
    std::size_t poolNext_ = 0;
    std::map<std::uint64_t, ConnectionEntry> connections_;
    std::vector<std::uint64_t> finished_;
};

// Binds all three protocol ports on a random loopback address that is not 127.0.0.1 and not in
// `taken`; the listeners are indexed like kAllProtocols. Throws std::runtime_error.
std::string pickLoopbackAddress(const std::set<std::string>& taken,
                                std::array<FileDescriptor, 3>& listeners);

}  // namespace veltrin::lab
