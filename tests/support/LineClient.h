#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltrin::testing {

// Port of a line protocol: "pptp", "l2tp" or "sstp".
std::uint16_t linePort(const std::string& protocol);

// Lower-case hex of the bytes, "-" for an empty text, as the DIAL line carries them.
std::string hexField(const std::string& text);

// "DIAL <protocol> <user-hex> <password-hex>\n"
std::string dialLine(const std::string& protocol, const std::string& user,
                     const std::string& password);

// True when a TCP connection to address:port is refused.
bool connectionRefused(const std::string& address, std::uint16_t port);

// A raw TCP client for a lab line server.
class LineClient final {
public:
    // Throws std::runtime_error when the connection fails.
    LineClient(const std::string& address, std::uint16_t port);
    ~LineClient();
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    void send(const std::string& bytes);
    // The next line without its newline; nothing once the server has closed. Throws when
    // neither arrives in time.
    std::optional<std::string> readLine(
        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Everything until the server closes; throws when it does not close in time.
    std::string readUntilClosed(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Bytes that have arrived and are not read yet, without waiting.
    std::string available();
    // Reads HELLO, sends the DIAL line and reads until CONNECTED, ERROR or a close; returns the
    // lines after HELLO.
    std::vector<std::string> dial(const std::string& protocol, const std::string& user,
                                  const std::string& password);
    // False once the server has closed the connection; does not wait.
    bool isOpen();
    void close();

private:
    // Appends what arrives within the timeout; false once the server has closed.
    bool fill(int timeoutMs);

    int fd_ = -1;
    std::string buffer_;
    bool eof_ = false;
};

}  // namespace veltrin::testing
