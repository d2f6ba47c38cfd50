// Figures of the fetch, printed as "<name> <value> <unit>".
#include <arpa/inet.h>
#include <benchmark/benchmark.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "FigureReporter.h"

#include <atomic>
#include <iostream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "service/Fetch.h"

namespace {

// A loopback server that accepts every connection and never says a word.
class SilentListener final {
public:
    SilentListener() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 16) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] {
            for (;;) {
                const int peer = ::accept(listener_, nullptr, nullptr);
                if (peer < 0) {
                    return;  // the listener was shut down
                }
                std::lock_guard lock(mutex_);
                held_.push_back(peer);
                ++accepted_;
            }
        });
    }
    ~SilentListener() {
        ::shutdown(listener_, SHUT_RDWR);
        acceptor_.join();
        ::close(listener_);
        for (int peer : held_) {
            ::close(peer);
        }
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/list.txt"; }
    int accepted() const { return accepted_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::thread acceptor_;
    std::mutex mutex_;
    std::vector<int> held_;
    std::atomic<int> accepted_ = 0;
};

// A 2 s fetch of a server that took the connection and then stays silent.
void fetchSilentGiveUp(benchmark::State& state) {
    SilentListener server;
    for (auto _ : state) {
        const int before = server.accepted();
        const std::string body = veltrin::service::fetchText(server.url(), 2);
        if (!body.empty() || server.accepted() == before) {
            state.SkipWithError("the fetch did not wait on a held connection");
            break;
        }
    }
}
BENCHMARK(fetchSilentGiveUp)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return veltrin::bench::runFigures(argc, argv,
                                      {{"fetchSilentGiveUp", {"fetch_silent_giveup_ms"}}});
}
