#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace veltrin::lab {

// Owns a file descriptor; closes it on destruction.
class FileDescriptor final {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A listening TCP socket on address:port with SO_REUSEADDR, or an invalid descriptor with
// *error set.
FileDescriptor listenTcp(const std::string& address, std::uint16_t port, std::string* error);

// An eventfd used to wake a poll() loop from another thread.
class WakeEvent final {
public:
    WakeEvent();
    int fd() const { return fd_.get(); }
    void signal();
    void drain();

private:
    FileDescriptor fd_;
};

// Writes all bytes unless the peer is gone; never raises SIGPIPE.
bool sendAll(int fd, const std::string& bytes);

}  // namespace veltrin::lab
