#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "shell/ProfileFile.h"

namespace veltrin::shell {
namespace {

namespace fs = std::filesystem;

struct WriteCase {
    const char* name;
    std::string before, section, key, value, after;
};

class ProfileWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(ProfileWrite, PlacesTheValueAsThePlatformWould) {
    const auto& c = GetParam();
    EXPECT_EQ(withProfileValue(c.before, c.section, c.key, c.value), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileWrite,
    testing::Values(
        WriteCase{"new_file", "", "1", "是否已生成配置", "是", "[1]\r\n是否已生成配置=是\r\n"},
        WriteCase{"new_section_goes_last", "[22]\r\n服务条款签署=1\r\n", "1", "是否已生成配置",
                  "是", "[22]\r\n服务条款签署=1\r\n[1]\r\n是否已生成配置=是\r\n"},
        WriteCase{"replaces_in_place", "[1]\r\na=x\r\n[2]\r\nb=y\r\n", "1", "a", "z",
                  "[1]\r\na=z\r\n[2]\r\nb=y\r\n"},
        WriteCase{"new_key_ends_its_section", "[1]\r\na=x\r\n\r\n[2]\r\nb=y\r\n", "1", "c", "w",
                  "[1]\r\na=x\r\nc=w\r\n\r\n[2]\r\nb=y\r\n"},
        WriteCase{"names_match_without_case", "[Sec]\r\nKey=1\r\n", "sec", "KEY", "2",
                  "[Sec]\r\nKEY=2\r\n"},
        WriteCase{"empty_value", "[2]\r\n服务器地址=1.2.3.4\r\n", "2", "服务器地址", "",
                  "[2]\r\n服务器地址=\r\n"},
        WriteCase{"line_breaks_cannot_add_keys", "", "4", "密码", "a\r\n[1]\r\nx=y",
                  "[4]\r\n密码=a  [1]  x=y\r\n"},
        WriteCase{"lf_only_file_is_rewritten_with_crlf", "[1]\na=x\n", "1", "b", "y",
                  "[1]\r\na=x\r\nb=y\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProfileRead, TrimsUnquotesAndMatchesWithoutCase) {
    const std::string text =
        "[1]\r\n是否已生成配置 = 是 \r\n[4]\r\n密码=\"  a b "
        "\"\r\n[5]\r\nkey=1\r\n[5]\r\nkey=2\r\n[x]\r\nnoequals\r\n";
    const std::tuple<const char*, const char*, std::optional<std::string>> cases[] = {
        {"1", "是否已生成配置", "是"},
        {"4", "密码", "  a b "},
        {"5", "KEY", "1"},  // the first section of a name counts
        {"2", "服务器地址", std::nullopt},
        {"x", "noequals", std::nullopt},
        {"1", "missing", std::nullopt},
    };
    for (const auto& [section, key, value] : cases) {
        EXPECT_EQ(profileValue(text, section, key), value) << section << "/" << key;
    }
}

class ProfileFileOnDisk : public testing::Test {
protected:
    fs::path dir =
        fs::temp_directory_path() / ("profile-" + std::to_string(::getpid()) + "-" +
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

TEST_F(ProfileFileOnDisk, StoresCodePage936PrivatelyAndReadsBack) {
    ProfileFile file(dir / "veltrinset.ini");
    EXPECT_EQ(file.read("1", "是否已生成配置"), "");
    ASSERT_TRUE(file.write("1", "是否已生成配置", "是"));
    ASSERT_TRUE(file.write("4", "密码", "p@ss 密码"));
    EXPECT_EQ(bytes(file.path()),
              "[1]\r\n\xCA\xC7\xB7\xF1\xD2\xD1\xC9\xFA\xB3\xC9\xC5\xE4\xD6\xC3=\xCA\xC7\r\n"
              "[4]\r\n\xC3\xDC\xC2\xEB=p@ss \xC3\xDC\xC2\xEB\r\n");
    EXPECT_EQ(file.read("4", "密码"), "p@ss 密码");
    struct stat st {};
    ASSERT_EQ(::stat(file.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}

TEST_F(ProfileFileOnDisk, FailedWriteSaysSoAndLeavesNothing) {
    ProfileFile file(dir / "missing-dir" / "veltrinset.ini");
    EXPECT_FALSE(file.write("1", "k", "v"));
    EXPECT_EQ(file.read("1", "k"), "");
}

TEST_F(ProfileFileOnDisk, ConcurrentWritersLoseNoKey) {
    ProfileFile file(dir / "veltrinset.ini");
    auto writer = [&](const std::string& section) {
        for (int i = 0; i < 100; ++i) {
            file.write(section, "k" + std::to_string(i), std::to_string(i));
        }
    };
    std::thread a(writer, "A"), b(writer, "B");
    a.join();
    b.join();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(file.read("A", "k" + std::to_string(i)), std::to_string(i));
        EXPECT_EQ(file.read("B", "k" + std::to_string(i)), std::to_string(i));
    }
}

}  // namespace
}  // namespace veltrin::shell
