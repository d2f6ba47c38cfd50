#include "Socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace veltrin::lab {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        reset(std::exchange(other.fd_, -1));
    }
    return *this;
}

void FileDescriptor::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

FileDescriptor listenTcp(const std::string& address, std::uint16_t port, std::string* error) {
    auto failed = [&](const char* step) {
        if (error != nullptr) {
            *error = std::string(step) + " " + address + ":" + std::to_string(port) + ": " +
                     std::strerror(errno);
        }
        return FileDescriptor{};
    };
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        errno = EINVAL;
        return failed("bad address");
    }
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) {
        return failed("socket");
    }
    const int one = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        return failed("setsockopt");
    }
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        return failed("bind");
    }
    // Two SO_REUSEADDR sockets may both bind before either listens; listen() settles it.
    if (::listen(fd.get(), 64) != 0) {
        return failed("listen");
    }
    return fd;
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!fd_.valid()) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
}

void WakeEvent::signal() {
    const std::uint64_t one = 1;
    // EAGAIN means the counter is saturated, which still wakes the reader.
    [[maybe_unused]] auto written = ::write(fd_.get(), &one, sizeof one);
}

void WakeEvent::drain() {
    std::uint64_t value = 0;
    [[maybe_unused]] auto got = ::read(fd_.get(), &value, sizeof value);
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace veltrin::lab
