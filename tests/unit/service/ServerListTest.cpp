#include "service/ServerList.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "ServerListFixtures.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

using namespace testing::server_list;

std::vector<std::string> namesOf(const std::vector<ServerEntry>& rows) {
    std::vector<std::string> names;
    for (const auto& row : rows) {
        names.push_back(row.name);
    }
    return names;
}

std::vector<ServerEntry> rowsOf(std::string_view answer, std::string speeds = {}) {
    return buildServerRows(answer, [&] { return speeds; });
}

TEST(ServerRows, GroupsGetTheirMixRowAfterTheirServers) {
    const std::vector<ServerEntry> expected = {
        {"[全国]列表混拨", "正常运行", "", "", "10兆到50兆", "180多个市随机", "", "2"},
        {"上海电信1", "正常运行", "1", "127.0.1.1", "高速动态", "", "sh1.lines.test:4430", ""},
        {"上海电信2", "正常运行", "1", "127.0.1.2", "高速动态", "", "sh2.lines.test:4430", ""},
        {"上海电信3", "正常运行", " 2 ", "127.0.1.3", "高速动态", "", "sh3.lines.test:4430", ""},
        {"[上海电]3市混拨", "正常运行", "", "", "10兆到50兆", "综合3个城市IP", "", "1"},
        {"广东移动1", "正常运行", "1", "127.0.2.1", "高速动态", "", "gd1.lines.test:4430", ""},
        {"广东移动2", "维护中", " 0", "127.0.2.2", "高速动态", "", "gd2.lines.test:4430", ""},
        {"浙江联通1", "正常运行", "1", "127.0.3.1", "高速动态", "", "zj1.lines.test:4430", ""},
    };
    EXPECT_EQ(rowsOf(answerOf(exampleServers())), expected);
}

TEST(ServerRows, ProgressCountsRowsIncludingMixRows) {
    std::vector<std::size_t> counts;
    buildServerRows(
        answerOf(exampleServers()), [] { return std::string(); },
        [&](std::size_t n) { counts.push_back(n); });
    EXPECT_EQ(counts, (std::vector<std::size_t>{2, 3, 4, 6, 7, 8}));
}

TEST(ServerRows, AnswerShapes) {
    const std::string valid = answerOf(exampleServers());
    const std::string cutInSecondName =
        valid.substr(0, valid.find("上海电信2") + 4);  // also cuts a character in half
    const struct {
        const char* name;
        std::string answer;
        std::vector<std::string> names;
    } cases[] = {
        {"empty", "", {}},
        {"names no object", "name", {"[全国]列表混拨"}},
        {"empty array", "[]", {"[全国]列表混拨"}},
        {"garbage", "<html><body>502 Bad Gateway</body></html>", {"[全国]列表混拨"}},
        {"cut inside an object", cutInSecondName, {"[全国]列表混拨", "上海电信1"}},
        {"name not the first member",
         R"([{"status":"1","name":"上海电信1","ip":"127.0.1.1","address":"a"}])",
         {"[全国]列表混拨"}},
        {"blanks between objects",
         "[\r\n {\"name\":\"上海电信1\",\"status\":\"1\"},\n\t{\"name\":\"上海电信2\"} ]",
         {"[全国]列表混拨", "上海电信1", "上海电信2"}},
        {"escapes not decoded", R"([{"name":"a\"b","status":"1"}])", {"[全国]列表混拨", "a\\"}},
        {"empty pieces between", "},},{\"name\":\"x\"},},", {"[全国]列表混拨", "x"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(namesOf(rowsOf(utf8ToLocal(c.answer))), c.names) << c.name;
    }
}

// Whatever the bytes, the load neither crashes nor lets invalid UTF-8 into the rows.
TEST(ServerRows, BrokenAnswersGiveValidText) {
    const std::string valid = answerOf(exampleServers());
    std::vector<std::string> answers;
    for (std::size_t n = 0; n <= valid.size(); ++n) {
        answers.push_back(valid.substr(0, n));
    }
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::string noise = valid;
        for (int j = 0; j < 8; ++j) {
            noise[random() % noise.size()] = static_cast<char>(random() % 256);
        }
        answers.push_back(noise);
    }
    for (const auto& answer : answers) {
        for (const auto& row : rowsOf(utf8ToLocal(answer), "【上海电信1】[1兆](x)")) {
            for (int c = 0; c < ServerEntry::kColumnCount; ++c) {
                ASSERT_TRUE(validUtf8(row.column(c))) << answer;
            }
        }
    }
}

