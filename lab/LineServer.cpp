#include "LineServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <random>
#include <stdexcept>
#include <system_error>

#include "LineProtocol.h"

namespace veltrin::lab {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kMaxLineBytes = 4096;

std::size_t slot(Protocol protocol) {
    return static_cast<std::size_t>(protocol);
}

std::int64_t unixMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Junk that starts like a TLS record and holds no line end, so no line reader finds a word in it.
std::string garbageBytes() {
    std::string junk = "\x16\x03\x01\x00\xa5\x01\x00\x00\xa1\x03\x03";
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> byte(0, 255);
    while (junk.size() < 64) {
        const char c = static_cast<char>(byte(rng));
        if (c != '\n') {
            junk.push_back(c);
        }
    }
    return junk;
}

// The client side of one connection. "Ended" covers both the client closing and the lab
// shutting the socket down; the caller tells them apart.
class ClientStream final {
public:
    explicit ClientStream(int fd) : fd_(fd) {}

    enum class Read { Line, Ended, TooLong };

    Read readLine(std::string& line) {
        while (true) {
            if (const auto end = buffer_.find('\n'); end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return Read::Line;
            }
            if (buffer_.size() > kMaxLineBytes) {
                buffer_.clear();
                return Read::TooLong;
            }
            if (fill(-1) == Fill::Ended) {
                return Read::Ended;
            }
        }
    }

    // Waits out a stage delay; false when the socket ended meanwhile.
    bool pause(std::chrono::microseconds delay) {
        const auto deadline = Clock::now() + delay;
        while (true) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero()) {
                return true;
            }
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            if (fill(static_cast<int>(std::min<long long>(ms, 1'000'000))) == Fill::Ended) {
                return false;
            }
            if (buffer_.size() > kMaxLineBytes) {
                buffer_.clear();
            }
        }
    }

    void waitEnd() {
        while (fill(-1) != Fill::Ended) {
            buffer_.clear();
        }
    }

private:
    enum class Fill { Data, Timeout, Ended };

    Fill fill(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        const int n = ::poll(&p, 1, timeoutMs);
        if (n < 0) {
            return errno == EINTR ? Fill::Timeout : Fill::Ended;
        }
        if (n == 0) {
            return Fill::Timeout;
        }
        char chunk[4096];
        const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(got));
            return Fill::Data;
        }
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            return Fill::Data;
        }
        return Fill::Ended;
    }

    int fd_;
    std::string buffer_;
};

}  // namespace

struct LineServer::Connection {
    std::uint64_t id = 0;
    Protocol protocol = Protocol::Pptp;
    int fd = -1;  // closed by the connection's own thread, under mutex_
    // Guarded by the server's mutex_.
    bool stopRequested = false;
    bool ended = false;
    bool tunnel = false;
    std::string user;
    std::string publicIp;
    std::int64_t startedMs = 0;
    std::uint64_t order = 0;
};

std::string pickLoopbackAddress(const std::set<std::string>& taken,
                                std::array<FileDescriptor, 3>& listeners) {
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> first(64, 126);
    std::uniform_int_distribution<int> second(0, 255);
    std::uniform_int_distribution<int> third(1, 254);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string address = "127." + std::to_string(first(rng)) + "." +
                                    std::to_string(second(rng)) + "." + std::to_string(third(rng));
        if (taken.count(address) != 0) {
            continue;
        }
        std::array<FileDescriptor, 3> bound;
        bool ok = true;
        for (Protocol p : kAllProtocols) {
            bound[slot(p)] = listenTcp(address, protocolPort(p), nullptr);
            ok = ok && bound[slot(p)].valid();
            if (!ok) {
                break;
            }
        }
        if (ok) {
            listeners = std::move(bound);
            return address;
        }
    }
    throw std::runtime_error("found no loopback address where ports 1723, 1701 and 4430 are free");
}

LineServer::LineServer(LineConfig config, LineServerContext context)
    : config_(std::move(config)), context_(context), status_(config_.status) {}

LineServer::~LineServer() {
    stop();
}

