// Public IP lookup against the lab's echo pages, with and without a tunnel up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ServiceLabSupport.h"
#include "service/IpLookup.h"

namespace veltrin {
namespace {

using namespace service_lab;
using service::IpSource;

// The built-in endpoints as they would be with this lab as the service base.
service::IpEndpoints labIpEndpoints(const LabProcess& lab) {
    return {labUrl(lab, "/ip/first.html"), labUrl(lab, "/ip/second.html"), labUrl(lab, "/ip/echo")};
}

// ---- Public IP lookup -----------------------------------------------------------------------

TEST(ServiceAgainstLab, IpLookupOrdersWithAndWithoutATunnel) {
    LabProcess lab(baseConfig({{"home_ip", "110.80.1.7"}, {"home_place", "福建省厦门市"}}));
    struct Case {
        const char* label;
        std::vector<IpSource> order;
        bool placeless;
        IpSource answeredBy;
    };
    const std::vector<Case> cases = {
        {"verification",
         {std::begin(service::kVerificationOrder), std::end(service::kVerificationOrder)},
         false,
         IpSource::firstPage},
        {"second look",
         {std::begin(service::kSecondLookOrder), std::end(service::kSecondLookOrder)},
         true,
         IpSource::secondPage},
        {"query button",
         {std::begin(service::kQueryButtonOrder), std::end(service::kQueryButtonOrder)},
         false,
         IpSource::firstPage},
        {"service echo alone", {IpSource::serviceEcho}, true, IpSource::serviceEcho},
    };
    const auto run = [&](const std::string& address, const std::string& place) {
        for (const auto& [label, sources] :
             {std::pair{"remote", service::ipSources(labParameters(lab), labIpEndpoints(lab))},
              std::pair{"built-in", service::ipSources({}, labIpEndpoints(lab))}}) {
            for (const Case& c : cases) {
                SCOPED_TRACE(std::string(label) + " " + c.label + " " + address);
                service::IpLookupResult result;
                const auto asked = service::lookupPublicIp(c.order, result, sources);
                ASSERT_EQ(asked.size(), 1u);
                EXPECT_EQ(asked[0].source, c.answeredBy);
                EXPECT_EQ(result.address, address);
                EXPECT_EQ(result.placeless, c.placeless);
                EXPECT_EQ(result.place, c.placeless ? "" : place);
            }
        }
    };
    run("110.80.1.7", "福建省厦门市");
    {
        Tunnel tunnel(lab, "上海电信1");
        ASSERT_TRUE(tunnel.up());
        run(lab.publicIp(), "上海电信1");
        EXPECT_EQ(lab.publicIp(), "58.34.10.1");
    }
    EXPECT_TRUE(LabProcess::waitFor([&] { return lab.sessions().empty(); }));
    run("110.80.1.7", "福建省厦门市");
}

TEST(ServiceAgainstLab, SecondPageWithoutTheMarkerLeavesTheAddressPlaceless) {
    LabProcess lab(baseConfig());
    service::IpSources sources = service::ipSources({}, labIpEndpoints(lab));
    sources.secondPage.url = labUrl(lab, "/notice.html");
    service::IpLookupResult result;
    service::lookupPublicIp(service::kSecondLookOrder, result, sources);
    EXPECT_EQ(result.address, "110.80.1.1");
    EXPECT_TRUE(result.placeless);
    EXPECT_EQ(service::currentIpLine(result), "当前IP：110.80.1.1");

    lab.setScenario("down");
    const service::IpQueryReport report = service::queryCurrentIp(true, sources);
    EXPECT_EQ(report.result.address, "");
    EXPECT_EQ(report.statusLine, service::kIpQueryFailedText);
}

TEST(ServiceAgainstLab, MissingIpKeysUseTheBuiltInPagesAndMarkers) {
    json keys = json::object();
    for (const char* key : {"ip查询网址1", "ip查询网址1ip前", "ip查询网址2", "ip查询网址2前"}) {
        keys[key] = nullptr;
    }
    LabProcess lab(baseConfig({{"remote_params", {{"keys", keys}}}}));
    const service::RemoteParameters params = labParameters(lab);
    EXPECT_EQ(params.ipQuery1Url, "");
    EXPECT_EQ(params.ipQuery2Url, "");
    const service::IpSources sources = service::ipSources(params, labIpEndpoints(lab));
    EXPECT_EQ(sources.firstPage.addressBefore, "<dd class=\"fz24\">");
    EXPECT_EQ(sources.secondPage.addressBefore, "您的IP地址：<span class=\"c-red\">");
    for (const auto& order : {std::vector<IpSource>{IpSource::firstPage},
                              std::vector<IpSource>{IpSource::secondPage}}) {
        service::IpLookupResult result;
        service::lookupPublicIp(order, result, sources);
        EXPECT_EQ(result.address, "110.80.1.1");
    }
}

}  // namespace
}  // namespace veltrin
