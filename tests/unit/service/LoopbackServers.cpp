#include "LoopbackServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace veltrin::service::testing {
namespace {

int boundLoopbackSocket(int& port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) {
        throw std::runtime_error("socket");
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(s);
        throw std::runtime_error("bind");
    }
    socklen_t length = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    return s;
}

}  // namespace

HttpServer::HttpServer() : server_(std::make_unique<httplib::Server>()), scheme_("http") {}

HttpServer::HttpServer(const std::string& certificateFile, const std::string& keyFile)
    : server_(std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str())),
      scheme_("https") {}

void HttpServer::start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("cannot bind a loopback port");
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // stop() before the listen loop runs would be lost and the join would hang.
    while (!server_->is_running()) {
        std::this_thread::yield();
    }
}

HttpServer::~HttpServer() {
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::string HttpServer::url(std::string_view path) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

RawServer::RawServer(Handler handler) : handler_(std::move(handler)) {
    listener_ = boundLoopbackSocket(port_);
    ::listen(listener_, 16);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

RawServer::~RawServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int c : connections_) {
            ::shutdown(c, SHUT_RDWR);
        }
    }
    stop_.notify_all();
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    for (auto& w : workers_) {
        w.join();
    }
    for (int c : connections_) {
        ::close(c);
    }
    ::close(listener_);
}

void RawServer::acceptLoop() {
    for (;;) {
        const int c = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) {
            return;
        }
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(c);
            return;
        }
        connections_.push_back(c);
        workers_.emplace_back([this, c] { handler_(c, *this); });
    }
}

bool RawServer::stopping(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return stop_.wait_for(lock, limit, [this] { return stopping_; });
}

std::string RawServer::url(std::string_view path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string RawServer::readRequestHead(int socket) {
    std::string head;
    char c = 0;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(socket, &c, 1, 0) == 1) {
        head.push_back(c);
    }
    return head;
}

void RawServer::writeAll(int socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

int unusedPort() {
    int port = 0;
    ::close(boundLoopbackSocket(port));
    return port;
}

}  // namespace veltrin::service::testing
