#include "service/IpLookup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "LoopbackServers.h"

namespace veltrin::service {
namespace {

using testing::HttpServer;

// Pages as the built-in markers expect them.
const std::string kFirstPage =
    "<html><dl><dt>您的IP</dt><dd class=\"fz24\">203.0.113.7</dd><dd>上海市 电信</dd></dl></html>";
const std::string kSecondPage =
    "<p>您的IP地址：<span class=\"c-red\">198.51.100.4</span> 来自网络</p>";
const std::string kEcho = "[192.0.2.9]";

// The three sources on loopback, each answering what the test sets and counting its requests.
class EchoPages : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* path : {"/first", "/second", "/echo"}) {
            http.server().Get(path, [this, path](const httplib::Request&, httplib::Response& r) {
                std::lock_guard lock(mutex);
                ++hits[path];
                r.set_content(bodies[path], "text/html; charset=utf-8");
            });
        }
        http.start();
    }

    void answer(std::string first, std::string second, std::string echo) {
        std::lock_guard lock(mutex);
        bodies["/first"] = std::move(first);
        bodies["/second"] = std::move(second);
        bodies["/echo"] = std::move(echo);
        hits.clear();
    }
    std::vector<std::string> asked() {
        std::lock_guard lock(mutex);
        std::vector<std::string> paths;
        for (const auto& [path, n] : hits) {
            for (int i = 0; i < n; ++i) {
                paths.push_back(path);
            }
        }
        return paths;
    }
    IpEndpoints builtIn() const {
        return {http.url("/first"), http.url("/second"), http.url("/echo")};
    }
    IpSources sources() const { return ipSources(RemoteParameters{}, builtIn()); }

    HttpServer http;
    std::mutex mutex;
    std::map<std::string, std::string> bodies;
    std::map<std::string, int> hits;
};

TEST_F(EchoPages, LookupOrdersAndPlaceless) {
    const std::vector<IpSource> verification(kVerificationOrder.begin(), kVerificationOrder.end());
    const std::vector<IpSource> secondLook(kSecondLookOrder.begin(), kSecondLookOrder.end());
    const std::vector<IpSource> button(kQueryButtonOrder.begin(), kQueryButtonOrder.end());
    const struct {
        const char* name;
        std::vector<IpSource> order;
        std::string first, second, echo;
        IpLookupResult start;
        IpLookupResult result;
        std::vector<std::string> asked;  // sorted
    } cases[] = {
        {"first page answers",
         verification,
         kFirstPage,
         kSecondPage,
         kEcho,
         {},
         {"203.0.113.7", "上海市 电信", false},
         {"/first"}},
        {"first silent, second answers",
         verification,
         "",
         kSecondPage,
         kEcho,
         {},
         {"198.51.100.4", "", true},
         {"/first", "/second"}},
        {"second without marker, first answers",
         secondLook,
         kFirstPage,
         "<html>busy</html>",
         kEcho,
         {},
         {"203.0.113.7", "上海市 电信", true},
         {"/first", "/second"}},
        {"only the echo answers",
         verification,
         "",
         "",
         "  [1.2.3.4]  ",
         {},
         {"1.2.3.4", "", true},
         {"/echo", "/first", "/second"}},
        {"button order skips the second page",
         button,
         "",
         kSecondPage,
         kEcho,
         {},
         {"192.0.2.9", "", true},
         {"/echo", "/first"}},
        {"blank address goes on",
         verification,
         "<dd class=\"fz24\">  </dd><dd>上海市</dd>",
         kSecondPage,
         kEcho,
         {},
         {"198.51.100.4", "上海市", true},
         {"/first", "/second"}},
        {"nobody answers",
         verification,
         "",
         "",
         "",
         {},
         {"", "", false},
         {"/echo", "/first", "/second"}},
        {"echo without brackets",
         verification,
         "",
         "",
         "1.2.3.4",
         {},
         {"", "", true},
         {"/echo", "/first", "/second"}},
        {"earlier address kept",
         verification,
         kFirstPage,
         kSecondPage,
         kEcho,
         {"10.1.1.1", "北京市", false},
         {"10.1.1.1", "北京市", false},
         {}},
    };
    for (const auto& c : cases) {
        answer(c.first, c.second, c.echo);
        IpLookupResult result = c.start;
        lookupPublicIp(c.order, result, sources());
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(asked(), c.asked) << c.name;
    }
}

