#include "engine/LabPhoneBook.h"

#include "text/Files.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace veltrin::engine::lab {
namespace {

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case ']':
                out += "\\x5d";
                break;
            case '=':
                out += "\\x3d";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string unescape(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const char n = s[++i];
        if (n == 'n') {
            out += '\n';
        } else if (n == 'r') {
            out += '\r';
        } else if (n == 'x' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(std::string(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += n;
        }
    }
    return out;
}

std::string hex(std::uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}

}  // namespace

Section* PhoneBookFile::find(const std::string& name) {
    auto it = std::find_if(sections.begin(), sections.end(),
                           [&](const Section& s) { return s.name == name; });
    return it == sections.end() ? nullptr : &*it;
}

const Section* PhoneBookFile::find(const std::string& name) const {
    return const_cast<PhoneBookFile*>(this)->find(name);
}

void PhoneBookFile::put(const std::string& name, Fields fields) {
    if (Section* s = find(name)) {
        s->fields = std::move(fields);
    } else {
        sections.push_back({name, std::move(fields)});
    }
}

bool PhoneBookFile::erase(const std::string& name) {
    const auto before = sections.size();
    std::erase_if(sections, [&](const Section& s) { return s.name == name; });
    return sections.size() != before;
}

std::string serialise(const PhoneBookFile& book) {
    std::string out;
    for (const auto& s : book.sections) {
        out += "[" + escape(s.name) + "]\n";
        for (const auto& [k, v] : s.fields) {
            out += k + "=" + escape(v) + "\n";
        }
        out += "\n";
    }
    return out;
}

PhoneBookFile parsePhoneBook(const std::string& text) {
    PhoneBookFile book;
    std::istringstream in(text);
    std::string line;
    Section* current = nullptr;
    while (std::getline(in, line)) {
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            book.sections.push_back(
                {unescape(std::string_view(line).substr(1, line.size() - 2)), {}});
            current = &book.sections.back();
            continue;
        }
        const auto eq = line.find('=');
        if (current == nullptr || eq == std::string::npos) {
            continue;
        }
        current->fields.emplace_back(line.substr(0, eq),
                                     unescape(std::string_view(line).substr(eq + 1)));
    }
    return book;
}

std::optional<PhoneBookFile> loadPhoneBook(const std::filesystem::path& path) {
    const auto bytes = text::readWholeFile(path);
    if (!bytes) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec) && !ec) {
            return PhoneBookFile{};
        }
        return std::nullopt;
    }
    return parsePhoneBook(*bytes);
}

bool savePhoneBook(const std::filesystem::path& path, const PhoneBookFile& book) {
    return text::writeFileAtomically(path, serialise(book), 0600);
}

Fields entryFields(const VpnEntry& e) {
    auto d = [](std::uint32_t v) { return std::to_string(v); };
    return {
        {"dwSize", d(e.dwSize)},
        {"dwfOptions", hex(e.dwfOptions)},
        {"dwCountryID", d(e.dwCountryID)},
        {"dwCountryCode", d(e.dwCountryCode)},
        {"szAreaCode", e.szAreaCode},
        {"szLocalPhoneNumber", e.szLocalPhoneNumber},
        {"dwAlternateOffset", d(e.dwAlternateOffset)},
        {"ipaddr", e.ipaddr},
        {"ipaddrDns", e.ipaddrDns},
        {"ipaddrDnsAlt", e.ipaddrDnsAlt},
        {"ipaddrWins", e.ipaddrWins},
        {"ipaddrWinsAlt", e.ipaddrWinsAlt},
        {"dwFrameSize", d(e.dwFrameSize)},
        {"dwfNetProtocols", d(e.dwfNetProtocols)},
        {"dwFramingProtocol", d(e.dwFramingProtocol)},
        {"szScript", e.szScript},
        {"szAutodialDll", e.szAutodialDll},
        {"szAutodialFunc", e.szAutodialFunc},
        {"szDeviceType", e.szDeviceType},
        {"szDeviceName", e.szDeviceName},
        {"szX25PadType", e.szX25PadType},
        {"szX25Address", e.szX25Address},
        {"szX25Facilities", e.szX25Facilities},
        {"szX25UserData", e.szX25UserData},
        {"dwChannels", d(e.dwChannels)},
        {"dwReserved1", d(e.dwReserved1)},
        {"dwReserved2", d(e.dwReserved2)},
        {"dwSubEntries", d(e.dwSubEntries)},
        {"dwDialMode", d(e.dwDialMode)},
        {"dwDialExtraPercent", d(e.dwDialExtraPercent)},
        {"dwDialExtraSampleSeconds", d(e.dwDialExtraSampleSeconds)},
        {"dwHangUpExtraPercent", d(e.dwHangUpExtraPercent)},
        {"dwHangUpExtraSampleSeconds", d(e.dwHangUpExtraSampleSeconds)},
        {"dwIdleDisconnectSeconds", d(e.dwIdleDisconnectSeconds)},
        {"dwType", d(e.dwType)},
        {"dwEncryptionType", d(e.dwEncryptionType)},
        {"dwCustomAuthKey", d(e.dwCustomAuthKey)},
        {"guidId", e.guidId},
        {"szCustomDialDll", e.szCustomDialDll},
        {"dwVpnStrategy", d(e.dwVpnStrategy)},
        {"dwfOptions2", hex(e.dwfOptions2)},
        {"dwfOptions3", hex(e.dwfOptions3)},
        {"szDnsSuffix", e.szDnsSuffix},
        {"dwTcpWindowSize", d(e.dwTcpWindowSize)},
        {"szPrerequisitePbk", e.szPrerequisitePbk},
        {"szPrerequisiteEntry", e.szPrerequisiteEntry},
        {"dwRedialCount", d(e.dwRedialCount)},
        {"dwRedialPause", d(e.dwRedialPause)},
        {"PreSharedKey", ""},
    };
}

Fields credentialFields(const Credentials& c) {
    return {
        {"dwSize", std::to_string(c.dwSize)},
        {"dwMask", hex(c.dwMask)},
        {"szUserName", c.szUserName},
        {"szPassword", c.szPassword},
        {"szDomain", c.szDomain},
    };
}

std::optional<std::string> field(const Fields& fields, const std::string& key) {
    for (const auto& [k, v] : fields) {
        if (k == key) {
            return v;
        }
    }
    return std::nullopt;
}

std::filesystem::path credentialsPath(const std::filesystem::path& phoneBook) {
    auto p = phoneBook;
    p += ".credentials";
    return p;
}

}  // namespace veltrin::engine::lab
