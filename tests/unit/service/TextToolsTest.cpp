#include <gtest/gtest.h>

#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

struct Between {
    const char* name;
    std::string source;
    std::string left;
    std::string right;
    std::string expected;
};

void PrintTo(const Between& c, std::ostream* os) {
    *os << c.name;
}

class TextBetween : public ::testing::TestWithParam<Between> {};

TEST_P(TextBetween, CutsTheFirstValue) {
    const auto& c = GetParam();
    EXPECT_EQ(textBetween(c.source, c.left, c.right), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextBetween,
    ::testing::Values(Between{"simple", "x=[5]y", "x=[", "]", "5"},
                      Between{"right_missing", "x=[5]y", "x=[", ")", ""},
                      Between{"left_missing", "x=[5]y", "z=[", "]", ""},
                      Between{"left_only_after_right", "]x=[5", "x=[", "]", ""},
                      Between{"empty_value", "a=[]", "a=[", "]", ""},
                      Between{"first_occurrence_only", "k=[1]k=[2]", "k=[", "]", "1"},
                      Between{"right_searched_after_left", "]a[b]", "[", "]", "b"},
                      Between{"case_sensitive", "Key=[1]key=[2]", "key=[", "]", "2"},
                      Between{"quote_placeholder_left", "ip\"A1.2.3.4<", "#引号A", "<", "1.2.3.4"},
                      Between{"quote_placeholder_right", "<b>9.9\"x", "<b>", "#引号x", "9.9"},
                      Between{"placeholder_twice", "\"\"v\"\"", "#引号#引号", "#引号#引号", "v"},
                      Between{"json_info", "{\"data\":null,\"info\":\"账户已过期\"}", "info\":\"",
                              "\"", "账户已过期"},
                      Between{"chinese_markers", "【9.82】+是+", "【", "】", "9.82"},
                      Between{"empty_source", "", "a", "b", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8ToLocal, KeepsWhatCodePage936Holds) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"abc", "abc"},
        {"中", "中"},
        {"账户过期！", "账户过期！"},
        {"a😀b", "a?b"},
        {"한국", "??"},
        {std::string("x\xFFy"), "x?y"},
        {std::string("z\xE4\xB8"), "z?"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(utf8ToLocal(in), out) << in;
    }
}

struct LocalCase {
    const char* name;
    std::string utf8;
    std::string expected;
};

void PrintTo(const LocalCase& c, std::ostream* os) {
    *os << c.name;
}

std::string allAsciiBytes() {
    std::string bytes;
    for (int b = 0; b < 0x80; ++b) {
        bytes.push_back(static_cast<char>(b));
    }
    return bytes;
}

// The whole text through iconv both ways: what utf8ToLocal gave before it skipped ASCII runs.
std::string roundTripWhole(std::string_view utf8) {
    return text::fromLocal(text::toLocal(utf8));
}

class Utf8ToLocalRuns : public ::testing::TestWithParam<LocalCase> {};

TEST_P(Utf8ToLocalRuns, MatchesTheWholeTextRoundTrip) {
    const auto& c = GetParam();
    EXPECT_EQ(utf8ToLocal(c.utf8), c.expected);
    EXPECT_EQ(utf8ToLocal(c.utf8), roundTripWhole(c.utf8));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8ToLocalRuns,
    ::testing::Values(LocalCase{"pure_ascii", "http://127.0.0.1:1/s.json?a=1&b=2",
                                "http://127.0.0.1:1/s.json?a=1&b=2"},
                      LocalCase{"every_ascii_byte", allAsciiBytes(), allAsciiBytes()},
                      LocalCase{"chinese_only", "上海电信", "上海电信"},
                      LocalCase{"list_piece", R"({"name":"上海电信1","status":"1"})",
                                R"({"name":"上海电信1","status":"1"})"},
                      LocalCase{"emoji_between_ascii", "a😀b", "a?b"},
                      LocalCase{"hangul_run", "x한국y", "x??y"},
                      LocalCase{"chinese_then_emoji_run", "广东😀移动", "广东?移动"},
                      LocalCase{"stray_continuation",
                                std::string("a\x80"
                                            "b"),
                                "a?b"},
                      LocalCase{"truncated_before_ascii",
                                std::string("\xE4\xB8"
                                            "a"),
                                "?a"},
                      LocalCase{"truncated_at_end", std::string("z\xE4\xB8"), "z?"},
                      LocalCase{"lead_byte_then_chinese", std::string("\xE4") + "中", "?中"},
                      LocalCase{"overlong_nul", std::string("\xC0\x80x"), "??x"},
                      LocalCase{"surrogate", std::string("\xED\xA0\x80!"), "?!"},
                      LocalCase{"zero_bytes_inside", std::string("a\0中\0b", 7),
                                std::string("a\0中\0b", 7)},
                      LocalCase{"fullwidth_punctuation", "账户过期！(ok)", "账户过期！(ok)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8ToLocalRuns, EveryBmpCharacterBetweenAsciiMatchesTheWholeTextRoundTrip) {
    for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            continue;
        }
        std::string in = "a";
        if (cp < 0x800) {
            in += static_cast<char>(0xC0 | (cp >> 6));
        } else {
            in += static_cast<char>(0xE0 | (cp >> 12));
            in += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        }
        in += static_cast<char>(0x80 | (cp & 0x3F));
        in += "b";
        ASSERT_EQ(utf8ToLocal(in), roundTripWhole(in)) << "U+" << std::hex << std::uint32_t(cp);
    }
}

TEST(LocalBodyToText, ConvertsCodePage936UpToTheFirstZeroByte) {
    EXPECT_EQ(localBodyToText("\xD6\xD0"), "中");
    EXPECT_EQ(localBodyToText(std::string("\xD6\xD0\0tail", 7)), "中");
    EXPECT_EQ(localBodyToText(""), "");
}

TEST(QueryEscaped, LeavesUnreservedAndEscapesTheRestAsCodePage936) {
    const std::pair<std::string, std::string> cases[] = {
        {"u1", "u1"},
        {"A-z_0.9~", "A-z_0.9~"},
        {"a&user=b", "a%26user%3Db"},
        {"p w#?", "p%20w%23%3F"},
        {"中", "%D6%D0"},
        {"100%", "100%25"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(queryEscaped(in), out) << in;
    }
}

TEST(LeadingInteger, ReadsLeadingDigitsOnly) {
    const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
        {"1562555700,", 1562555700},
        {" 42abc", 42},
        {"0", 0},
        {"", std::nullopt},
        {"null,", std::nullopt},
        {"-5", std::nullopt},
        {"99999999999999999999999", INT64_MAX},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(leadingInteger(in), out) << in;
    }
}

}  // namespace
}  // namespace veltrin::service
