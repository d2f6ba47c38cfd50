// textBetween over any markers and source, checked against a plain search.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "service/TextTools.h"

namespace {

std::string quotesPlaced(std::string marker) {
    static const std::string kPlaceholder = "#引号";
    for (auto at = marker.find(kPlaceholder); at != std::string::npos;
         at = marker.find(kPlaceholder, at + 1)) {
        marker.replace(at, kPlaceholder.size(), "\"");
    }
    return marker;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using veltrin::fuzz::require;
    FuzzedDataProvider in(data, size);
    const std::string left = in.ConsumeRandomLengthString(64);
    const std::string right = in.ConsumeRandomLengthString(64);
    const std::string source = in.ConsumeRemainingBytesAsString();

    const std::string cut = veltrin::service::textBetween(source, left, right);

    const std::string l = quotesPlaced(left);
    const std::string r = quotesPlaced(right);
    std::string expected;
    if (const auto found = source.find(l); found != std::string::npos) {
        const auto start = found + l.size();
        if (const auto end = source.find(r, start); end != std::string::npos) {
            expected = source.substr(start, end - start);
        }
    }
    require(cut == expected, "textBetween cuts what a plain search finds");
    return 0;
}
