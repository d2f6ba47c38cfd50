#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace veltrin::service::testing {

// A cpp-httplib server on 127.0.0.1 and a free port, listening on its own thread. Add routes
// through server() before start().
class HttpServer final {
public:
    HttpServer();
    // HTTPS with the given PEM files.
    HttpServer(const std::string& certificateFile, const std::string& keyFile);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    httplib::Server& server() { return *server_; }
    bool valid() const { return server_->is_valid(); }
    void start();
    std::string url(std::string_view path) const;

private:
    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = -1;
    std::thread thread_;
};

// A bare TCP server on 127.0.0.1 for what an HTTP library would hide or refuse to do: exact
// request bytes, silence, trickling. Each connection runs the handler on its own thread.
class RawServer final {
public:
    using Handler = std::function<void(int socket, RawServer& server)>;
    explicit RawServer(Handler handler);
    ~RawServer();
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    std::string url(std::string_view path) const;
    // Waits up to `limit`; true when the server is being stopped.
    bool stopping(std::chrono::milliseconds limit);
    // The request head, up to and including the blank line.
    static std::string readRequestHead(int socket);
    static void writeAll(int socket, std::string_view bytes);

private:
    void acceptLoop();

    Handler handler_;
    int listener_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable stop_;
    bool stopping_ = false;
    std::vector<int> connections_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A port on 127.0.0.1 where nothing listens (bound, then released).
int unusedPort();

}  // namespace veltrin::service::testing
