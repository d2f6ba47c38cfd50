// The server-list reader over any answer and speed list.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "service/ServerList.h"
#include "service/ServerListModel.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using veltrin::fuzz::require;
    using veltrin::fuzz::validUtf8;
    namespace s = veltrin::service;
    namespace text = veltrin::text;
    FuzzedDataProvider in(data, size);
    // Mostly the client's own path (answer limited to code page 936); sometimes raw bytes.
    const bool raw = in.ConsumeBool();
    const std::string speedBytes = in.ConsumeRandomLengthString(1024);
    std::string answer = in.ConsumeRemainingBytesAsString();
    if (!raw) {
        const std::string limited = s::utf8ToLocal(answer);
        require(limited == text::fromLocal(text::toLocal(answer)),
                "ASCII runs skipped give what the whole-text round trip gives");
        answer = limited;
    }

    int speedCalls = 0;
    std::size_t lastCount = 0;
    const auto rows = s::buildServerRows(
        answer,
        [&] {
            ++speedCalls;
            return s::localBodyToText(speedBytes);
        },
        [&](std::size_t count) {
            require(count >= lastCount, "row count only grows");
            lastCount = count;
        });
    require(speedCalls <= 1, "speed list asked at most once");
    require(lastCount == rows.size(), "last progress is the row count");
    if (!rows.empty()) {
        require(rows.front() == s::nationwideMixRow(), "nationwide row first");
    }
    for (const auto& row : rows) {
        if (!raw) {
            for (int c = 0; c < s::ServerEntry::kColumnCount; ++c) {
                require(validUtf8(row.column(c)), "rows hold valid UTF-8");
            }
        }
        const s::GroupKey key = s::groupKey(row.name);
        require(key.bytes.size() <= 6, "group key at most six bytes");
        require(validUtf8(key.display), "group key display is valid UTF-8");
    }

    s::ServerListModel model([](std::size_t count) { return count - 1; });
    model.setFullList(rows);
    if (!rows.empty()) {
        model.search(rows.back().name.substr(0, 4));
        require(model.searchActive() == !rows.back().name.substr(0, 4).empty(),
                "search active for a text");
        model.search("");
        for (std::size_t i = 0; i < rows.size() && i < 8; ++i) {
            const auto choice = model.choose(i, i % 2 == 1);
            require(choice.has_value(), "every row can be chosen");
        }
    }
    return 0;
}
