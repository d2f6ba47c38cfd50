#include "WebFront.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <random>
#include <stdexcept>

namespace veltrin::lab {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t unixMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string trimmed(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// A peer that is silent for this long is treated as gone.
constexpr int kSocketTimeoutSeconds = 10;
constexpr int kHeadWaitMs = 5000;
constexpr int kTrickleIntervalMs = 250;
constexpr std::size_t kTrickleLength = 1 << 20;

void setTimeouts(int fd) {
    timeval tv{kSocketTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool sendBytes(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// 1 readable, 0 timed out, -1 failed.
int waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0) {
        return errno == EINTR ? 0 : -1;
    }
    return r;
}

}  // namespace

void RequestLog::add(RecordedRequest request) {
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(request));
    if (requests_.size() > kLimit) {
        requests_.pop_front();
    }
}

nlohmann::json RequestLog::toJson() const {
    std::lock_guard lock(mutex_);
    nlohmann::json list = nlohmann::json::array();
    for (const RecordedRequest& r : requests_) {
        nlohmann::json headers = nlohmann::json::array();
        for (const auto& [name, value] : r.headers) {
            headers.push_back({name, value});
        }
        list.push_back({{"scheme", r.scheme},
                        {"method", r.method},
                        {"target", r.target},
                        {"path", r.path},
                        {"query", r.query},
                        {"headers", headers},
                        {"received_ms", r.receivedMs}});
    }
    return list;
}

void RequestLog::clear() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

std::vector<RecordedRequest> RequestSniffer::feed(const char* data, std::size_t size) {
    std::vector<RecordedRequest> heads;
    if (lost_) {
        return heads;
    }
    buffer_.append(data, size);
    for (;;) {
        if (bodyLeft_ > 0) {
            const std::size_t skip =
                static_cast<std::size_t>(std::min<std::uint64_t>(bodyLeft_, buffer_.size()));
            buffer_.erase(0, skip);
            bodyLeft_ -= skip;
            if (bodyLeft_ > 0) {
                break;
            }
        }
        while (buffer_.starts_with("\r\n")) {
            buffer_.erase(0, 2);
        }
        const auto end = buffer_.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (buffer_.size() > kHeadLimit) {
                lost_ = true;
                buffer_.clear();
            }
            break;
        }
        const std::string head = buffer_.substr(0, end);
        buffer_.erase(0, end + 4);

        RecordedRequest r;
        r.scheme = scheme_;
        r.receivedMs = unixMillis();
        std::size_t lineEnd = head.find("\r\n");
        const std::string first = head.substr(0, lineEnd);
        const auto s1 = first.find(' ');
        const auto s2 = s1 == std::string::npos ? std::string::npos : first.find(' ', s1 + 1);
        r.method = first.substr(0, s1);
        if (s1 != std::string::npos) {
            r.target =
                first.substr(s1 + 1, s2 == std::string::npos ? std::string::npos : s2 - s1 - 1);
        }
        const auto question = r.target.find('?');
        r.path = r.target.substr(0, question);
        r.query = question == std::string::npos ? "" : r.target.substr(question + 1);
        bool chunked = false;
        while (lineEnd != std::string::npos) {
            const std::size_t start = lineEnd + 2;
            lineEnd = head.find("\r\n", start);
            const std::string line = head.substr(
                start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
            const auto colon = line.find(':');
            std::string name = line.substr(0, colon);
            std::string value = colon == std::string::npos ? "" : trimmed(line.substr(colon + 1));
            const std::string key = lower(name);
            if (key == "content-length") {
                bodyLeft_ = std::strtoull(value.c_str(), nullptr, 10);
            } else if (key == "transfer-encoding") {
                chunked = true;
            }
            r.headers.emplace_back(std::move(name), std::move(value));
        }
        heads.push_back(std::move(r));
        if (chunked) {
            // No client of the service sends chunked bodies; stop reading heads here.
            lost_ = true;
            buffer_.clear();
            break;
        }
    }
    return heads;
}

// The client side of one connection, plain or TLS, over a blocking socket with timeouts.
class WebFront::Peer final {
public:
    Peer(int fd, SSL_CTX* tls) : fd_(fd) {
        if (tls != nullptr) {
            ssl_ = SSL_new(tls);
            if (ssl_ != nullptr) {
                SSL_set_fd(ssl_, fd);
            }
        }
    }
    ~Peer() {
        if (ssl_ != nullptr) {
            if (handshaken_) {
                SSL_shutdown(ssl_);
            }
            SSL_free(ssl_);
        }
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int fd() const { return fd_; }
    bool tlsFailed(SSL_CTX* tls) const { return tls != nullptr && ssl_ == nullptr; }

    bool handshake() {
        if (ssl_ == nullptr) {
            return true;
        }
        handshaken_ = SSL_accept(ssl_) == 1;
        return handshaken_;
    }

    bool pending() const { return ssl_ != nullptr && SSL_pending(ssl_) > 0; }

    // >0 bytes read, 0 gone, -1 nothing yet.
    long read(char* buffer, std::size_t size) {
        if (ssl_ == nullptr) {
            const ssize_t n = ::recv(fd_, buffer, size, 0);
            if (n < 0) {
                return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : 0;
            }
            return static_cast<long>(n);
        }
        std::size_t got = 0;
        if (SSL_read_ex(ssl_, buffer, size, &got) == 1) {
            return static_cast<long>(got);
        }
        const int e = SSL_get_error(ssl_, 0);
        return e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE ? -1 : 0;
    }

    bool write(const char* data, std::size_t size) {
        if (ssl_ == nullptr) {
            return sendBytes(fd_, data, size);
        }
        while (size > 0) {
            std::size_t put = 0;
            if (SSL_write_ex(ssl_, data, size, &put) != 1) {
                return false;
            }
            data += put;
            size -= put;
        }
        return true;
    }

private:
    int fd_;
    SSL* ssl_ = nullptr;
    bool handshaken_ = false;
};

WebFront::WebFront(std::string scheme, SSL_CTX* tls, const std::atomic<Scenario>& scenario,
                   RequestLog& log)
    : scheme_(std::move(scheme)), tls_(tls), scenario_(scenario), log_(log) {}

WebFront::~WebFront() {
    stop();
}

void WebFront::start(std::uint16_t port, std::uint16_t backendPort) {
    std::string error;
    listener_ = listenTcp("127.0.0.1", port, &error);
    if (!listener_.valid()) {
        throw std::runtime_error("cannot bind the " + scheme_ +
                                 " web port 127.0.0.1:" + std::to_string(port) + ": " + error);
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.sin_port);
    backendPort_ = backendPort;
    acceptor_ = std::thread([this] { acceptLoop(); });
}

void WebFront::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    wake_.signal();
    if (acceptor_.joinable()) {
        acceptor_.join();
    }
    std::unique_lock lock(mutex_);
    for (int fd : open_) {
        ::shutdown(fd, SHUT_RDWR);
    }
    idle_.wait(lock, [this] { return running_ == 0; });
    listener_.reset();
}

std::string WebFront::url() const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_);
}

