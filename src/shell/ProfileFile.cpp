#include "shell/ProfileFile.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <vector>

#include "text/Files.h"
#include "text/LocalText.h"

namespace veltrin::shell {
namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// The section name of a "[name]" line, or nothing.
std::optional<std::string_view> sectionOf(std::string_view line) {
    const auto t = text::trimmed(line);
    if (t.size() < 2 || t.front() != '[') {
        return std::nullopt;
    }
    const auto close = t.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return text::trimmed(t.substr(1, close - 1));
}

std::optional<std::pair<std::string_view, std::string_view>> keyOf(std::string_view line) {
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    return std::make_pair(text::trimmed(line.substr(0, eq)), line.substr(eq + 1));
}

std::string unquoted(std::string_view value) {
    auto v = text::trimmed(value);
    if (v.size() >= 2 &&
        ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\''))) {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

// A line break inside a value would let it write keys of its own into the file.
std::string singleLine(std::string value) {
    std::replace(value.begin(), value.end(), '\r', ' ');
    std::replace(value.begin(), value.end(), '\n', ' ');
    return value;
}

std::optional<std::string> readLocalFile(const std::filesystem::path& path) {
    const auto bytes = text::readWholeFile(path);
    return bytes ? std::optional<std::string>(text::fromLocal(*bytes)) : std::nullopt;
}

}  // namespace

std::optional<std::string> profileValue(const std::string& text, const std::string& section,
                                        const std::string& key) {
    bool inSection = false;
    for (const auto& line : splitLines(text)) {
        if (const auto s = sectionOf(line)) {
            inSection = equalNoCase(*s, section);
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (const auto kv = keyOf(line); kv && equalNoCase(kv->first, key)) {
            return unquoted(kv->second);
        }
    }
    return std::nullopt;
}

std::string withProfileValue(const std::string& text, const std::string& section,
                             const std::string& key, const std::string& value) {
    auto lines = splitLines(text);
    const std::string entry = key + "=" + singleLine(value);
    const auto header = std::find_if(lines.begin(), lines.end(), [&](const std::string& l) {
        const auto s = sectionOf(l);
        return s && equalNoCase(*s, section);
    });
    if (header == lines.end()) {
        lines.push_back("[" + section + "]");
        lines.push_back(entry);
    } else {
        auto insertAfter = header;
        bool replaced = false;
        for (auto it = std::next(header); it != lines.end() && !sectionOf(*it); ++it) {
            if (const auto kv = keyOf(*it); kv && equalNoCase(kv->first, key)) {
                *it = entry;
                replaced = true;
                break;
            }
            if (!text::trimmed(*it).empty()) {
                insertAfter = it;
            }
        }
        if (!replaced) {
            lines.insert(std::next(insertAfter), entry);
        }
    }
    std::string out;
    for (const auto& l : lines) {
        out += l + "\r\n";
    }
    return out;
}

std::string ProfileFile::read(const std::string& section, const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto text = readLocalFile(path_);
    return text ? profileValue(*text, section, key).value_or("") : std::string();
}

bool ProfileFile::has(const std::string& section, const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto text = readLocalFile(path_);
    return text && profileValue(*text, section, key).has_value();
}

bool ProfileFile::write(const std::string& section, const std::string& key,
                        const std::string& value) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    const bool exists = std::filesystem::exists(path_, ec);
    const auto text = readLocalFile(path_);
    if (exists && !text) {
        return false;  // unreadable: rewriting it would lose every other setting
    }
    return text::writeFileAtomically(
        path_, text::toLocal(withProfileValue(text.value_or(""), section, key, value)), 0600);
}

}  // namespace veltrin::shell
