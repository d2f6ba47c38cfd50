#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "LoopbackServers.h"
#include "service/Fetch.h"

namespace veltrin::service {
namespace {

using testing::HttpServer;
using testing::RawServer;

std::vector<std::string> headerLines(const std::string& head) {
    std::vector<std::string> lines;
    std::istringstream in(head);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(FetchTimeout, OneValueInMilliseconds) {
    const struct {
        int seconds;
        std::int64_t milliseconds;
    } cases[] = {{2, 2000}, {3, 3000}, {1, 1000}, {0, 15000}, {-1, 15000}, {-30, 15000}};
    for (const auto& c : cases) {
        EXPECT_EQ(fetchTimeoutMilliseconds(c.seconds), c.milliseconds) << c.seconds;
    }
    // No int overflow for absurd values.
    EXPECT_EQ(fetchTimeoutMilliseconds(2'000'000'000), 2'000'000'000'000);
}

TEST(FetchTimeout, OverallLimitIsFourTimesButAtLeastTenSeconds) {
    EXPECT_EQ(fetchOverallLimitMilliseconds(2000), 10000);
    EXPECT_EQ(fetchOverallLimitMilliseconds(3000), 12000);
    EXPECT_EQ(fetchOverallLimitMilliseconds(15000), 60000);
}

TEST(FetchRequestHeaders, ExactlyTheFiveInOrderAfterHost) {
    std::mutex m;
    std::string head;
    RawServer server([&](int s, RawServer&) {
        const std::string h = RawServer::readRequestHead(s);
        {
            std::lock_guard lock(m);
            head = h;
        }
        RawServer::writeAll(s,
                            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
    });
    const std::string url = server.url("/api/check?apiid=198&user=u1&sign=ab%20cd");
    const FetchResult r = fetch({url, 2});
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.body, "ok");

    std::lock_guard lock(m);
    const auto lines = headerLines(head);
    const std::vector<std::string> expected = {
        "GET /api/check?apiid=198&user=u1&sign=ab%20cd HTTP/1.1",
        "Host: " + url.substr(std::string("http://").size(),
                              url.find('/', 7) - std::string("http://").size()),
        "Accept: */*",
        "Referer: " + url,
        "Accept-Language: zh-cn",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
        "Content-Type: application/x-www-form-urlencoded",
    };
    EXPECT_EQ(lines, expected);
}

TEST(Fetch, FollowsRedirects) {
    HttpServer http;
    http.server().Get("/old", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/middle");
    });
    http.server().Get("/middle", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/new", 301);
    });
    http.server().Get("/new", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("arrived", "text/plain");
    });
    http.start();
    EXPECT_EQ(fetchText(http.url("/old"), 2), "arrived");
}

TEST(Fetch, ReturnsTheBodyWhateverTheStatus) {
    HttpServer http;
    http.server().Get("/gone", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    http.start();
    const FetchResult r = fetch({http.url("/gone"), 2});
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.httpStatus, 404);
    EXPECT_EQ(r.body, "not here");
}

TEST(Fetch, ManyThreadsAtOnceEachGetTheirOwnAnswer) {
    HttpServer http;
    http.server().Get(R"(/echo/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("answer " + req.matches[1].str(), "text/plain");
    });
    http.start();
    std::vector<std::string> bodies(16);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        threads.emplace_back(
            [&, i] { bodies[i] = fetchText(http.url("/echo/" + std::to_string(i)), 5); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        EXPECT_EQ(bodies[i], "answer " + std::to_string(i));
    }
}

TEST(Fetch, KeepsZeroBytesOfTheBody) {
    HttpServer http;
    http.server().Get("/bin", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string("a\0b", 3), "application/octet-stream");
    });
    http.start();
    EXPECT_EQ(fetchText(http.url("/bin"), 2), std::string("a\0b", 3));
}

struct BodySize {
    const char* name;
    std::size_t size;
    bool chunked;
    FetchStatus status;
};

void PrintTo(const BodySize& c, std::ostream* os) {
    *os << c.name;
}

class FetchBodyLimit : public ::testing::TestWithParam<BodySize> {};

TEST_P(FetchBodyLimit, BodiesOverTheCapGiveNothing) {
    const BodySize c = GetParam();
    HttpServer http;
    http.server().Get("/body", [&](const httplib::Request&, httplib::Response& res) {
        if (!c.chunked) {
            res.set_content(std::string(c.size, 'x'), "text/plain");
            return;
        }
        auto sent = std::make_shared<std::size_t>(0);
        res.set_chunked_content_provider(
            "text/plain", [size = c.size, sent](size_t, httplib::DataSink& sink) {
                const std::size_t n = std::min<std::size_t>(64 * 1024, size - *sent);
                if (n == 0) {
                    sink.done();
                    return true;
                }
                const std::string piece(n, 'x');
                *sent += n;
                return sink.write(piece.data(), piece.size());
            });
    });
    http.start();
    const FetchResult r = fetch({http.url("/body"), 5});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.body.size(), c.status == FetchStatus::ok ? c.size : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, FetchBodyLimit,
    ::testing::Values(
        BodySize{"at_the_cap", kMaxFetchBodyBytes, false, FetchStatus::ok},
        BodySize{"declared_over_the_cap", kMaxFetchBodyBytes + 1, false, FetchStatus::tooLarge},
        BodySize{"chunked_at_the_cap", kMaxFetchBodyBytes, true, FetchStatus::ok},
        BodySize{"chunked_over_the_cap", kMaxFetchBodyBytes + 1, true, FetchStatus::tooLarge}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Fetch, NothingListeningIsATransportError) {
    const FetchResult r =
        fetch({"http://127.0.0.1:" + std::to_string(testing::unusedPort()) + "/", 2});
    EXPECT_EQ(r.status, FetchStatus::transportError);
    EXPECT_TRUE(r.body.empty());
}

TEST(Fetch, RefusesSchemesOtherThanHttp) {
    const auto file = std::filesystem::temp_directory_path() / "veltrin-fetch-scheme.txt";
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("local secret", f);
        std::fclose(f);
    }
    const FetchResult r = fetch({"file://" + file.string(), 2});
    std::filesystem::remove(file);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.body.empty());
}