bool WebFront::track(int fd) {
    std::lock_guard lock(mutex_);
    if (stopping_) {
        return false;
    }
    open_.insert(fd);
    return true;
}

void WebFront::untrack(int fd) {
    std::lock_guard lock(mutex_);
    open_.erase(fd);
}

void WebFront::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listener_.get(), POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            continue;
        }
        const int client = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        if (scenario_.load() == Scenario::Down) {
            ::close(client);
            continue;
        }
        setTimeouts(client);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                ::close(client);
                return;
            }
            open_.insert(client);
            ++running_;
        }
        std::thread([this, client] {
            try {
                serve(client);
            } catch (...) {
                // A connection never takes the lab down.
            }
            untrack(client);
            ::close(client);
            std::lock_guard lock(mutex_);
            --running_;
            idle_.notify_all();
        }).detach();
    }
}

void WebFront::record(RequestSniffer& sniffer, const char* data, std::size_t size) {
    for (RecordedRequest& r : sniffer.feed(data, size)) {
        log_.add(std::move(r));
    }
}

void WebFront::serve(int client) {
    Peer peer(client, tls_);
    if (peer.tlsFailed(tls_) || !peer.handshake()) {
        return;
    }
    RequestSniffer sniffer(scheme_);
    const Scenario scenario = scenario_.load();
    switch (scenario) {
        case Scenario::Slow:
        case Scenario::Trickle:
        case Scenario::Garbage:
            serveScenario(peer, scenario, sniffer);
            return;
        default:
            proxy(peer, sniffer);
    }
}

