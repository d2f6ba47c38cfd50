#include "service/IpLookup.h"

#include <random>

#include "service/Endpoints.h"
#include "service/Fetch.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {

std::atomic<int> skipSecondPage{0};

namespace {

// scheme://host[:port] of an address.
std::string originOf(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    const auto path = url.find('/', scheme + 3);
    return std::string(url.substr(0, path));
}

IpPage pageFrom(const std::string& remoteUrl, IpPage remote, const std::string& builtInUrl,
                IpPage builtIn) {
    if (!remoteUrl.empty()) {
        remote.url = remoteUrl;
        return remote;
    }
    builtIn.url = builtInUrl;
    return builtIn;
}

bool blank(std::string_view s) {
    return text::trimmed(s).empty();
}

}  // namespace

IpEndpoints builtInIpEndpoints() {
    std::string echo = endpointAddress(Endpoint::addressEcho);
    const std::string origin = originOf(echo);
    if (origin.empty()) {
        return IpEndpoints{{}, {}, std::move(echo)};
    }
    return IpEndpoints{origin + "/ip/first.html", origin + "/ip/second.html", std::move(echo)};
}

IpSources ipSources(const RemoteParameters& remote, const IpEndpoints& builtIn) {
    IpSources s;
    s.firstPage = pageFrom(remote.ipQuery1Url,
                           IpPage{{},
                                  remote.ipQuery1IpBefore,
                                  remote.ipQuery1IpAfter,
                                  remote.ipQuery1PlaceBefore,
                                  remote.ipQuery1PlaceAfter},
                           builtIn.firstPage, IpPage{{}, "<dd class=\"fz24\">", "<", "<dd>", "<"});
    s.secondPage = pageFrom(
        remote.ipQuery2Url, IpPage{{}, remote.ipQuery2IpBefore, remote.ipQuery2IpAfter, {}, {}},
        builtIn.secondPage, IpPage{{}, "您的IP地址：<span class=\"c-red\">", "<", {}, {}});
    s.serviceEchoUrl = builtIn.serviceEcho;
    return s;
}

std::vector<IpSourceAnswer> lookupPublicIp(std::span<const IpSource> order, IpLookupResult& result,
                                           const IpSources& sources) {
    std::vector<IpSourceAnswer> asked;
    for (const IpSource source : order) {
        if (!blank(result.address)) {
            break;
        }
        IpSourceAnswer answer{source};
        if (source == IpSource::serviceEcho) {
            const std::string body =
                localBodyToText(fetchText(sources.serviceEchoUrl, kIpLookupTimeoutSeconds));
            if (!body.empty()) {
                answer.answered = true;
                result.address = textBetween(body, "[", "]");
                result.placeless = true;
            }
        } else {
            const IpPage& page =
                source == IpSource::firstPage ? sources.firstPage : sources.secondPage;
            const std::string body = utf8ToLocal(fetchText(page.url, kIpLookupTimeoutSeconds));
            if (!body.empty()) {
                answer.answered = true;
                result.address = textBetween(body, page.addressBefore, page.addressAfter);
                if (source == IpSource::firstPage) {
                    result.place = textBetween(body, page.placeBefore, page.placeAfter);
                } else {
                    // Even without an address: a place found later would not fit this page's
                    // answer.
                    result.placeless = true;
                }
            }
        }
        answer.gaveAddress = answer.answered && !blank(result.address);
        asked.push_back(answer);
    }
    return asked;
}

std::vector<IpSourceAnswer> lookupPublicIp(std::span<const IpSource> order,
                                           IpLookupResult& result) {
    return lookupPublicIp(order, result, ipSources(*loadRemoteParameters(), builtInIpEndpoints()));
}

TintColour tintStatusLine() {
    thread_local std::mt19937 engine{std::random_device{}()};
    return kTintColours[std::uniform_int_distribution<std::size_t>(0, 2)(engine)];
}

std::string currentIpLine(const IpLookupResult& result) {
    std::string line = "当前IP：" + result.address;
    if (!result.placeless) {
        line += "，地区：" + result.place;
    }
    return line;
}

IpQueryReport queryCurrentIp(bool skipSecond, const IpSources& sources) {
    IpQueryReport report;
    const std::span<const IpSource> order =
        skipSecond ? std::span<const IpSource>(kQueryButtonOrder) : kSecondLookOrder;
    const std::vector<IpSourceAnswer> asked = lookupPublicIp(order, report.result, sources);
    for (const IpSourceAnswer& answer : asked) {
        if (answer.source == IpSource::serviceEcho && !answer.gaveAddress) {
            report.statusLine = kIpQueryFailedText;
            report.resultsAppend = "\r\n" + std::string(kIpQueryFailedText);
        }
    }
    report.statusColour = tintStatusLine();
    // An address of blanks is no address: it must not be shown as the current one.
    if (!blank(report.result.address)) {
        report.statusLine = currentIpLine(report.result);
        report.resultsAppend += "\r\n" + report.statusLine + "\r\n";
    }
    return report;
}

IpQueryReport queryCurrentIp() {
    const bool skip = skipSecondPage.exchange(0) == 1;
    return queryCurrentIp(skip, ipSources(*loadRemoteParameters(), builtInIpEndpoints()));
}

}  // namespace veltrin::service
