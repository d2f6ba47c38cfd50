#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"
#include "platform/BrowserTraces.h"

namespace veltrin::platform {
namespace {

namespace fs = std::filesystem;
using testing::present;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// One thing to create in the folder before it is emptied. Folders end with "/"; a link target
// is relative to a folder outside the emptied one.
struct Item {
    Item(std::string path, mode_t mode = 0, std::string linkTo = {})
        : path(std::move(path)), mode(mode), linkTo(std::move(linkTo)) {}
    std::string path;
    mode_t mode;  // 0: leave as created
    std::string linkTo;
};

struct TreeCase {
    std::string name;
    std::vector<Item> items;
    std::set<std::string> left;  // what stays, relative to the folder
};

// Rows print as their names in test listings.
void PrintTo(const TreeCase& row, std::ostream* out) {
    *out << row.name;
}

std::set<std::string> contents(const fs::path& folder) {
    std::set<std::string> found;
    for (auto it = fs::recursive_directory_iterator(folder);
         it != fs::recursive_directory_iterator(); ++it) {
        found.insert(it->path().lexically_relative(folder).string());
    }
    return found;
}

class EmptyFolderTree : public ::testing::TestWithParam<TreeCase> {};

TEST_P(EmptyFolderTree, LeavesOnlyWhatTheRuleKeeps) {
    TempDir temp;
    const fs::path folder = temp.path() / "History";
    const fs::path outside = temp.path() / "outside";
    fs::create_directories(folder);
    writeFile(outside / "keep.txt", "outside");
    std::vector<fs::path> restricted;
    for (const auto& item : GetParam().items) {
        const fs::path at = folder / item.path;
        if (!item.linkTo.empty()) {
            fs::create_directories(at.parent_path());
            fs::create_symlink(outside / item.linkTo, at);
        } else if (item.path.ends_with('/')) {
            fs::create_directories(at);
        } else {
            writeFile(at, "content of " + item.path);
        }
        if (item.mode != 0) {
            restricted.push_back(at);
        }
    }
    // Modes last, deepest first, so read-only folders can still be filled.
    std::sort(restricted.rbegin(), restricted.rend());
    for (const auto& at : restricted) {
        const auto it = std::find_if(GetParam().items.begin(), GetParam().items.end(),
                                     [&](const Item& i) { return folder / i.path == at; });
        ASSERT_EQ(::chmod(at.c_str(), it->mode), 0);
    }

    emptyFolder(folder);

    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(contents(folder), GetParam().left);
    EXPECT_EQ(readFile(outside / "keep.txt"), "outside");
}

INSTANTIATE_TEST_SUITE_P(
    Rule, EmptyFolderTree,
    ::testing::Values(
        TreeCase{"DesktopIniKeptInAnyLetterCase",
                 {{"desktop.ini"}, {"DESKTOP.INI"}, {"Desktop.Ini"}, {"other.txt"}},
                 {"desktop.ini", "DESKTOP.INI", "Desktop.Ini"}},
        TreeCase{"SubfolderWithTwoFilesGoesDesktopIniStays",
                 {{"desktop.ini"}, {"sub/a.dat"}, {"sub/b.dat"}},
                 {"desktop.ini"}},
        TreeCase{"NestedFoldersRemoved",
                 {{"a/b/c/deep.txt"}, {"a/b/mid.txt"}, {"a/top.txt"}, {"empty/"}, {"x.txt"}},
                 {}},
        TreeCase{"IndexDatDeletedInAnyLetterCase",
                 {{"index.dat"}, {"sub/INDEX.DAT"}, {"Index.Dat"}},
                 {}},
        TreeCase{"ReadOnlyFilesAndFoldersDeleted",
                 {{"ro.txt", 0444},
                  {"rodir/", 0555},
                  {"rodir/inner.txt", 0444},
                  {"rodir/index.dat", 0400}},
                 {}},
        TreeCase{"DesktopIniKeepsItsSubfolder",
                 {{"sub/desktop.ini"}, {"sub/gone.txt"}},
                 {"sub", "sub/desktop.ini"}},
        TreeCase{"SymlinkNeitherFollowedNorDeleted",
                 {{"link", 0, "keep.txt"}, {"dirlink", 0, "."}, {"plain.txt"}},
                 {"link", "dirlink"}},
        TreeCase{"AlreadyEmpty", {}, {}}),
    [](const auto& info) { return info.param.name; });

TEST(EmptyFolder, MissingFolderIsIgnored) {
    TempDir temp;
    emptyFolder(temp.path() / "absent");
    EXPECT_FALSE(present(temp.path() / "absent"));
}

struct IndexCase {
    std::string name;
    std::size_t size;
    mode_t mode;
};

void PrintTo(const IndexCase& row, std::ostream* out) {
    *out << row.name;
}

class IndexDatOverwrite : public ::testing::TestWithParam<IndexCase> {};

// A hard link kept outside the folder still reaches the file's bytes after it is deleted.
TEST_P(IndexDatOverwrite, ZeroedFromByte64ThenDeleted) {
    TempDir temp;
    const fs::path folder = temp.path() / "History";
    const fs::path file = folder / "sub" / "index.dat";
    const fs::path keeper = temp.path() / "keeper";
    std::string original(GetParam().size, '\0');
    for (std::size_t i = 0; i < original.size(); ++i) {
        original[i] = static_cast<char>('A' + i % 26);
    }
    writeFile(file, original);
    fs::create_hard_link(file, keeper);
    ASSERT_EQ(::chmod(file.c_str(), GetParam().mode), 0);

    emptyFolder(folder);

    EXPECT_FALSE(present(file));
    EXPECT_FALSE(present(folder / "sub"));
    const std::string after = readFile(keeper);
    ASSERT_EQ(after.size(), original.size());
    const std::size_t kept = std::min<std::size_t>(64, original.size());
    EXPECT_EQ(after.substr(0, kept), original.substr(0, kept));
    EXPECT_EQ(after.substr(kept), std::string(original.size() - kept, '\0'));
    // The read-only bit was cleared before the overwrite.
    EXPECT_NE(fs::status(keeper).permissions() & fs::perms::owner_write, fs::perms::none);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, IndexDatOverwrite,
    ::testing::Values(IndexCase{"Empty", 0, 0644}, IndexCase{"ShorterThanHeader", 40, 0644},
                      IndexCase{"ExactlyHeader", 64, 0644}, IndexCase{"OnePiece", 5000, 0644},
                      IndexCase{"ExactPieces", 64 + 20000, 0644},
                      IndexCase{"SeveralPieces", 25017, 0644}, IndexCase{"ReadOnly", 300, 0444}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace veltrin::platform
