#include "service/Fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>

namespace veltrin::service {
namespace {

using Clock = std::chrono::steady_clock;

void initialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer final {
    std::string body;
    Clock::time_point lastProgress;
    bool tooLarge = false;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t->body.size() + n > kMaxFetchBodyBytes) {
        t->tooLarge = true;
        return 0;  // makes curl abort the transfer
    }
    t->body.append(data, n);
    t->lastProgress = Clock::now();
    return n;
}

size_t onHeader(char*, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->lastProgress = Clock::now();
    return size * count;
}

// Called once a connection stands and the request is about to go out: the connect phase has
// its own limit, so the no-progress clock starts afresh here.
int onConnected(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->lastProgress = Clock::now();
    return CURL_PREREQFUNC_OK;
}

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

}  // namespace

std::int64_t fetchTimeoutMilliseconds(int timeoutSeconds) {
    return timeoutSeconds <= 0 ? 15000 : static_cast<std::int64_t>(timeoutSeconds) * 1000;
}

std::int64_t fetchOverallLimitMilliseconds(std::int64_t timeoutMilliseconds) {
    return std::max<std::int64_t>(4 * timeoutMilliseconds, 10000);
}

std::vector<std::string> fetchRequestHeaders(std::string_view url) {
    return {
        "Accept: */*",
        "Referer: " + std::string(url),
        "Accept-Language: zh-cn",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
        "Content-Type: application/x-www-form-urlencoded",
    };
}

FetchResult fetch(const FetchRequest& request) {
    initialiseCurlOnce();
    FetchResult result;
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        result.status = FetchStatus::clientUnavailable;
        return result;
    }

    curl_slist* rawHeaders = nullptr;
    for (const auto& h : fetchRequestHeaders(request.url)) {
        rawHeaders = curl_slist_append(rawHeaders, h.c_str());
    }
    rawHeaders = curl_slist_append(rawHeaders, "Expect:");
    std::unique_ptr<curl_slist, ListDeleter> headers(rawHeaders);
    if (!headers) {
        result.status = FetchStatus::clientUnavailable;
        return result;
    }

    const std::int64_t timeoutMs = fetchTimeoutMilliseconds(request.timeoutSeconds);
    const std::int64_t overallMs = fetchOverallLimitMilliseconds(timeoutMs);
    Transfer transfer;

    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
    // Addresses may come from the service's remote text: never let one reach file:// and the like.
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // The service's certificates are not to be checked: expired or self-signed ones are read.
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
    // Requests go straight to the service, whatever proxy the environment names.
    curl_easy_setopt(e, CURLOPT_PROXY, "");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxFetchBodyBytes));
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, onConnected);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &transfer);

    if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) {
        result.status = FetchStatus::clientUnavailable;
        return result;
    }

    const auto start = Clock::now();
    transfer.lastProgress = start;
    bool timedOut = false;
    bool multiFailed = false;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            multiFailed = true;
            break;
        }
        if (running == 0) {
            break;
        }
        if (curl_multi_poll(multi.get(), nullptr, 0, 50, nullptr) != CURLM_OK) {
            multiFailed = true;
            break;
        }
        const auto now = Clock::now();
        const auto ms = [](Clock::duration d) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
        };
        if (ms(now - transfer.lastProgress) >= timeoutMs || ms(now - start) >= overallMs) {
            timedOut = true;
            break;
        }
    }

    CURLcode code = CURLE_OK;
    bool done = false;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == e) {
            code = msg->data.result;
            done = true;
        }
    }
    curl_multi_remove_handle(multi.get(), e);

    if (transfer.tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        result.status = FetchStatus::tooLarge;
    } else if (timedOut || code == CURLE_OPERATION_TIMEDOUT) {
        result.status = FetchStatus::timedOut;
    } else if (multiFailed || !done || code != CURLE_OK) {
        result.status = FetchStatus::transportError;
    } else {
        result.status = FetchStatus::ok;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &result.httpStatus);
        result.body = std::move(transfer.body);
    }
    return result;
}

std::string fetchText(const std::string& url, int timeoutSeconds) {
    return fetch({url, timeoutSeconds}).body;
}

}  // namespace veltrin::service
