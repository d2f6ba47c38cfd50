#include "engine/LabDialFacility.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <variant>

#include "engine/LabPhoneBook.h"
#include "text/LocalText.h"

namespace veltrin::engine {

std::optional<std::string> labErrorText(int error) {
    static const std::map<int, std::string> texts = {
        {error::kInvalidHandle, "连接句柄无效。"},
        {error::kCannotOpenPhonebook, "无法打开电话簿文件。"},
        {error::kCannotFindEntry, "电话簿中找不到这个连接项。"},
        {error::kRemoteDisconnection, "连接已被远程服务器关闭。"},
        {error::kDeviceError, "设备报告了错误：服务器的应答无法识别。"},
        {error::kNoAnswer, "远程服务器没有应答。"},
        {error::kAuthenticationFailure, "用户名或密码不正确，服务器拒绝了这次连接。"},
        {error::kPppTimeout, "等待服务器应答超时，连接未能完成。"},
        // Longer than the 100-byte buffer the dial reads messages into, on purpose: such a
        // message reaches the user as blanks.
        {error::kPppNoProtocols,
         "服务器和本机之间没有共同可用的网络协议，无法完成连接的协议协商阶段。请检查这个连接的网络"
         "协议设置，或者联系服务器的管理员确认服务器端允许使用的协议，然后再重新连接。"},
        {error::kPppLcpTerminated, "链路控制协议被服务器终止。"},
        {error::kNoTunnel, "无法建立VPN连接：服务器不可到达，或服务器上没有可用的隧道。"},
        {error::kServerNotResponding, "无法与VPN服务器建立网络连接，服务器没有响应。"},
        {error::kNameNotResolved, "无法解析远程服务器的名称。"},
    };
    const auto it = texts.find(error);
    return it == texts.end() ? std::nullopt : std::optional<std::string>(it->second);
}

std::optional<LineEndpoint> lineEndpoint(const std::string& address, int protocolCode) {
    LineEndpoint ep;
    std::string host = address;
    if (protocolCode >= 5 && protocolCode <= 8) {
        ep.protocol = "sstp";
        ep.port = 443;
        if (const auto colon = address.rfind(':'); colon != std::string::npos) {
            host = address.substr(0, colon);
            unsigned port = 0;
            const auto* first = address.data() + colon + 1;
            const auto* last = address.data() + address.size();
            const auto [p, ec] = std::from_chars(first, last, port);
            if (ec != std::errc{} || p != last || port == 0 || port > 65535) {
                return std::nullopt;
            }
            ep.port = static_cast<unsigned short>(port);
        }
    } else if (protocolCode == 3 || protocolCode == 4) {
        ep.protocol = "l2tp";
        ep.port = 1701;
    } else {
        ep.protocol = "pptp";
        ep.port = 1723;
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, host.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    ep.host = host;
    return ep;
}

namespace {

std::string toHex(const std::string& s) {
    if (s.empty()) {
        return "-";
    }
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool isLoopback(const std::string& host) {
    in_addr a{};
    return inet_pton(AF_INET, host.c_str(), &a) == 1 && (ntohl(a.s_addr) >> 24) == 127;
}

}  // namespace

struct LabDialFacility::Core {
    struct Connection {
        ConnectionHandle handle = 0;
        std::string entryName;
        int wakeFd = -1;
        std::atomic<bool> cancelled{false};
        std::atomic<bool> finished{false};
        std::thread thread;

        ~Connection() {
            if (wakeFd >= 0) {
                ::close(wakeFd);
            }
        }
    };

    LabFacilityOptions options;
    std::mutex fileMutex;
    std::set<std::filesystem::path> phoneBooksWritten;  // guarded by fileMutex
    mutable std::mutex connMutex;
    std::list<std::shared_ptr<Connection>> connections;  // every connection whose thread lives
    std::map<ConnectionHandle, std::weak_ptr<Connection>> listed;  // dialling or connected
    ConnectionHandle nextHandle = 0x10000;
    bool stopped = false;

    void unlist(ConnectionHandle h) {
        std::lock_guard lock(connMutex);
        listed.erase(h);
    }

    // Joins the threads of connections that have ended, so dials leave no threads behind.
    void reap() {
        std::list<std::shared_ptr<Connection>> done;
        {
            std::lock_guard lock(connMutex);
            for (auto it = connections.begin(); it != connections.end();) {
                if ((*it)->finished) {
                    done.push_back(*it);
                    it = connections.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& c : done) {
            if (c->thread.joinable()) {
                c->thread.join();
            }
        }
    }

    static void cancel(Connection& c) {
        c.cancelled = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(c.wakeFd, &one, sizeof one);
    }
};

namespace {

using Connection = LabDialFacility::Core::Connection;

// One dial, from opening the port to the end of the tunnel, on a thread of its own.
class DialSession final {
public:
    DialSession(std::shared_ptr<LabDialFacility::Core> core, std::shared_ptr<Connection> conn,
                std::string address, int protocolCode, DialParams params, DialProgress progress)
        : core_(std::move(core)),
          conn_(std::move(conn)),
          address_(std::move(address)),
          protocolCode_(protocolCode),
          params_(std::move(params)),
          progress_(std::move(progress)) {}

    void run() {
        const int error = dial();
        if (error != 0) {
            report(0, error);
        }
        if (fd_ >= 0) {
            if (error == 0 && !conn_->cancelled) {
                waitForEnd();
            }
            ::close(fd_);
        }
        core_->unlist(conn_->handle);
        conn_->finished = true;
    }

private:
    enum class Wait { kReady, kTimeout, kCancelled };

    void report(int state, int error = 0) {
        if (!conn_->cancelled) {
            progress_(0, state, error);
        }
    }

    Wait waitFor(short events, std::chrono::milliseconds timeout) {
        pollfd fds[2] = {{fd_, events, 0}, {conn_->wakeFd, POLLIN, 0}};
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (conn_->cancelled) {
                return Wait::kCancelled;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                return Wait::kTimeout;
            }
            const int n = ::poll(fds, 2, static_cast<int>(left.count()));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (fds[1].revents != 0 || conn_->cancelled) {
                return Wait::kCancelled;
            }
            if (n > 0) {
                return Wait::kReady;
            }
        }
    }

    // Reads one protocol line: the line, or the error that ends the dial (0 when cancelled).
    std::variant<std::string, int> readLine(int timeoutError) {
        for (;;) {
            if (const auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            if (buffer_.size() > 512) {
                return error::kDeviceError;
            }
            switch (waitFor(POLLIN, core_->options.answerTimeout)) {
                case Wait::kCancelled:
                    return 0;
                case Wait::kTimeout:
                    return timeoutError;
                case Wait::kReady:
                    break;
            }
            char chunk[512];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n <= 0) {
                // Bytes that never formed a line were no answer of a line server.
                return buffer_.empty() ? error::kRemoteDisconnection : error::kDeviceError;
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

    int connectTcp(const LineEndpoint& ep) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            return error::kDeviceError;
        }
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(ep.port);
        inet_pton(AF_INET, ep.host.c_str(), &sa.sin_addr);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
            return 0;
        }
        if (errno != EINPROGRESS) {
            return error::kNoTunnel;
        }
        switch (waitFor(POLLOUT, core_->options.answerTimeout)) {
            case Wait::kCancelled:
                return -1;
            case Wait::kTimeout:
                return error::kServerNotResponding;
            case Wait::kReady:
                break;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &len);
        return soError == 0 ? 0 : error::kNoTunnel;
    }

    bool sendAll(const std::string& data) {
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n = ::send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                if (errno == EAGAIN &&
                    waitFor(POLLOUT, core_->options.answerTimeout) != Wait::kReady) {
                    return false;
                }
                continue;
            }
            if (n <= 0) {
                return false;
            }
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // 0 once connected, a remote-access error, or -1 when hung up meanwhile.
    int dial() {
        report(state::kOpenPort);
        report(state::kPortOpened);
        report(state::kConnectDevice);
        const auto ep = lineEndpoint(address_, protocolCode_);
        if (!ep) {
            return error::kNameNotResolved;
        }
        if (!isLoopback(ep->host)) {
            return error::kNoTunnel;  // the lab facility never leaves this machine
        }
        if (const int e = connectTcp(*ep); e != 0) {
            return e;
        }
        auto hello = readLine(error::kServerNotResponding);
        if (auto* e = std::get_if<int>(&hello)) {
            return *e == 0 ? -1 : *e;
        }
        if (!std::get<std::string>(hello).starts_with("HELLO veltrin-lab ")) {
            return error::kDeviceError;
        }
        if (!sendAll("DIAL " + ep->protocol + " " + toHex(params_.szUserName) + " " +
                     toHex(params_.szPassword) + "\n")) {
            return conn_->cancelled ? -1 : error::kRemoteDisconnection;
        }
        for (;;) {
            auto line = readLine(error::kPppTimeout);
            if (auto* e = std::get_if<int>(&line)) {
                return *e == 0 ? -1 : *e;
            }
            const std::string& text = std::get<std::string>(line);
            int number = 0;
            const auto parse = [&](std::string_view prefix) {
                if (!text.starts_with(prefix)) {
                    return false;
                }
                const auto* first = text.data() + prefix.size();
                const auto* last = text.data() + text.size();
                const auto [p, ec] = std::from_chars(first, last, number);
                return ec == std::errc{} && p == last;
            };
            if (parse("STATE ")) {
                report(number);
            } else if (parse("ERROR ")) {
                return number == 0 ? error::kDeviceError : number;
            } else if (text.starts_with("CONNECTED ")) {
                report(state::kConnected);
                return 0;
            } else {
                return error::kDeviceError;
            }
        }
    }

    // The tunnel lives as long as the TCP session: wait for the server's close or a hang-up.
    void waitForEnd() {
        char chunk[256];
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {conn_->wakeFd, POLLIN, 0}};
            const int n = ::poll(fds, 2, -1);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (fds[1].revents != 0 || conn_->cancelled) {
                return;
            }
            const ssize_t r = ::recv(fd_, chunk, sizeof chunk, 0);
            if (r == 0 || (r < 0 && errno != EINTR && errno != EAGAIN)) {
                return;
            }
        }
    }

    std::shared_ptr<LabDialFacility::Core> core_;
    std::shared_ptr<Connection> conn_;
    std::string address_;
    int protocolCode_;
    DialParams params_;
    DialProgress progress_;
    int fd_ = -1;
    std::string buffer_;
};

}  // namespace

LabDialFacility::LabDialFacility(LabFacilityOptions options) : core_(std::make_shared<Core>()) {
    core_->options = std::move(options);
}

LabDialFacility::~LabDialFacility() {
    shutdown();
}

std::filesystem::path LabDialFacility::defaultPhoneBook() const {
    return core_->options.dataDirectory / "rasphone.pbk";
}

int LabDialFacility::setEntryProperties(const std::filesystem::path& phoneBook,
                                        const std::string& entryName, const VpnEntry& entry) {
    std::lock_guard lock(core_->fileMutex);
    auto book = lab::loadPhoneBook(phoneBook);
    if (!book) {
        return error::kCannotOpenPhonebook;
    }
    book->put(entryName, lab::entryFields(entry));
    core_->phoneBooksWritten.insert(phoneBook);
    return lab::savePhoneBook(phoneBook, *book) ? 0 : error::kCannotOpenPhonebook;
}

int LabDialFacility::setCredentials(const std::filesystem::path& phoneBook,
                                    const std::string& entryName, const Credentials& credentials) {
    std::lock_guard lock(core_->fileMutex);
    auto book = lab::loadPhoneBook(phoneBook);
    if (!book) {
        return error::kCannotOpenPhonebook;
    }
    if (book->find(entryName) == nullptr) {
        return error::kCannotFindEntry;
    }
    const auto path = lab::credentialsPath(phoneBook);
    auto creds = lab::loadPhoneBook(path);
    if (!creds) {
        return error::kCannotOpenPhonebook;
    }
    creds->put(entryName, lab::credentialFields(credentials));
    return lab::savePhoneBook(path, *creds) ? 0 : error::kCannotOpenPhonebook;
}

int LabDialFacility::dial(const std::filesystem::path& phoneBook, const DialParams& params,
                          DialProgress progress, ConnectionHandle* handle) {
    core_->reap();
    std::string address;
    int protocol = 0;
    {
        std::lock_guard lock(core_->fileMutex);
        auto book = lab::loadPhoneBook(phoneBook);
        if (!book) {
            return error::kCannotOpenPhonebook;
        }
        const auto* entry = book->find(params.szEntryName);
        if (entry == nullptr) {
            return error::kCannotFindEntry;
        }
        address = lab::field(entry->fields, "szLocalPhoneNumber").value_or("");
        protocol = std::atoi(lab::field(entry->fields, "dwVpnStrategy").value_or("0").c_str());
    }
    auto conn = std::make_shared<Connection>();
    conn->entryName = params.szEntryName;
    conn->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (conn->wakeFd < 0) {
        return error::kDeviceError;
    }
    std::lock_guard lock(core_->connMutex);
    if (core_->stopped) {
        return error::kDeviceError;
    }
    conn->handle = core_->nextHandle++;
    *handle = conn->handle;
    core_->listed[conn->handle] = conn;
    core_->connections.push_back(conn);
    auto session =
        std::make_shared<DialSession>(core_, conn, address, protocol, params, std::move(progress));
    conn->thread = std::thread([session] { session->run(); });
    return 0;
}

std::optional<std::string> LabDialFacility::errorString(int error, std::size_t bufferBytes) {
    auto text = labErrorText(error);
    if (!text || text::localLength(*text) + 1 > bufferBytes) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::vector<ActiveConnection>> LabDialFacility::connections(std::size_t capacity) {
    core_->reap();  // every probe asks: ended dials give back their thread and descriptors here
    std::lock_guard lock(core_->connMutex);
    if (core_->listed.size() > capacity) {
        return std::nullopt;
    }
    std::vector<ActiveConnection> out;
    for (const auto& [handle, weak] : core_->listed) {
        if (auto c = weak.lock()) {
            out.push_back({c->entryName, handle});
        }
    }
    return out;
}

int LabDialFacility::hangUp(ConnectionHandle handle) {
    std::lock_guard lock(core_->connMutex);
    const auto it = core_->listed.find(handle);
    if (it == core_->listed.end()) {
        return error::kInvalidHandle;
    }
    if (auto c = it->second.lock()) {
        Core::cancel(*c);
    }
    core_->listed.erase(it);
    return 0;
}

int LabDialFacility::hangUpEntry(const std::string& entryName) {
    std::lock_guard lock(core_->connMutex);
    for (auto it = core_->listed.begin(); it != core_->listed.end();) {
        auto c = it->second.lock();
        if (c && c->entryName == entryName) {
            Core::cancel(*c);
            it = core_->listed.erase(it);
        } else {
            ++it;
        }
    }
    return 0;
}

// The system tool removes the name from the user's default list. Entries of the phone-books this
// process wrote go too: every dial writes a fresh entry, and hours of changes would otherwise
// pile thousands of dead entries (with their passwords) into the file.
int LabDialFacility::removeEntry(const std::string& entryName) {
    std::lock_guard lock(core_->fileMutex);
    std::vector<std::filesystem::path> books(core_->phoneBooksWritten.begin(),
                                             core_->phoneBooksWritten.end());
    books.push_back(defaultPhoneBook());
    int result = 0;
    for (const auto& path : books) {
        for (const auto& file : {path, lab::credentialsPath(path)}) {
            auto book = lab::loadPhoneBook(file);
            if (book && book->erase(entryName) && !lab::savePhoneBook(file, *book)) {
                result = error::kCannotOpenPhonebook;
            }
        }
    }
    return result;
}

std::vector<std::string> LabDialFacility::defaultEntries() {
    std::lock_guard lock(core_->fileMutex);
    std::vector<std::string> names;
    if (auto book = lab::loadPhoneBook(defaultPhoneBook())) {
        for (const auto& s : book->sections) {
            names.push_back(s.name);
        }
    }
    return names;
}

void LabDialFacility::shutdown() {
    std::list<std::shared_ptr<Core::Connection>> all;
    {
        std::lock_guard lock(core_->connMutex);
        core_->stopped = true;
        for (auto& c : core_->connections) {
            Core::cancel(*c);
        }
        core_->listed.clear();
        all.swap(core_->connections);
    }
    for (auto& c : all) {
        if (c->thread.joinable()) {
            c->thread.join();
        }
    }
}

std::size_t LabDialFacility::liveThreads() const {
    std::lock_guard lock(core_->connMutex);
    std::size_t n = 0;
    for (const auto& c : core_->connections) {
        n += c->finished ? 0 : 1;
    }
    return n;
}

}  // namespace veltrin::engine
