#include "service/ServerList.h"

#include <fstream>
#include <iterator>
#include <optional>

#include "service/Endpoints.h"
#include "service/Fetch.h"
#include "service/RemoteParameters.h"
#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

constexpr std::size_t kGroupKeyBytes = 6;

const std::string kEmpty;

bool underMaintenance(std::string_view status) {
    return text::trimmed(status) == "0";
}

// Byte length of the first `count` UTF-8 characters (or of the whole text).
std::size_t utf8PrefixLength(std::string_view s, std::size_t count) {
    std::size_t at = 0;
    while (at < s.size() && count > 0) {
        ++at;
        while (at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80) {
            ++at;
        }
        --count;
    }
    return at;
}

}  // namespace

const std::string& ServerEntry::column(int index) const {
    switch (index) {
        case 0:
            return name;
        case 1:
            return runningText;
        case 2:
            return status;
        case 3:
            return ip;
        case 4:
            return speed;
        case 5:
            return remark;
        case 6:
            return sstpAddress;
        case 7:
            return mixMarker;
        default:
            return kEmpty;
    }
}

bool mixedDialRow(const ServerEntry& row) {
    return row.mixMarker == "1" || row.mixMarker == "2";
}

GroupKey groupKey(std::string_view name) {
    // Every character takes at least one byte, so six characters cover six bytes.
    std::string local = text::toLocal(name.substr(0, utf8PrefixLength(name, kGroupKeyBytes)));
    if (local.size() > kGroupKeyBytes) {
        local.resize(kGroupKeyBytes);
    }
    std::size_t whole = 0;
    while (whole < local.size()) {
        const auto b = static_cast<unsigned char>(local[whole]);
        const std::size_t width = (b >= 0x81 && b <= 0xFE) ? 2 : 1;
        if (whole + width > local.size()) {
            break;
        }
        whole += width;
    }
    std::string display = text::fromLocal(std::string_view(local).substr(0, whole));
    return GroupKey{std::move(local), std::move(display)};
}

ServerEntry serverRow(std::string_view name, std::string_view status, std::string_view ip,
                      std::string_view address) {
    ServerEntry row;
    row.name = name;
    row.runningText = underMaintenance(status) ? kMaintenanceText : kRunningText;
    row.status = status;
    row.ip = ip;
    row.speed = kDefaultSpeed;
    row.sstpAddress = std::string(address) + std::string(kSstpPortSuffix);
    return row;
}

ServerEntry provinceMixRow(std::string_view key, int count) {
    const std::string n = std::to_string(count);
    ServerEntry row;
    row.name = "[" + std::string(key) + "]" + n + "市混拨";
    row.runningText = kRunningText;
    row.speed = "10兆到50兆";
    row.remark = "综合" + n + "个城市IP";
    row.mixMarker = "1";
    return row;
}

ServerEntry nationwideMixRow() {
    ServerEntry row;
    row.name = "[全国]列表混拨";
    row.runningText = kRunningText;
    row.speed = "10兆到50兆";
    row.remark = "180多个市随机";
    row.mixMarker = "2";
    return row;
}

SpeedTable::SpeedTable(std::string_view speedListText) {
    std::size_t lines = 1;
    for (auto at = speedListText.find("\r\n"); at != std::string_view::npos;
         at = speedListText.find("\r\n", at + 2)) {
        ++lines;
    }
    byName_.reserve(lines);
    std::size_t at = 0;
    while (at <= speedListText.size()) {
        auto end = speedListText.find("\r\n", at);
        if (end == std::string_view::npos) {
            end = speedListText.size();
        }
        const std::string_view line = text::trimmed(speedListText.substr(at, end - at));
        at = end + 2;
        if (line.empty()) {
            continue;
        }
        // emplace keeps the earlier line of a name, as the first match of a scan would.
        byName_.try_emplace(textBetween(line, "【", "】"),
                            Speed{textBetween(line, "[", "]"), textBetween(line, "(", ")")});
    }
}

const SpeedTable::Speed* SpeedTable::find(const std::string& name) const {
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : &found->second;
}