void LineServer::start(std::set<std::string>& taken) {
    std::array<FileDescriptor, 3> bound;
    if (config_.address) {
        address_ = *config_.address;
        for (Protocol p : config_.protocols) {
            std::string error;
            bound[slot(p)] = listenTcp(address_, protocolPort(p), &error);
            if (!bound[slot(p)].valid()) {
                throw std::runtime_error("line " + config_.name + ": " + error);
            }
        }
    } else {
        address_ = pickLoopbackAddress(taken, bound);
    }
    taken.insert(address_);

    listening_ = config_.status != LineStatus::Down;
    for (Protocol p : kAllProtocols) {
        bool supported = false;
        for (Protocol q : config_.protocols) {
            supported = supported || p == q;
        }
        if (!listening_ || !supported) {
            bound[slot(p)].reset();
        }
    }
    listeners_ = std::move(bound);
    wantListening_ = listening_;
    acceptor_ = std::thread([this] { acceptLoop(); });
}

void LineServer::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.signal();
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        for (auto& [id, entry] : connections_) {
            requestStop(*entry.connection);
            threads.push_back(std::move(entry.thread));
        }
        connections_.clear();
        finished_.clear();
    }
    for (auto& thread : threads) {
        thread.join();
    }
}

std::string LineServer::address() const {
    return address_;
}

LineStatus LineServer::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

nlohmann::json LineServer::describe() const {
    nlohmann::json protocols = nlohmann::json::array();
    for (Protocol p : config_.protocols) {
        protocols.push_back(protocolName(p));
    }
    return {{"name", config_.name},
            {"address", address_},
            {"status", statusName(status())},
            {"protocols", protocols}};
}

std::vector<TunnelInfo> LineServer::tunnels() const {
    std::vector<TunnelInfo> list;
    std::lock_guard lock(mutex_);
    for (const auto& [id, entry] : connections_) {
        const Connection& c = *entry.connection;
        if (c.tunnel && !c.ended && !c.stopRequested) {
            list.push_back(
                {c.id, config_.name, c.protocol, c.user, c.publicIp, c.startedMs, c.order});
        }
    }
    return list;
}

void LineServer::requestStop(Connection& connection) {
    if (connection.ended || connection.stopRequested) {
        return;
    }
    connection.stopRequested = true;
    if (connection.fd >= 0) {
        // Wakes the connection's thread wherever it waits; it closes the socket itself.
        ::shutdown(connection.fd, SHUT_RDWR);
    }
}

bool LineServer::drop(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    const auto it = connections_.find(id);
    if (it == connections_.end()) {
        return false;
    }
    Connection& c = *it->second.connection;
    if (c.ended || c.stopRequested) {
        return false;
    }
    requestStop(c);
    return true;
}

std::size_t LineServer::dropAll() {
    std::lock_guard lock(mutex_);
    std::size_t dropped = 0;
    for (auto& [id, entry] : connections_) {
        Connection& c = *entry.connection;
        if (!c.ended && !c.stopRequested) {
            requestStop(c);
            ++dropped;
        }
    }
    return dropped;
}

void LineServer::refuseNext(int code) {
    std::lock_guard lock(mutex_);
    refuseNext_ = code;
}

std::optional<int> LineServer::takeRefusal() {
    std::lock_guard lock(mutex_);
    return std::exchange(refuseNext_, std::nullopt);
}

void LineServer::setStatus(LineStatus status) {
    std::lock_guard serial(statusChange_);
    const bool listen = status != LineStatus::Down;
    {
        std::unique_lock lock(mutex_);
        if (stopping_) {
            throw std::runtime_error("the lab is shutting down");
        }
        wantListening_ = listen;
        const std::uint64_t request = ++listenRequest_;
        wake_.signal();
        applied_.wait(lock, [&] { return listenApplied_ >= request || acceptorDone_; });
        if (listenApplied_ < request) {
            throw std::runtime_error("the lab is shutting down");
        }
        if (!listenError_.empty()) {
            throw std::runtime_error("line " + config_.name + " cannot listen: " + listenError_);
        }
        status_ = status;
    }
    if (!listen) {
        dropAll();
    }
}