TEST(Fetch, RedirectToAFileIsRefused) {
    HttpServer http;
    http.server().Get("/evil", [](const httplib::Request&, httplib::Response& res) {
        res.status = 302;
        res.set_header("Location", "file:///etc/hostname");
    });
    http.start();
    const FetchResult r = fetch({http.url("/evil"), 2});
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.body.empty());
}

// "Did not hang" bound: far above every limit in play, far below the test's own timeout.
constexpr auto kGaveUpWithin = std::chrono::seconds(30);

TEST(FetchGivesUp, OnAServerThatAcceptsAndNeverAnswers) {
    RawServer server([](int s, RawServer& self) {
        RawServer::readRequestHead(s);
        self.stopping(std::chrono::hours(1));
    });
    const auto start = std::chrono::steady_clock::now();
    const FetchResult r = fetch({server.url("/silent"), 1});
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGaveUpWithin);
    EXPECT_EQ(r.status, FetchStatus::timedOut);
    EXPECT_TRUE(r.body.empty());
}

TEST(FetchGivesUp, OnAServerThatTricklesForEver) {
    RawServer server([](int s, RawServer& self) {
        RawServer::readRequestHead(s);
        RawServer::writeAll(s, "HTTP/1.1 200 OK\r\nContent-Length: 1000000\r\n\r\n");
        while (!self.stopping(std::chrono::milliseconds(200))) {
            RawServer::writeAll(s, "x");
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const FetchResult r = fetch({server.url("/trickle"), 1});
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGaveUpWithin);
    EXPECT_EQ(r.status, FetchStatus::timedOut);
    EXPECT_TRUE(r.body.empty());
}

TEST(FetchGivesUp, OnAHeaderThatNeverEnds) {
    RawServer server([](int s, RawServer& self) {
        RawServer::readRequestHead(s);
        RawServer::writeAll(s, "HTTP/1.1 200 OK\r\nX-Slow: ");
        while (!self.stopping(std::chrono::milliseconds(200))) {
            RawServer::writeAll(s, "y");
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const FetchResult r = fetch({server.url("/slow-header"), 1});
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGaveUpWithin);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.body.empty());
}

// A self-signed certificate that expired yesterday, made fresh for the test.
class ExpiredSelfSignedCertificate final {
public:
    ExpiredSelfSignedCertificate() {
        const auto dir = std::filesystem::temp_directory_path();
        const auto stem = "veltrin-fetch-" + std::to_string(::getpid());
        certificate_ = (dir / (stem + "-cert.pem")).string();
        key_ = (dir / (stem + "-key.pem")).string();

        EVP_PKEY* key = EVP_EC_gen("P-256");
        X509* x = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
        X509_gmtime_adj(X509_getm_notBefore(x), -2 * 86400);
        X509_gmtime_adj(X509_getm_notAfter(x), -86400);
        X509_set_pubkey(x, key);
        X509_NAME* name = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("wrong.example"), -1, -1,
                                   0);
        X509_set_issuer_name(x, name);
        X509_sign(x, key, EVP_sha256());

        std::FILE* f = std::fopen(certificate_.c_str(), "w");
        PEM_write_X509(f, x);
        std::fclose(f);
        f = std::fopen(key_.c_str(), "w");
        PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(f);
        X509_free(x);
        EVP_PKEY_free(key);
    }
    ~ExpiredSelfSignedCertificate() {
        std::filesystem::remove(certificate_);
        std::filesystem::remove(key_);
    }
    const std::string& certificate() const { return certificate_; }
    const std::string& key() const { return key_; }

private:
    std::string certificate_;
    std::string key_;
};

TEST(Fetch, ReadsAnswersBehindAnExpiredSelfSignedCertificate) {
    ExpiredSelfSignedCertificate cert;
    HttpServer https(cert.certificate(), cert.key());
    ASSERT_TRUE(https.valid());
    https.server().Get("/params", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("secure " + req.get_header_value("Referer"), "text/plain");
    });
    https.start();
    const std::string url = https.url("/params");
    EXPECT_EQ(fetchText(url, 2), "secure " + url);
}

}  // namespace
}  // namespace veltrin::service