TEST_F(EchoPages, LookupReportsWhatEachSourceGave) {
    answer("", "<html>busy</html>", kEcho);
    IpLookupResult result;
    const auto answers = lookupPublicIp(kVerificationOrder, result, sources());
    EXPECT_EQ(answers, (std::vector<IpSourceAnswer>{{IpSource::firstPage, false, false},
                                                    {IpSource::secondPage, true, false},
                                                    {IpSource::serviceEcho, true, true}}));
}

TEST_F(EchoPages, RemoteMarkersWithQuotePlaceholder) {
    answer("{\"ip\":\"203.0.113.8\",\"city\":\"杭州市\"}", "", "");
    RemoteParameters remote;
    remote.ipQuery1Url = http.url("/first");
    remote.ipQuery1IpBefore = "#引号ip#引号:#引号";
    remote.ipQuery1IpAfter = "#引号";
    remote.ipQuery1PlaceBefore = "city#引号:#引号";
    remote.ipQuery1PlaceAfter = "#引号";
    IpLookupResult result;
    lookupPublicIp(kVerificationOrder, result, ipSources(remote, builtIn()));
    EXPECT_EQ(result, (IpLookupResult{"203.0.113.8", "杭州市", false}));
}

TEST(IpSources, RemotePageBringsItsOwnMarkers) {
    const IpEndpoints builtIn{"http://127.0.0.1:1/a", "http://127.0.0.1:1/b",
                              "http://127.0.0.1:1/e"};
    const IpSources none = ipSources(RemoteParameters{}, builtIn);
    EXPECT_EQ(none.firstPage,
              (IpPage{"http://127.0.0.1:1/a", "<dd class=\"fz24\">", "<", "<dd>", "<"}));
    EXPECT_EQ(none.secondPage,
              (IpPage{"http://127.0.0.1:1/b", "您的IP地址：<span class=\"c-red\">", "<", "", ""}));
    EXPECT_EQ(none.serviceEchoUrl, "http://127.0.0.1:1/e");

    RemoteParameters remote;
    remote.ipQuery2Url = "http://127.0.0.1:2/ip";
    remote.ipQuery2IpBefore = "<b>";
    remote.ipQuery2IpAfter = "</b>";
    const IpSources some = ipSources(remote, builtIn);
    EXPECT_EQ(some.firstPage, none.firstPage);
    EXPECT_EQ(some.secondPage, (IpPage{"http://127.0.0.1:2/ip", "<b>", "</b>", "", ""}));
}

TEST(IpSources, BuiltInPagesServedBesideTheEcho) {
    const IpEndpoints e = builtInIpEndpoints();
    ASSERT_FALSE(e.serviceEcho.empty());
    const std::string origin = e.serviceEcho.substr(0, e.serviceEcho.find('/', 8));
    EXPECT_TRUE(e.firstPage.starts_with(origin + "/")) << e.firstPage;
    EXPECT_TRUE(e.secondPage.starts_with(origin + "/")) << e.secondPage;
    EXPECT_NE(e.firstPage, e.secondPage);
}