std::size_t LineServer::connectionThreads() const {
    std::lock_guard lock(mutex_);
    return connections_.size();
}

std::chrono::microseconds LineServer::stageDelay() const {
    return std::chrono::microseconds(
        std::llround(config_.stageDelayMs * 1000.0 * context_.timeScale));
}

void LineServer::applyListening() {
    bool want = false;
    std::uint64_t request = 0;
    {
        std::lock_guard lock(mutex_);
        if (listenRequest_ == listenApplied_) {
            return;
        }
        want = wantListening_;
        request = listenRequest_;
    }
    std::string error;
    if (want && !listening_) {
        for (Protocol p : config_.protocols) {
            listeners_[slot(p)] = listenTcp(address_, protocolPort(p), &error);
            if (!listeners_[slot(p)].valid()) {
                break;
            }
        }
        if (error.empty()) {
            listening_ = true;
        } else {
            for (auto& listener : listeners_) {
                listener.reset();
            }
        }
    } else if (!want && listening_) {
        for (auto& listener : listeners_) {
            listener.reset();
        }
        listening_ = false;
    }
    {
        std::lock_guard lock(mutex_);
        listenApplied_ = request;
        listenError_ = error;
    }
    applied_.notify_all();
}

void LineServer::acceptLoop() {
    std::vector<pollfd> fds;
    std::vector<Protocol> protocols;
    bool backoff = false;
    while (true) {
        fds.assign(1, pollfd{wake_.fd(), POLLIN, 0});
        protocols.clear();
        for (Protocol p : kAllProtocols) {
            if (!backoff && listeners_[slot(p)].valid()) {
                fds.push_back(pollfd{listeners_[slot(p)].get(), POLLIN, 0});
                protocols.push_back(p);
            }
        }
        // After a failed accept (out of descriptors, say) the listener stays readable; the
        // short timeout keeps that from spinning.
        const int ready = ::poll(fds.data(), fds.size(), backoff ? 100 : -1);
        backoff = false;
        if (ready < 0 && errno != EINTR) {
            std::cerr << "veltrin-lab: poll: " << std::strerror(errno) << '\n';
            backoff = true;
            continue;
        }
        if (ready <= 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            wake_.drain();
            reapFinished();
            {
                std::lock_guard lock(mutex_);
                if (stopping_) {
                    break;
                }
            }
            applyListening();
            continue;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0) {
                acceptOne(fds[i].fd, protocols[i - 1]);
            }
        }
    }
    for (auto& listener : listeners_) {
        listener.reset();
    }
    listening_ = false;
    {
        std::lock_guard lock(mutex_);
        acceptorDone_ = true;
    }
    applied_.notify_all();
}

void LineServer::acceptOne(int listener, Protocol protocol) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED) {
            std::cerr << "veltrin-lab: accept on line " << config_.name << ": "
                      << std::strerror(errno) << '\n';
        }
        return;
    }
    // Stages go out as separate small lines; Nagle would hold each one back for an ACK.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard lock(mutex_);
    if (stopping_) {
        ::close(fd);
        return;
    }
    auto connection = std::make_shared<Connection>();
    connection->id = context_.dials->open(config_.name, protocol);
    connection->protocol = protocol;
    connection->fd = fd;
    ConnectionEntry& entry = connections_[connection->id];
    entry.connection = connection;
    try {
        entry.thread = std::thread([this, connection] { runConnection(connection); });
    } catch (const std::system_error& e) {
        std::cerr << "veltrin-lab: cannot start a connection thread: " << e.what() << '\n';
        ::close(fd);
        context_.dials->settle(connection->id, "closed");
        connections_.erase(connection->id);
    }
}

void LineServer::reapFinished() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(mutex_);
        for (std::uint64_t id : finished_) {
            const auto it = connections_.find(id);
            if (it != connections_.end()) {
                done.push_back(std::move(it->second.thread));
                connections_.erase(it);
            }
        }
        finished_.clear();
    }
    for (auto& thread : done) {
        thread.join();
    }
}

