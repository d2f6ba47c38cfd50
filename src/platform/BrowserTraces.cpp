#include "platform/BrowserTraces.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace veltrin::platform {
namespace {

namespace fs = std::filesystem;

inline constexpr off_t kIndexKeptBytes = 64;
inline constexpr std::size_t kZeroPiece = 10000;

// A directory descriptor that closes itself.
class Dir final {
public:
    explicit Dir(int fd) : fd_(fd) {}
    ~Dir() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    int fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_;
};

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        return lower(x) == lower(y);
    });
}

std::vector<std::string> entryNames(int dirFd) {
    std::vector<std::string> names;
    const int copy = ::dup(dirFd);
    if (copy < 0) {
        return names;
    }
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        ::close(copy);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    ::closedir(dir);
    return names;
}

void zeroFrom64(int dirFd, const std::string& name) {
    const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        static const std::array<char, kZeroPiece> zeros{};
        for (off_t at = kIndexKeptBytes; at < info.st_size;) {
            const auto piece =
                static_cast<std::size_t>(std::min<off_t>(info.st_size - at, kZeroPiece));
            const ssize_t n = ::pwrite(fd, zeros.data(), piece, at);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            at += n;
        }
        ::fsync(fd);
    }
    ::close(fd);
}

void emptyFolderAt(int dirFd) {
    for (const auto& name : entryNames(dirFd)) {
        struct stat info {};
        if (::fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            S_ISLNK(info.st_mode)) {
            continue;
        }
        const bool isDir = S_ISDIR(info.st_mode);
        // A folder is emptied through it, so it needs its search bit as well.
        const mode_t wanted = S_IWUSR | (isDir ? S_IXUSR : 0);
        if ((info.st_mode & wanted) != wanted) {
            ::fchmodat(dirFd, name.c_str(), (info.st_mode & 07777) | wanted, 0);
        }
        if (isDir) {
            Dir sub(::openat(dirFd, name.c_str(), kDirFlags));
            if (sub) {
                emptyFolderAt(sub.fd());
            }
            ::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
            continue;
        }
        if (equalsIgnoringCase(name, "desktop.ini")) {
            continue;
        }
        if (equalsIgnoringCase(name, "index.dat")) {
            zeroFrom64(dirFd, name);
        }
        ::unlinkat(dirFd, name.c_str(), 0);
    }
}

// The home folder's canonical form; nothing for a home that is missing or is the root.
std::optional<fs::path> canonicalHome(const fs::path& home) {
    std::error_code error;
    if (home.empty()) {
        return std::nullopt;
    }
    auto canonical = fs::canonical(home, error);
    if (error || canonical == canonical.root_path()) {
        return std::nullopt;
    }
    return canonical;
}

bool isInside(const fs::path& path, const fs::path& root) {
    auto [rootEnd, pathAt] = std::mismatch(root.begin(), root.end(), path.begin(), path.end());
    return rootEnd == root.end() && pathAt != path.end();
}

// Opens a folder only when its canonical form lies inside the home folder.
class HomeGuard final {
public:
    explicit HomeGuard(fs::path home) : home_(std::move(home)) {}

    std::optional<fs::path> resolve(const fs::path& path) const {
        std::error_code error;
        auto canonical = fs::canonical(path, error);
        if (error || !isInside(canonical, home_)) {
            return std::nullopt;
        }
        return canonical;
    }

    Dir openFolder(const fs::path& path) const {
        const auto canonical = resolve(path);
        return Dir(canonical ? ::open(canonical->c_str(), kDirFlags) : -1);
    }

    // Folders directly below a folder, each resolved inside the home folder.
    std::vector<fs::path> subfolders(const fs::path& path) const {
        std::vector<fs::path> folders;
        const auto parent = resolve(path);
        if (!parent) {
            return folders;
        }
        std::error_code error;
        for (fs::directory_iterator it(*parent, error), end; !error && it != end;
             it.increment(error)) {
            std::error_code typeError;
            if (!it->is_symlink(typeError) && it->is_directory(typeError)) {
                folders.push_back(it->path());
            }
        }
        return folders;
    }

    const fs::path& home() const { return home_; }

private:
    fs::path home_;
};

bool matches(std::string_view name, std::string_view pattern) {
    if (!pattern.empty() && pattern.back() == '*') {
        return name.starts_with(pattern.substr(0, pattern.size() - 1));
    }
    return name == pattern;
}

// Deletes the plain files of one folder whose names match; symlinks and folders stay.
void deleteFiles(const HomeGuard& guard, const fs::path& folder,
                 std::initializer_list<std::string_view> patterns) {
    Dir dir = guard.openFolder(folder);
    if (!dir) {
        return;
    }
    for (const auto& name : entryNames(dir.fd())) {
        if (std::none_of(patterns.begin(), patterns.end(),
                         [&](std::string_view p) { return matches(name, p); })) {
            continue;
        }
        struct stat info {};
        if (::fstatat(dir.fd(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode)) {
            ::unlinkat(dir.fd(), name.c_str(), 0);
        }
    }
}

void emptyInside(const HomeGuard& guard, const fs::path& folder) {
    Dir dir = guard.openFolder(folder);
    if (dir) {
        emptyFolderAt(dir.fd());
    }
}

struct Profiles {
    std::vector<fs::path> firefox;
    std::vector<fs::path> chromium;  // Chromium and Google Chrome
};

Profiles findProfiles(const HomeGuard& guard) {
    const fs::path& home = guard.home();
    Profiles profiles;
    profiles.firefox = guard.subfolders(home / ".mozilla" / "firefox");
    for (const char* browser : {"chromium", "google-chrome"}) {
        auto found = guard.subfolders(home / ".config" / browser);
        profiles.chromium.insert(profiles.chromium.end(), found.begin(), found.end());
    }
    return profiles;
}

}  // namespace

void emptyFolder(const fs::path& folder) {
    Dir dir(::open(folder.c_str(), kDirFlags));
    if (dir) {
        emptyFolderAt(dir.fd());
    }
}

void clearBrowserTraces(const fs::path& home) {
    const auto canonical = canonicalHome(home);
    if (!canonical) {
        return;
    }
    const HomeGuard guard(*canonical);
    const Profiles profiles = findProfiles(guard);

    // Cookies.
    for (const auto& profile : profiles.firefox) {
        deleteFiles(guard, profile, {"cookies.sqlite*"});
    }
    for (const auto& profile : profiles.chromium) {
        deleteFiles(guard, profile, {"Cookies*"});
        deleteFiles(guard, profile / "Network", {"Cookies*"});
    }

    // Caches.
    for (const auto& profile : guard.subfolders(guard.home() / ".cache" / "mozilla" / "firefox")) {
        emptyInside(guard, profile / "cache2");
    }
    emptyInside(guard, guard.home() / ".cache" / "chromium");
    emptyInside(guard, guard.home() / ".cache" / "google-chrome");

    // Typed addresses: form entries and the new-tab page's most visited sites.
    for (const auto& profile : profiles.firefox) {
        deleteFiles(guard, profile, {"formhistory.sqlite*"});
    }
    for (const auto& profile : profiles.chromium) {
        deleteFiles(guard, profile, {"Top Sites*"});
    }

    // History. Firefox rebuilds bookmarks from its bookmark backups when places.sqlite is gone.
    for (const auto& profile : profiles.firefox) {
        deleteFiles(guard, profile, {"places.sqlite*"});
    }
    for (const auto& profile : profiles.chromium) {
        deleteFiles(guard, profile, {"History*", "Visited Links"});
    }
}

}  // namespace veltrin::platform
