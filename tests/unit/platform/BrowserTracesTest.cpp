#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "platform/BrowserTraces.h"
#include "workflows/LocalNetworkCommands.h"

namespace veltrin::platform {
namespace {

namespace fs = std::filesystem;
using testing::present;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// Paths are relative to a root holding "home" and, beside it, "outside" (not the user's).
struct Trace {
    std::string name;
    std::string path;
    bool remains;
};

// Rows print as their names in test listings.
void PrintTo(const Trace& row, std::ostream* out) {
    *out << row.name;
}

const std::vector<std::string> kFiles = {
    // Firefox profile
    "home/.mozilla/firefox/ab12.default-release/cookies.sqlite",
    "home/.mozilla/firefox/ab12.default-release/cookies.sqlite-wal",
    "home/.mozilla/firefox/ab12.default-release/formhistory.sqlite",
    "home/.mozilla/firefox/ab12.default-release/places.sqlite",
    "home/.mozilla/firefox/ab12.default-release/places.sqlite-shm",
    "home/.mozilla/firefox/ab12.default-release/prefs.js",
    "home/.mozilla/firefox/ab12.default-release/key4.db",
    "home/.mozilla/firefox/ab12.default-release/bookmarkbackups/bookmarks-2024.jsonlz4",
    "home/.mozilla/firefox/profiles.ini",
    "home/.cache/mozilla/firefox/ab12.default-release/cache2/entries/0A1B2C",
    "home/.cache/mozilla/firefox/ab12.default-release/cache2/index",
    "home/.cache/mozilla/firefox/ab12.default-release/startupCache/scriptCache.bin",
    // Chromium profile
    "home/.config/chromium/Default/Cookies",
    "home/.config/chromium/Default/Cookies-journal",
    "home/.config/chromium/Default/Network/Cookies",
    "home/.config/chromium/Default/Network/Cookies-journal",
    "home/.config/chromium/Default/History",
    "home/.config/chromium/Default/History-journal",
    "home/.config/chromium/Default/Top Sites",
    "home/.config/chromium/Default/Visited Links",
    "home/.config/chromium/Default/Bookmarks",
    "home/.config/chromium/Default/Login Data",
    "home/.config/chromium/Local State",
    "home/.cache/chromium/Default/Cache/Cache_Data/data_0",
    "home/.cache/chromium/Default/Cache/Cache_Data/index",
    // Google Chrome profile
    "home/.config/google-chrome/Profile 1/Cookies",
    "home/.config/google-chrome/Profile 1/History",
    "home/.config/google-chrome/Profile 1/Preferences",
    "home/.cache/google-chrome/Profile 1/Code Cache/js/f00d",
    // Not the user's: reached only through symlinks from the home folder
    "outside/profile/cookies.sqlite",
    "outside/profile/places.sqlite",
    "outside/network/Cookies",
    "outside/cache/data_1",
    "outside/History",
};

// Symlinks inside the home folder: link -> target, both relative to the root.
const std::vector<std::pair<std::string, std::string>> kLinks = {
    {"home/.mozilla/firefox/linked.profile", "outside/profile"},
    {"home/.config/google-chrome/Profile 1/Network", "outside/network"},
    {"home/.cache/chromium/Default/Cache/elsewhere", "outside/cache"},
    {"home/.config/chromium/Default/History-linked", "outside/History"},
    {"home/.config/chromium/Default/Cookies-inside", "home/.mozilla/firefox/profiles.ini"},
};

class BrowserTraces : public ::testing::TestWithParam<Trace> {
protected:
    void SetUp() override {
        for (const auto& file : kFiles) {
            writeFile(root() / file, "data of " + file);
        }
        for (const auto& [link, target] : kLinks) {
            fs::create_symlink(root() / target, root() / link);
        }
    }
    fs::path root() const { return temp_.path(); }

private:
    TempDir temp_;
};

TEST_P(BrowserTraces, ClearedUnderHomeOnly) {
    const fs::path at = root() / GetParam().path;
    ASSERT_TRUE(present(at));

    clearBrowserTraces(root() / "home");

    EXPECT_EQ(present(at), GetParam().remains);
}

TEST_P(BrowserTraces, ClearedThroughTheWorkflowsWrapperUsingHome) {
    const fs::path at = root() / GetParam().path;
    const char* saved = std::getenv("HOME");
    const std::optional<std::string> previous =
        saved ? std::optional<std::string>(saved) : std::nullopt;
    ::setenv("HOME", (root() / "home").c_str(), 1);

    workflows::clearBrowserTraces();

    previous ? ::setenv("HOME", previous->c_str(), 1) : ::unsetenv("HOME");
    EXPECT_EQ(present(at), GetParam().remains);
}

TEST_P(BrowserTraces, HomeReachedThroughASymlinkIsClearedAlike) {
    const fs::path at = root() / GetParam().path;
    fs::create_symlink(root() / "home", root() / "home-link");

    clearBrowserTraces(root() / "home-link");

    EXPECT_EQ(present(at), GetParam().remains);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, BrowserTraces,
    ::testing::Values(
        Trace{"FirefoxCookies", "home/.mozilla/firefox/ab12.default-release/cookies.sqlite", false},
        Trace{"FirefoxCookiesWal", "home/.mozilla/firefox/ab12.default-release/cookies.sqlite-wal",
              false},
        Trace{"FirefoxFormHistory", "home/.mozilla/firefox/ab12.default-release/formhistory.sqlite",
              false},
        Trace{"FirefoxPlaces", "home/.mozilla/firefox/ab12.default-release/places.sqlite", false},
        Trace{"FirefoxPlacesShm", "home/.mozilla/firefox/ab12.default-release/places.sqlite-shm",
              false},
        Trace{"FirefoxPrefsStay", "home/.mozilla/firefox/ab12.default-release/prefs.js", true},
        Trace{"FirefoxPasswordsStay", "home/.mozilla/firefox/ab12.default-release/key4.db", true},
        Trace{"FirefoxBookmarkBackupsStay",
              "home/.mozilla/firefox/ab12.default-release/bookmarkbackups/bookmarks-2024.jsonlz4",
              true},
        Trace{"FirefoxProfilesIniStays", "home/.mozilla/firefox/profiles.ini", true},
        Trace{"FirefoxCacheEntry",
              "home/.cache/mozilla/firefox/ab12.default-release/cache2/entries/0A1B2C", false},
        Trace{"FirefoxCacheSubfolder",
              "home/.cache/mozilla/firefox/ab12.default-release/cache2/entries", false},
        Trace{"FirefoxCacheFolderStays", "home/.cache/mozilla/firefox/ab12.default-release/cache2",
              true},
        Trace{"FirefoxStartupCacheStays",
              "home/.cache/mozilla/firefox/ab12.default-release/startupCache/scriptCache.bin",
              true},
        Trace{"ChromiumCookies", "home/.config/chromium/Default/Cookies", false},
        Trace{"ChromiumCookiesJournal", "home/.config/chromium/Default/Cookies-journal", false},
        Trace{"ChromiumNetworkCookies", "home/.config/chromium/Default/Network/Cookies", false},
        Trace{"ChromiumNetworkCookiesJournal",
              "home/.config/chromium/Default/Network/Cookies-journal", false},
        Trace{"ChromiumHistory", "home/.config/chromium/Default/History", false},
        Trace{"ChromiumHistoryJournal", "home/.config/chromium/Default/History-journal", false},
        Trace{"ChromiumTopSites", "home/.config/chromium/Default/Top Sites", false},
        Trace{"ChromiumVisitedLinks", "home/.config/chromium/Default/Visited Links", false},
        Trace{"ChromiumBookmarksStay", "home/.config/chromium/Default/Bookmarks", true},
        Trace{"ChromiumLoginDataStays", "home/.config/chromium/Default/Login Data", true},
        Trace{"ChromiumLocalStateStays", "home/.config/chromium/Local State", true},
        Trace{"ChromiumCacheFile", "home/.cache/chromium/Default/Cache/Cache_Data/data_0", false},
        Trace{"ChromiumCacheSubfolder", "home/.cache/chromium/Default/Cache/Cache_Data", false},
        Trace{"ChromiumCacheFolderStays", "home/.cache/chromium", true},
        Trace{"ChromeCookies", "home/.config/google-chrome/Profile 1/Cookies", false},
        Trace{"ChromeHistory", "home/.config/google-chrome/Profile 1/History", false},
        Trace{"ChromePreferencesStay", "home/.config/google-chrome/Profile 1/Preferences", true},
        Trace{"ChromeCodeCache", "home/.cache/google-chrome/Profile 1/Code Cache/js/f00d", false},
        Trace{"ChromeCacheFolderStays", "home/.cache/google-chrome", true},
        Trace{"ProfileLinkedOutsideSurvives", "outside/profile/cookies.sqlite", true},
        Trace{"ProfileLinkedOutsideHistorySurvives", "outside/profile/places.sqlite", true},
        Trace{"NetworkFolderLinkedOutsideSurvives", "outside/network/Cookies", true},
        Trace{"CacheLinkedOutsideSurvives", "outside/cache/data_1", true},
        Trace{"HistoryFileLinkedOutsideSurvives", "outside/History", true},
        Trace{"LinkToAFileInsideHomeStays", "home/.config/chromium/Default/Cookies-inside", true},
        Trace{"FileLinkedInsideHomeSurvives", "home/.mozilla/firefox/profiles.ini", true}),
    [](const auto& info) { return info.param.name; });

TEST(BrowserTracesHome, MissingHomeIsIgnored) {
    TempDir temp;
    clearBrowserTraces(temp.path() / "absent");
    clearBrowserTraces(fs::path());
    EXPECT_FALSE(present(temp.path() / "absent"));
}

}  // namespace
}  // namespace veltrin::platform