std::vector<ServerEntry> buildServerRows(
    std::string_view answer, const std::function<std::string()>& speedList,
    const std::function<void(std::size_t rowCount)>& progress) {
    std::vector<ServerEntry> rows;
    {
        // At most one mix row per two servers, plus the nationwide row: no regrowth on big lists.
        std::size_t pieces = 1;
        for (auto at = answer.find("},"); at != std::string_view::npos;
             at = answer.find("},", at + 2)) {
            ++pieces;
        }
        rows.reserve(pieces + pieces / 2 + 1);
    }
    std::optional<SpeedTable> speeds;  // made at the first server row, at most once
    std::string previousKey;           // bytes
    std::string previousDisplay;
    int count = 0;

    std::size_t at = 0;
    while (at <= answer.size()) {
        auto end = answer.find("},", at);
        if (end == std::string_view::npos) {
            end = answer.size();
        }
        const std::string_view piece = text::trimmed(answer.substr(at, end - at));
        at = end + 2;

        if (!piece.empty()) {
            const std::string name = textBetween(piece, "{\"name\":\"", "\"");
            const std::string status = textBetween(piece, "\"status\":\"", "\"");
            GroupKey key = groupKey(name);
            const bool running = !underMaintenance(status);

            if (key.bytes == previousKey) {
                count += running ? 1 : 0;
            } else {
                if (!previousKey.empty() && count >= 2) {
                    rows.push_back(provinceMixRow(previousDisplay, count));
                }
                count = running ? 1 : 0;
            }
            if (rows.empty()) {
                rows.push_back(nationwideMixRow());
            }
            previousKey = std::move(key.bytes);
            previousDisplay = std::move(key.display);

            if (!name.empty()) {
                ServerEntry row = serverRow(name, status, textBetween(piece, "\"ip\":\"", "\""),
                                            textBetween(piece, "\"address\":\"", "\""));
                if (!speeds) {
                    speeds.emplace(speedList ? speedList() : std::string());
                }
                if (const SpeedTable::Speed* speed = speeds->find(row.name)) {
                    row.speed = speed->speed;
                    row.remark = speed->remark;
                }
                rows.push_back(std::move(row));
            }
        }
        if (progress) {
            progress(rows.size());
        }
    }
    return rows;
}

std::string loadProgressText(std::size_t rowCount) {
    return "稍等，列表加载中，正在加载第" + std::to_string(rowCount) + "个城市线路！";
}

std::string loadFinishedText(std::size_t rowCount) {
    return "列表加载完毕，共有" + std::to_string(rowCount) +
           "个城市线路可选用，请先填好用户名密码和选择线路再点击[启动连接]即可换IP！";
}

ServerListSources currentServerListSources(const std::filesystem::path& settingsDirectory) {
    std::string listUrl = loadRemoteParameters()->serverListUrl;
    if (listUrl.empty()) {
        listUrl = endpointAddress(Endpoint::serverList);
        // Only fill the gap: a record the start-up worker published meanwhile keeps its address.
        updateRemoteParameters([&](RemoteParameters& p) {
            if (p.serverListUrl.empty()) {
                p.serverListUrl = listUrl;
            }
        });
        listUrl = loadRemoteParameters()->serverListUrl;
    }
    return ServerListSources{std::move(listUrl), endpointAddress(Endpoint::speedList),
                             settingsDirectory};
}

std::string readLocalTextFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return {};
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    return localBodyToText(bytes);
}

std::string fetchSpeedList(const ServerListSources& sources) {
    std::string speeds = localBodyToText(fetchText(sources.speedListUrl, kSpeedListTimeoutSeconds));
    if (speeds.empty()) {
        speeds = readLocalTextFile(sources.settingsDirectory / kSpeedListFile);
    }
    return speeds;
}

std::string fetchServerListText(const ServerListSources& sources) {
    std::string list = utf8ToLocal(fetchText(sources.serverListUrl, kServerListTimeoutSeconds));
    if (list.empty() || list.find("name") == std::string::npos) {
        list = readLocalTextFile(sources.settingsDirectory / kFallbackListFile);
    }
    return list;
}

}  // namespace veltrin::service
