// The remote parameter reader and the start-up decisions over any text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "service/RemoteParameters.h"
#include "service/TextTools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using veltrin::fuzz::require;
    namespace s = veltrin::service;
    FuzzedDataProvider in(data, size);
    // As the start-up worker gets it (code page 936 bytes) or as UTF-8 already.
    const bool local = in.ConsumeBool();
    std::string text = in.ConsumeRemainingBytesAsString();
    if (local) {
        text = s::localBodyToText(text);
    }

    const s::ParsedRemoteText parsed = s::parseRemoteText(text);
    require(parsed.parameters.supportContact == s::remoteValue(text, "qq客服号码"),
            "a key reads as its own value");

    const double version = s::versionValue(parsed.head.latestVersion);
    require(std::isfinite(version) && version >= 0.0, "version is a finite count");
    const char first = parsed.head.latestVersion.empty() ? '\0' : parsed.head.latestVersion[0];
    if (first >= '1' && first <= '9') {
        require(version >= 1.0, "a version starting with a non-zero digit is at least 1");
    }

    const s::StartupDecisions d = s::startupDecisions(parsed.head, parsed.parameters);
    require(!(d.forcedUpdate && d.newVersionNotice), "forced update or notice, not both");
    require(!d.withdrawal || d.newVersionNotice, "withdrawal only after the notice");
    if (parsed.head.latestVersion.empty()) {
        require(d.noticeBox == s::NoticeBox::hide && !d.forcedUpdate && !d.newVersionNotice,
                "no version, no decisions");
    }
    return 0;
}
