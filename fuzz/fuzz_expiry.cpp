// The expiry reader: end time, label plan and time page over any answer and network time.
#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "service/Expiry.h"
#include "service/TextTools.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using veltrin::fuzz::require;
    using veltrin::fuzz::validUtf8;
    namespace s = veltrin::service;
    FuzzedDataProvider in(data, size);
    const std::string nowText = in.ConsumeRandomLengthString(24);
    const std::string before = in.ConsumeRandomLengthString(16);
    const std::string after = in.ConsumeRandomLengthString(16);
    const std::string answer = s::utf8ToLocal(in.ConsumeRemainingBytesAsString());

    std::optional<std::int64_t> now;
    std::int64_t parsed = 0;
    const auto [end, error] =
        std::from_chars(nowText.data(), nowText.data() + nowText.size(), parsed);
    if (error == std::errc() && end != nowText.data()) {
        now = parsed;
    }

    const auto endTime = s::expiryEndTime(answer);
    const s::ExpiryPlan plan = s::expiryPlan(answer, now);
    require(!plan.steps.empty(), "a plan always shows something");
    if (endTime) {
        const std::string expiry = s::expiryText(*endTime);
        require(validUtf8(expiry), "expiry text is valid UTF-8");
        require(plan.steps.front().caption && plan.steps.front().caption->starts_with(expiry),
                "the caption starts with the expiry");
    }
    if (now) {
        require(validUtf8(s::expiryText(*now)), "any time writes as text");
    }

    const auto pageTime = s::networkTimeFromPage(answer, {"http://127.0.0.1:1/t", before, after});
    if (pageTime) {
        require(*pageTime >= 0, "page time not before 1970");
    }
    return 0;
}
