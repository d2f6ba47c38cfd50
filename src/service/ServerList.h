#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace veltrin::service {

// One row of the line lists; the field order is the column order.
struct ServerEntry final {
    std::string name;         // 0
    std::string runningText;  // 1
    std::string status;       // 2, as the service sent it
    std::string ip;           // 3, host dialled for PPTP and L2TP
    std::string speed;        // 4
    std::string remark;       // 5
    std::string sstpAddress;  // 6, host:4430 dialled for SSTP
    std::string mixMarker;    // 7, "1" province mix, "2" nationwide mix

    static constexpr int kColumnCount = 8;
    // Out-of-range columns read as empty.
    const std::string& column(int index) const;

    bool operator==(const ServerEntry&) const = default;
};

// A row that stands for a random server of a pool rather than for one server.
bool mixedDialRow(const ServerEntry& row);

inline constexpr std::array<std::string_view, ServerEntry::kColumnCount> kServerColumnTitles = {
    "动态城市名称", "运行状态",       "status",         "服务器地址",
    "宽带速度",     "IP数量估值备注", "服务器地址SSTP", "省内混拨标记"};
// The hidden pool list names two columns differently.
inline constexpr std::array<std::string_view, ServerEntry::kColumnCount> kPoolColumnTitles = {
    "动态城市名称表3", "运行状态",       "status",         "服务器地址",
    "宽带速度",        "IP数量估值评级", "服务器地址SSTP", "省内混拨标记"};

inline constexpr std::string_view kRunningText = "正常运行";
inline constexpr std::string_view kMaintenanceText = "维护中";
inline constexpr std::string_view kDefaultSpeed = "高速动态";
inline constexpr std::string_view kSstpPortSuffix = ":4430";

// Files under the settings directory (vlset).
inline constexpr std::string_view kFallbackListFile = "netkarplist.ini";
inline constexpr std::string_view kSpeedListFile = "nkspeed.ini";

inline constexpr int kServerListTimeoutSeconds = 3;
inline constexpr int kSpeedListTimeoutSeconds = 2;

// The province key of a name: its first six code page 936 bytes. `bytes` is what groups compare,
// byte for byte. When the sixth byte is the first half of a two-byte character, `display` leaves
// that half out, so the mix row's name stays valid text.
struct GroupKey final {
    std::string bytes;    // code page 936
    std::string display;  // UTF-8, whole characters only
    bool operator==(const GroupKey&) const = default;
};
GroupKey groupKey(std::string_view name);

ServerEntry serverRow(std::string_view name, std::string_view status, std::string_view ip,
                      std::string_view address);
ServerEntry provinceMixRow(std::string_view key, int count);
ServerEntry nationwideMixRow();

// Speed and remark by line name, built once per load from the speed list text. The first line
// naming a server wins, as a top-down scan would give.
class SpeedTable final {
public:
    struct Speed final {
        std::string speed;
        std::string remark;
    };

    SpeedTable() = default;
    explicit SpeedTable(std::string_view speedListText);

    const Speed* find(const std::string& name) const;
    bool empty() const { return byName_.empty(); }

private:
    std::unordered_map<std::string, Speed> byName_;
};

// Turns a server-list answer (UTF-8 already limited to code page 936) into the rows of the full
// list. `speedList` is asked at most once, when the first server row is made; `progress` hears the
// row count after every piece of the answer.
std::vector<ServerEntry> buildServerRows(
    std::string_view answer, const std::function<std::string()>& speedList,
    const std::function<void(std::size_t rowCount)>& progress = {});

// Status texts of the load.
std::string loadProgressText(std::size_t rowCount);
std::string loadFinishedText(std::size_t rowCount);

struct InfoMessage final {
    std::string title;
    std::string text;
    bool operator==(const InfoMessage&) const = default;
};

inline constexpr std::string_view kDefaultMessageTitle = "友情提醒";
inline constexpr std::string_view kListLoadFailedText =
    "列表加载失败，请您确认本地能正常上网的状态下，例如打开浏览器百度一下，正常上网的，请点击["
    "刷新列表]重新加载列表再使用！\r\n有问题的请联系软件上的客服索要最新的服务器地址netkarplist."
    "ini文件并且放到本软件同目录vlset目录下！";

struct ServerListSources final {
    std::string serverListUrl;
    std::string speedListUrl;
    std::filesystem::path settingsDirectory;  // where the fallback and speed files lie
};

// The endpoints the client uses now: the server list from the remote parameters, else the
// built-in one, which is then stored in the remote parameters for later readers.
ServerListSources currentServerListSources(const std::filesystem::path& settingsDirectory);

// The speed list: its endpoint, else the speed file; empty when neither has text.
std::string fetchSpeedList(const ServerListSources& sources);

// The server-list text: the service's answer, else the fallback file; empty when neither is
// usable.
std::string fetchServerListText(const ServerListSources& sources);

// A whole file as local text; empty when it cannot be read.
std::string readLocalTextFile(const std::filesystem::path& file);

}  // namespace veltrin::service