void LineServer::runConnection(const std::shared_ptr<Connection>& connection) {
    Connection& c = *connection;
    try {
        converse(c);
    } catch (const std::exception& e) {
        std::cerr << "veltrin-lab: connection " << c.id << ": " << e.what() << '\n';
    }
    bool stopped = false;
    {
        std::lock_guard lock(mutex_);
        stopped = c.stopRequested;
        c.ended = true;
    }
    context_.dials->settle(c.id, stopped ? "closed" : "aborted");
    // Half-close and drain first: closing with unread input would reset the connection and
    // could discard the last line the client has not read yet.
    ::shutdown(c.fd, SHUT_WR);
    char sink[1024];
    while (::recv(c.fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    {
        std::lock_guard lock(mutex_);
        ::close(c.fd);
        c.fd = -1;
        finished_.push_back(c.id);
    }
    wake_.signal();
}

bool LineServer::accountAccepted(const std::string& user, const std::string& password) const {
    for (const Account& account : config_.accounts) {
        if (account.user == user && account.password == password) {
            return true;
        }
    }
    return false;
}

void LineServer::converse(Connection& c) {
    DialLog& dials = *context_.dials;
    ClientStream client(c.fd);
    std::string line;

    if (config_.failure.kind == Failure::Kind::Silent) {
        dials.setOutcome(c.id, "silent");
        while (true) {
            const auto read = client.readLine(line);
            if (read == ClientStream::Read::Ended) {
                return;
            }
            if (read == ClientStream::Read::Line) {
                if (const auto request = parseDialLine(line)) {
                    dials.setUser(c.id, request->user);
                }
            }
        }
    }

    const auto send = [&](const std::string& text) { return sendAll(c.fd, text); };
    const auto fail = [&](int code) {
        dials.setOutcome(c.id, "error:" + std::to_string(code));
        send("ERROR " + std::to_string(code) + "\n");
    };

    if (!send(std::string(kHelloLine))) {
        return;
    }
    const auto read = client.readLine(line);
    if (read == ClientStream::Read::Ended) {
        return;
    }
    std::optional<DialRequest> request;
    if (read == ClientStream::Read::Line) {
        request = parseDialLine(line);
    }
    if (!request || request->protocol != c.protocol) {
        fail(kBadRequestError);
        return;
    }
    dials.setUser(c.id, request->user);
    {
        std::lock_guard lock(mutex_);
        c.user = request->user;
    }

    const auto refusal = takeRefusal();
    const auto delay = stageDelay();
    const auto report = [&](int stage) {
        return client.pause(delay) && send("STATE " + std::to_string(stage) + "\n");
    };

    if (config_.failure.kind == Failure::Kind::Garbage && !refusal) {
        if (client.pause(delay)) {
            dials.setOutcome(c.id, "garbage");
            send(garbageBytes());
        }
        return;
    }
    for (int stage : {3, 4, 5, 6}) {
        if (!report(stage)) {
            return;
        }
    }
    if (refusal) {
        fail(*refusal);
        return;
    }
    if (config_.failure.kind == Failure::Kind::Close) {
        dials.setOutcome(c.id, "closed");
        return;
    }
    if (config_.failure.kind == Failure::Kind::Error) {
        fail(config_.failure.code);
        return;
    }
    if (!accountAccepted(request->user, request->password)) {
        fail(691);
        return;
    }
    for (int stage : {14, 18}) {
        if (!report(stage)) {
            return;
        }
    }

    std::string publicIp;
    {
        std::lock_guard lock(mutex_);
        if (c.stopRequested) {
            return;
        }
        publicIp = config_.pool[poolNext_];
        poolNext_ = (poolNext_ + 1) % config_.pool.size();
        c.tunnel = true;
        c.publicIp = publicIp;
        c.startedMs = unixMillis();
        c.order = ++*context_.tunnelOrder;
    }
    dials.setOutcome(c.id, "connected");
    if (send("CONNECTED " + publicIp + "\n")) {
        client.waitEnd();
    }
}

}  // namespace veltrin::lab