bool WebFront::readHead(Peer& peer, RequestSniffer& sniffer) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(kHeadWaitMs);
    char buffer[4096];
    while (Clock::now() < deadline) {
        if (!peer.pending()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            const int ready = waitReadable(peer.fd(), static_cast<int>(left.count()) + 1);
            if (ready < 0) {
                return false;
            }
            if (ready == 0) {
                continue;
            }
        }
        const long n = peer.read(buffer, sizeof buffer);
        if (n == 0) {
            return false;
        }
        if (n > 0) {
            auto heads = sniffer.feed(buffer, static_cast<std::size_t>(n));
            for (RecordedRequest& r : heads) {
                log_.add(std::move(r));
            }
            if (!heads.empty()) {
                return true;
            }
        }
    }
    return false;
}

void WebFront::serveScenario(Peer& peer, Scenario scenario, RequestSniffer& sniffer) {
    char buffer[4096];
    if (scenario == Scenario::Slow) {
        // Listens to the end and never says a word.
        for (;;) {
            if (!peer.pending() && waitReadable(peer.fd(), -1) < 0) {
                return;
            }
            const long n = peer.read(buffer, sizeof buffer);
            if (n == 0) {
                return;
            }
            if (n > 0) {
                record(sniffer, buffer, static_cast<std::size_t>(n));
            }
        }
    }

    // Whether or not a whole head came, the answer is the same.
    readHead(peer, sniffer);
    if (scenario == Scenario::Garbage) {
        std::mt19937 random{std::random_device{}()};
        std::string junk(512, '\0');
        for (char& c : junk) {
            c = static_cast<char>(random() & 0xFF);
        }
        junk[0] = '\x07';  // never a valid status line, whatever the draw
        peer.write(junk.data(), junk.size());
        return;
    }

    // Trickle: a promising answer whose body comes a byte at a time and never ends in time.
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                             std::to_string(kTrickleLength) + "\r\n\r\n";
    if (!peer.write(head.data(), head.size())) {
        return;
    }
    for (std::size_t sent = 0; sent < kTrickleLength; ++sent) {
        const int ready = waitReadable(peer.fd(), kTrickleIntervalMs);
        if (ready != 0) {
            const long n = ready > 0 ? peer.read(buffer, sizeof buffer) : 0;
            if (n == 0) {
                return;
            }
            continue;
        }
        if (!peer.write(".", 1)) {
            return;
        }
    }
}

void WebFront::proxy(Peer& peer, RequestSniffer& sniffer) {
    const int backend = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (backend < 0) {
        return;
    }
    FileDescriptor backendOwner(backend);
    if (!track(backend)) {
        return;
    }
    struct Untrack {
        WebFront& front;
        int fd;
        ~Untrack() { front.untrack(fd); }
    } untrack{*this, backend};

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(backendPort_);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(backend, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        return;
    }
    setTimeouts(backend);

    char buffer[16384];
    for (;;) {
        bool clientReady = peer.pending();
        bool backendReady = false;
        if (!clientReady) {
            pollfd fds[2] = {{peer.fd(), POLLIN, 0}, {backend, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            clientReady = fds[0].revents != 0;
            backendReady = fds[1].revents != 0;
        }
        if (backendReady) {
            const ssize_t n = ::recv(backend, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return;
            }
            if (!peer.write(buffer, static_cast<std::size_t>(n))) {
                return;
            }
        }
        if (clientReady) {
            const long n = peer.read(buffer, sizeof buffer);
            if (n == 0) {
                return;
            }
            if (n > 0) {
                record(sniffer, buffer, static_cast<std::size_t>(n));
                if (!sendBytes(backend, buffer, static_cast<std::size_t>(n))) {
                    return;
                }
            }
        }
    }
}

}  // namespace veltrin::lab