TEST_F(EchoPages, QueryCurrentIpTexts) {
    const struct {
        const char* name;
        bool skipSecond;
        std::string first, second, echo;
        std::string statusLine;
        std::string resultsAppend;
        std::vector<std::string> asked;
    } cases[] = {
        {"button, first page",
         true,
         kFirstPage,
         kSecondPage,
         kEcho,
         "当前IP：203.0.113.7，地区：上海市 电信",
         "\r\n当前IP：203.0.113.7，地区：上海市 电信\r\n",
         {"/first"}},
        {"button, echo",
         true,
         "",
         kSecondPage,
         "[1.2.3.4]",
         "当前IP：1.2.3.4",
         "\r\n当前IP：1.2.3.4\r\n",
         {"/echo", "/first"}},
        {"second look, second page",
         false,
         kFirstPage,
         kSecondPage,
         kEcho,
         "当前IP：198.51.100.4",
         "\r\n当前IP：198.51.100.4\r\n",
         {"/second"}},
        {"place markers missing",
         true,
         "<dd class=\"fz24\">203.0.113.7</dd>",
         "",
         "",
         "当前IP：203.0.113.7，地区：",
         "\r\n当前IP：203.0.113.7，地区：\r\n",
         {"/first"}},
        {"nobody answers",
         false,
         "",
         "",
         "",
         "软件暂时查询不到，请百度一下ip查询！",
         "\r\n软件暂时查询不到，请百度一下ip查询！",
         {"/echo", "/first", "/second"}},
        {"blank echo is no address",
         true,
         "",
         "",
         "[  ]",
         "软件暂时查询不到，请百度一下ip查询！",
         "\r\n软件暂时查询不到，请百度一下ip查询！",
         {"/echo", "/first"}},
    };
    for (const auto& c : cases) {
        answer(c.first, c.second, c.echo);
        const IpQueryReport report = queryCurrentIp(c.skipSecond, sources());
        EXPECT_EQ(report.statusLine, c.statusLine) << c.name;
        EXPECT_EQ(report.resultsAppend, c.resultsAppend) << c.name;
        EXPECT_EQ(asked(), c.asked) << c.name;
        EXPECT_NE(std::find(kTintColours.begin(), kTintColours.end(), report.statusColour),
                  kTintColours.end())
            << c.name;
    }
}

TEST(IpQuery, UnreachableSourcesFailQuietly) {
    const std::string down = "http://127.0.0.1:" + std::to_string(testing::unusedPort());
    const IpQueryReport report = queryCurrentIp(
        false, ipSources(RemoteParameters{}, {down + "/1", down + "/2", down + "/e"}));
    EXPECT_EQ(report.result, IpLookupResult{});
    EXPECT_EQ(report.statusLine, kIpQueryFailedText);
}

// The query button's flag holds for one query only.
TEST_F(EchoPages, SkipSecondPageFlagIsTakenOnce) {
    const auto saved = loadRemoteParameters();
    RemoteParameters remote = *saved;
    remote.ipQuery1Url = http.url("/first");
    remote.ipQuery1IpBefore = "<dd class=\"fz24\">";
    remote.ipQuery1IpAfter = "<";
    remote.ipQuery2Url = http.url("/second");
    remote.ipQuery2IpBefore = "c-red\">";
    remote.ipQuery2IpAfter = "<";
    publishRemoteParameters(remote);

    answer(kFirstPage, kSecondPage, "");
    skipSecondPage = 1;
    EXPECT_EQ(queryCurrentIp().statusLine, "当前IP：203.0.113.7，地区：");
    EXPECT_EQ(skipSecondPage, 0);
    EXPECT_EQ(asked(), (std::vector<std::string>{"/first"}));

    answer(kFirstPage, kSecondPage, "");
    EXPECT_EQ(queryCurrentIp().statusLine, "当前IP：198.51.100.4");
    EXPECT_EQ(asked(), (std::vector<std::string>{"/second"}));

    publishRemoteParameters(*saved);
}

TEST(TintStatusLine, OneOfTheThreeColours) {
    EXPECT_EQ(kTintColours,
              (std::array<TintColour, 3>{TintColour{255, 0, 0}, TintColour{155, 48, 255},
                                         TintColour{34, 139, 34}}));
    std::set<std::tuple<int, int, int>> seen;
    for (int i = 0; i < 300; ++i) {
        const TintColour c = tintStatusLine();
        seen.insert({c.red, c.green, c.blue});
    }
    EXPECT_EQ(seen,
              (std::set<std::tuple<int, int, int>>{{255, 0, 0}, {155, 48, 255}, {34, 139, 34}}));
}

}  // namespace
}  // namespace veltrin::service
