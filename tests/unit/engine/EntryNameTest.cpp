#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "engine/EntryName.h"

namespace veltrin::engine {
namespace {

TEST(DrawBetween, FollowsTheCounterRuleWithUnsigned32BitWrap) {
    struct Case {
        std::uint32_t t, a, b, expected;
    };
    const Case cases[] = {
        {0, 1, 2, 2},           // 7 mod 2 = 1
        {1, 1, 2, 1},           // 30 mod 2 = 0
        {0xFFFFFFFF, 1, 2, 1},  // product wraps
        {0xFFFFFFFF, 97, 122, 103},
        {0x80000000, 65, 90, 70},
        {12345, 97, 122, 119},
        {0x0B21642C, 1, 2, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(drawBetween(c.t, c.a, c.b), c.expected)
            << "t=" << c.t << " a=" << c.a << " b=" << c.b;
    }
}

std::function<std::uint32_t()> sequence(std::vector<std::uint32_t> values) {
    auto state =
        std::make_shared<std::pair<std::vector<std::uint32_t>, size_t>>(std::move(values), 0);
    return [state] { return state->first.at(state->second++); };
}

TEST(MakeEntryName, TakesTwoDrawsPerLetterInOrder) {
    EXPECT_EQ(makeEntryName(sequence({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15})),
              "EYSMGAUO");
    std::vector<std::uint32_t> high;
    for (std::uint32_t i = 0; i < 16; ++i) {
        high.push_back(0xFFFFFFFF - i * 977);
    }
    EXPECT_EQ(makeEntryName(sequence(high)), "zlxjvhtf");
}

TEST(MakeEntryName, RealCounterGivesEightLetters) {
    for (int i = 0; i < 200; ++i) {
        const auto name = makeEntryName();
        ASSERT_EQ(name.size(), 8u);
        EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](unsigned char c) {
            return std::isalpha(c);
        })) << name;
    }
}

}  // namespace
}  // namespace veltrin::engine
