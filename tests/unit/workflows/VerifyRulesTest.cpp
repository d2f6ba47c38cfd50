#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "text/LocalText.h"
#include "workflows/MemoryView.h"
#include "workflows/ResultsLog.h"
#include "workflows/StatusChannel.h"
#include "workflows/VerifyIp.h"

namespace veltrin::workflows {
namespace {

namespace fs = std::filesystem;

TEST(RepeatKey, WholeAddressOrFirstThreeSegments) {
    const std::tuple<const char*, bool, std::optional<std::string>> cases[] = {
        {"10.45.3.4", false, "10.45.3.4"}, {" 10.45.3.4 ", false, "10.45.3.4"},
        {"10.45.3.4", true, "10.45.3"},    {"1.1.1.1", true, "1.1.1"},
        {"abc", true, std::nullopt},       {"abc", false, std::nullopt},
        {"", false, std::nullopt},         {"1.2. ", true, "1.2"},
    };
    for (const auto& [address, three, key] : cases) {
        EXPECT_EQ(repeatKey(address, three), key) << address << " three=" << three;
    }
}

TEST(IsRepeat, PlainCaseBlindSubstringOfTheWholeHistory) {
    const std::string history =
        " 【严禁非法用途】\r\n当前IP：10.45.3.4，地区：上海\r\n当前IP：1.2.3.45，线路名称：X\r\n";
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"four_segment_repeat", "10.45.3.4", true},    {"three_segment_key", "10.45.3", true},
        {"prefix_of_longer_address", "1.2.3.4", true}, {"inside_another_address", "0.45.3", true},
        {"new_address", "10.45.4.4", false},
    };
    for (const auto& [name, key, repeat] : cases) {
        EXPECT_EQ(isRepeat(history, key), repeat) << name;
    }
    EXPECT_FALSE(isRepeat("", "10.45.3.4"));
    EXPECT_TRUE(isRepeat("HOST-A.b", "host-a.B"));
}

TEST(HuntMatches, EqualOrContainedIgnoringCase) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"51.52.7.9", "51.52", true},
        {"151.52.7.9", "51.52", true},
        {"51.53.7.9", "51.52", false},
        {"51.52.7.9", " 51.52.7.9 ", true},
        {"51.52.7.9", "", true},
        {"", "", false},
        {"  ", "1", false},
    };
    for (const auto& [address, wanted, match] : cases) {
        EXPECT_EQ(huntMatches(address, wanted), match) << address << " / " << wanted;
    }
}

TEST(ResultsTimeText, DropsTrailingZeroParts) {
    auto at = [](int y, int mo, int d, int h, int mi, int s) {
        std::tm t{};
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
        return t;
    };
    const std::pair<std::tm, const char*> cases[] = {
        {at(2021, 5, 3, 9, 5, 7), "2021年5月3日9时5分7秒"},
        {at(2021, 5, 3, 14, 0, 0), "2021年5月3日14时"},
        {at(2021, 5, 3, 0, 0, 5), "2021年5月3日0时0分5秒"},
        {at(2021, 5, 3, 12, 30, 0), "2021年5月3日12时30分"},
        {at(2021, 5, 3, 0, 0, 0), "2021年5月3日"},
        {at(2026, 12, 31, 0, 7, 0), "2026年12月31日0时7分"},
    };
    for (const auto& [t, text] : cases) {
        EXPECT_EQ(resultsTimeText(t), text);
    }
}

class ResultFiles : public testing::Test {
protected:
    fs::path dir =
        fs::temp_directory_path() / ("results-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    static std::string bytes(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(ResultFiles, HistoryRoundTripsByteForByte) {
    MemoryView view;
    view.setText(
        kResultsBox,
        " 【严禁非法用途，所有使用后果自负！】\r\n当前IP：58.34.10.1，地区：上海市 电信\r\n");
    ASSERT_TRUE(saveRepeatHistory(view, dir / "defendrerepeat.txt"));
    const std::string saved = bytes(dir / "defendrerepeat.txt");
    EXPECT_EQ(saved.substr(0, 5), " \xA1\xBE\xD1\xCF");  // code page 936, no byte-order mark
    ASSERT_EQ(view.messages().size(), 1u);
    EXPECT_EQ(view.messages()[0].title, "已保存通知！");
    EXPECT_EQ(view.messages()[0].style, 0);

    MemoryView next;
    loadRepeatHistory(next, dir / "defendrerepeat.txt");
    EXPECT_EQ(next.text(kResultsBox), view.text(kResultsBox));
    ASSERT_TRUE(saveRepeatHistory(next, dir / "again.txt"));
    EXPECT_EQ(bytes(dir / "again.txt"), saved);

    MemoryView untouched;
    loadRepeatHistory(untouched, dir / "missing.txt");
    EXPECT_EQ(untouched.text(kResultsBox), kResultsStartText);
}

TEST_F(ResultFiles, FailedWritesAreReportedNotCelebrated) {
    MemoryView view;
    EXPECT_FALSE(saveRepeatHistory(view, dir / "no-dir" / "defendrerepeat.txt"));
    std::tm t{};
    t.tm_year = 121;
    t.tm_mday = 1;
    EXPECT_FALSE(saveResultsLog(view, dir / "no-dir", t));
    const auto m = view.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].title, "保存失败");
    EXPECT_EQ(m[1].title, "导出失败");
}

TEST_F(ResultFiles, ResultsLogIsNamedByTheTimeAndClearingEmptiesIt) {
    MemoryView view;
    view.appendResult("\r\n当前IP：1.2.3.4");
    std::tm t{};
    t.tm_year = 121;
    t.tm_mon = 4;
    t.tm_mday = 3;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    ASSERT_TRUE(saveResultsLog(view, dir, t));
    EXPECT_EQ(bytes(dir / "运行结果2021年5月3日9时5分7秒.txt"),
              text::toLocal(view.text(kResultsBox)));
    EXPECT_EQ(view.messages().back().text,
              "生成txt文本已成功，请查看本软件所在目录vlset目录下，名称为【运行结果2021年5月3日9时5"
              "分7秒.txt】的文件！");
    EXPECT_EQ(view.messages().back().title, "导出成功");
    clearResults(view);
    t.tm_sec = 8;
    ASSERT_TRUE(saveResultsLog(view, dir, t));
    EXPECT_EQ(bytes(dir / "运行结果2021年5月3日9时5分8秒.txt"), "");
}

}  // namespace
}  // namespace veltrin::workflows
