#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace veltrin::service {

enum class FetchStatus {
    ok,                 // a response came back (any HTTP status: callers read only the body)
    clientUnavailable,  // the HTTP client could not be made
    timedOut,           // a phase made no progress for the timeout, or the overall limit passed
    tooLarge,           // the body would exceed kMaxFetchBodyBytes
    transportError,     // refused, reset, bad address, too many redirects ...
};

struct FetchRequest final {
    std::string url;
    int timeoutSeconds = 0;  // 0 or negative: the default of 15 s
    bool operator==(const FetchRequest&) const = default;
};

struct FetchResult final {
    FetchStatus status = FetchStatus::transportError;
    std::string body;  // raw bytes; empty unless status is ok
    long httpStatus = 0;

    bool ok() const { return status == FetchStatus::ok; }
};

// No answer the client expects comes near this; anything bigger is a fault, not data.
inline constexpr std::size_t kMaxFetchBodyBytes = 8u * 1024 * 1024;

// The one timeout used for resolve, connect, send and receive.
std::int64_t fetchTimeoutMilliseconds(int timeoutSeconds);

// Limit on the whole request, so a server trickling a byte at a time cannot hold a worker for
// ever: four times the phase timeout, but never under 10 s.
std::int64_t fetchOverallLimitMilliseconds(std::int64_t timeoutMilliseconds);

// The request headers after Host, in the order they are sent.
std::vector<std::string> fetchRequestHeaders(std::string_view url);

// One HTTP(S) GET. Redirects are followed and certificate errors ignored. Thread-safe; each call
// has its own client.
FetchResult fetch(const FetchRequest& request);

// The body bytes, or empty on any failure.
std::string fetchText(const std::string& url, int timeoutSeconds);

}  // namespace veltrin::service
