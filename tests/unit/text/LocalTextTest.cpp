#include <gtest/gtest.h>

#include "text/LocalText.h"

namespace veltrin::text {
namespace {

struct Conversion {
    const char* name;
    std::string utf8;
    std::string local;
};

class LocalConversion : public testing::TestWithParam<Conversion> {};

TEST_P(LocalConversion, ConvertsBothWays) {
    const auto& c = GetParam();
    EXPECT_EQ(toLocal(c.utf8), c.local);
    EXPECT_EQ(fromLocal(c.local), c.utf8);
    EXPECT_EQ(localLength(c.utf8), c.local.size());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LocalConversion,
    testing::Values(Conversion{"empty", "", ""}, Conversion{"ascii", "abc 123", "abc 123"},
                    Conversion{"chinese", "连接成功", "\xC1\xAC\xBD\xD3\xB3\xC9\xB9\xA6"},
                    Conversion{"fullwidth_punctuation", "【！】", "\xA1\xBE\xA3\xA1\xA1\xBF"},
                    Conversion{"mixed", "WAN 微型端口 (L2TP)",
                               "WAN \xCE\xA2\xD0\xCD\xB6\xCB\xBF\xDA (L2TP)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LocalText, CharacterOutsideCodePageBecomesQuestionMark) {
    EXPECT_EQ(toLocal("a😀b"), "a?b");
    EXPECT_EQ(toLocal("한"), "?");
}

TEST(LocalText, InvalidUtf8IsReplacedNotDropped) {
    EXPECT_EQ(toLocal(std::string("a\xFF") + "b"), "a?b");
    EXPECT_EQ(toLocal(std::string("x\xE4\xB8")), "x?");  // truncated sequence at the end
}

TEST(LocalText, InvalidLocalBytesBecomeReplacementCharacter) {
    EXPECT_EQ(fromLocal(std::string("a\xFF", 2)), "a\xEF\xBF\xBD");
}

TEST(LocalText, LongTextConvertsWhole) {
    std::string longText;
    for (int i = 0; i < 5000; ++i) {
        longText += "中";
    }
    EXPECT_EQ(toLocal(longText).size(), 10000u);
    EXPECT_EQ(fromLocal(toLocal(longText)), longText);
}

TEST(Trimmed, RemovesSurroundingBlanksOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"   ", ""},
        {" 连接成功 ", "连接成功"},
        {"\t\r\n连接成功\r\n", "连接成功"},
        {"a b", "a b"},
        {" a b ", "a b"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(trimmed(in), out) << "input [" << in << "]";
    }
}

}  // namespace
}  // namespace veltrin::text