TEST(GroupKey, FirstSixLocalBytes) {
    const std::string a北京 = text::toLocal("A北京");
    const std::string 市 = text::toLocal("市");
    const struct {
        const char* name;
        std::string input;
        std::string bytes;
        std::string display;
    } cases[] = {
        {"ascii", "abcdefgh", "abcdef", "abcdef"},
        {"three characters", "上海电信1", text::toLocal("上海电"), "上海电"},
        {"half a character", "A北京市1", a北京 + 市.substr(0, 1), "A北京"},
        {"mixed widths", "北京ab9", text::toLocal("北京ab"), "北京ab"},
        {"short", "北", text::toLocal("北"), "北"},
        {"empty", "", "", ""},
        {"outside the code page", "😀😀😀😀😀😀😀", "??????", "??????"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(groupKey(c.input), (GroupKey{c.bytes, c.display})) << c.name;
    }
}

// The key compares bytes, so names whose seventh byte-pair shares a lead byte form one group; its
// mix row shows only the whole characters.
TEST(ServerRows, KeyCutThroughACharacterGroupsByBytes) {
    ASSERT_EQ(text::toLocal("市")[0], text::toLocal("十")[0]);
    ASSERT_NE(text::toLocal("市")[0], text::toLocal("县")[0]);
    const auto rows = rowsOf(answerOf({{"A北京市1", "1", "127.0.4.1", "b1"},
                                       {"A北京十2", "1", "127.0.4.2", "b2"},
                                       {"A北京县3", "1", "127.0.4.3", "b3"},
                                       {"A北京县4", "1", "127.0.4.4", "b4"},
                                       {"浙江联通1", "1", "127.0.3.1", "z"}}));
    EXPECT_EQ(namesOf(rows),
              (std::vector<std::string>{"[全国]列表混拨", "A北京市1", "A北京十2", "[A北京]2市混拨",
                                        "A北京县3", "A北京县4", "[A北京]2市混拨", "浙江联通1"}));
}

TEST(ServerRows, SpeedListMatchesWholeNamesFirstLineWins) {
    const std::string speeds =
        "【上海电信1】[100兆](约2000个IP)\r\n"
        "【上海电信1】[1兆](later line)\r\n"
        "   【广东移动1】 [50兆] (约300个IP)  \r\n"
        "\r\n"
        "【浙江】[9兆](prefix only)\r\n"
        "【上海电信3】no speed here\r\n"
        "【广东移动2】[20兆](维护)";
    const auto rows = rowsOf(answerOf(exampleServers()), speeds);
    const struct {
        std::size_t row;
        std::string speed;
        std::string remark;
    } cases[] = {
        {1, "100兆", "约2000个IP"},         {2, "高速动态", ""}, {3, "", ""},
        {5, "50兆", "约300个IP"},           {6, "20兆", "维护"}, {7, "高速动态", ""},
        {4, "10兆到50兆", "综合3个城市IP"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rows.at(c.row).speed, c.speed) << rows.at(c.row).name;
        EXPECT_EQ(rows.at(c.row).remark, c.remark) << rows.at(c.row).name;
    }
}

// The table gives what a top-down scan of the lines gives, duplicates and blanks included.
TEST(SpeedTable, SameAsScanningTheLines) {
    std::mt19937 random(11);
    std::vector<std::string> lines;
    for (int i = 0; i < 400; ++i) {
        const std::string name = "线路" + std::to_string(random() % 150);
        const std::string pad(random() % 3, ' ');
        lines.push_back(pad + "【" + name + "】[" + std::to_string(i) + "兆](r" +
                        std::to_string(i) + ")" + pad);
        if (random() % 10 == 0) {
            lines.push_back("");
        }
    }
    std::string list;
    for (const auto& line : lines) {
        list += line + "\r\n";
    }
    const SpeedTable table(list);
    for (int n = 0; n < 160; ++n) {
        const std::string name = "线路" + std::to_string(n);
        const SpeedTable::Speed* found = table.find(name);
        const std::string* scanned = nullptr;
        for (const auto& line : lines) {
            if (!text::trimmed(line).empty() && textBetween(line, "【", "】") == name) {
                scanned = &line;
                break;
            }
        }
        ASSERT_EQ(found != nullptr, scanned != nullptr) << name;
        if (found) {
            EXPECT_EQ(found->speed, textBetween(*scanned, "[", "]")) << name;
            EXPECT_EQ(found->remark, textBetween(*scanned, "(", ")")) << name;
        }
    }
}

TEST(ServerRows, SpeedListAskedOncePerLoadAndOnlyForServerRows) {
    const struct {
        const char* name;
        std::string answer;
        std::string speeds;
        int asked;
    } cases[] = {
        {"servers", answerOf(exampleServers()), "【上海电信1】[1兆](x)", 1},
        {"servers, empty speed list", answerOf(exampleServers()), "", 1},
        {"no server rows", "name", "【上海电信1】[1兆](x)", 0},
    };
    for (const auto& c : cases) {
        int asked = 0;
        buildServerRows(c.answer, [&] {
            ++asked;
            return c.speeds;
        });
        EXPECT_EQ(asked, c.asked) << c.name;
    }
}

}  // namespace
}  // namespace veltrin::service
