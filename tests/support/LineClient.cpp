#include "LineClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace veltrin::testing {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in endpoint(const std::string& address, std::uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address: " + address);
    }
    if ((ntohl(sa.sin_addr.s_addr) >> 24) != 127) {
        throw std::runtime_error("tests only connect to loopback, not " + address);
    }
    return sa;
}

// Connects; the socket or -errno.
int connectTo(const std::string& address, std::uint16_t port) {
    const sockaddr_in sa = endpoint(address, port);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -errno;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

std::uint16_t linePort(const std::string& protocol) {
    if (protocol == "pptp") {
        return 1723;
    }
    if (protocol == "l2tp") {
        return 1701;
    }
    if (protocol == "sstp") {
        return 4430;
    }
    throw std::runtime_error("unknown protocol " + protocol);
}

std::string hexField(const std::string& text) {
    if (text.empty()) {
        return "-";
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

std::string dialLine(const std::string& protocol, const std::string& user,
                     const std::string& password) {
    return "DIAL " + protocol + " " + hexField(user) + " " + hexField(password) + "\n";
}

bool connectionRefused(const std::string& address, std::uint16_t port) {
    const int fd = connectTo(address, port);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return -fd == ECONNREFUSED;
}

LineClient::LineClient(const std::string& address, std::uint16_t port) {
    fd_ = connectTo(address, port);
    if (fd_ < 0) {
        throw std::runtime_error("connect " + address + ":" + std::to_string(port) + ": " +
                                 std::strerror(-fd_));
    }
}

LineClient::~LineClient() {
    close();
}

void LineClient::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void LineClient::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            throw std::runtime_error(std::string("send: ") + std::strerror(errno));
        }
        sent += static_cast<std::size_t>(n);
    }
}

bool LineClient::fill(int timeoutMs) {
    if (eof_) {
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return true;
    }
    char chunk[4096];
    const ssize_t got = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got > 0) {
        buffer_.append(chunk, static_cast<std::size_t>(got));
        return true;
    }
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    eof_ = true;  // an orderly close or a reset both end the tunnel
    return false;
}

std::optional<std::string> LineClient::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (true) {
        if (const auto end = buffer_.find('\n'); end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        if (eof_) {
            return std::nullopt;
        }
        if (Clock::now() >= deadline) {
            throw std::runtime_error("no line from the lab in time; have \"" + buffer_ + "\"");
        }
        fill(remainingMs(deadline));
    }
}

std::string LineClient::readUntilClosed(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!eof_) {
        if (Clock::now() >= deadline) {
            throw std::runtime_error("the lab did not close the connection in time");
        }
        fill(remainingMs(deadline));
    }
    return std::exchange(buffer_, {});
}

std::string LineClient::available() {
    fill(0);
    return std::exchange(buffer_, {});
}

bool LineClient::isOpen() {
    // Pending bytes come before a close; read until neither is waiting.
    while (!eof_) {
        const std::size_t before = buffer_.size();
        fill(0);
        if (buffer_.size() == before) {
            break;
        }
    }
    return !eof_;
}

std::vector<std::string> LineClient::dial(const std::string& protocol, const std::string& user,
                                          const std::string& password) {
    const auto hello = readLine();
    if (hello != "HELLO veltrin-lab 1") {
        throw std::runtime_error("expected HELLO, got " + hello.value_or("a close"));
    }
    send(dialLine(protocol, user, password));
    std::vector<std::string> lines;
    while (const auto line = readLine()) {
        lines.push_back(*line);
        if (line->rfind("CONNECTED ", 0) == 0 || line->rfind("ERROR ", 0) == 0) {
            break;
        }
    }
    return lines;
}

}  // namespace veltrin::testing
