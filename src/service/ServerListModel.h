#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/ServerList.h"

namespace veltrin::service {

enum class ServerListId {
    full = 1,    // the visible list
    search = 2,  // the search result, shown over the full list while searching
    pool = 3,    // hidden: the servers behind the chosen mix row
};

// What the list window does for a load. Called on the loading thread.
class ServerListSink {
public:
    virtual ~ServerListSink() = default;
    virtual void setRefreshEnabled(bool enabled) = 0;
    virtual void setStatusLine(const std::string& text) = 0;
    // An information box; returns when the user has closed it.
    virtual void showMessage(const InfoMessage& message) = 0;
    // The rows of the list changed; read them from the model.
    virtual void listChanged(ServerListId list) = 0;
};

inline constexpr std::string_view kMaintenanceNoticeTitle = "请换城市";
inline constexpr std::string_view kMaintenanceNoticeText =
    "此城市 维护中 ，有99.8%可能连接不上，请先换用其它城市再使用，谢谢谅解！";

// The outcome of choosing a row, for the caller to store in the connection state.
struct ServerChoice final {
    std::string lineName;
    std::string serverAddress;
    std::optional<int> selectedRow;                // mix rows: the drawn index into the pool list
    std::optional<std::string> mixGroupKey;        // province mix rows
    std::optional<InfoMessage> maintenanceNotice;  // shown before the status line is set
    std::string statusLine;
    bool operator==(const ServerChoice&) const = default;
};

struct PoolDraw final {
    int selectedRow = 0;
    std::string serverAddress;  // empty when the pool is empty
    bool operator==(const PoolDraw&) const = default;
};

std::string chosenLineText(std::string_view lineName);

// A double click on a line connects only while the connect button is enabled.
bool doubleClickConnects(bool connectButtonEnabled);

// The three line lists and the values the search and choice keep. Thread-safe: the loader runs on
// a worker while the window searches and chooses.
class ServerListModel final {
public:
    // Uniform in [0, count); count is never 0.
    using RandomIndex = std::function<std::size_t(std::size_t count)>;

    explicit ServerListModel(RandomIndex random = {});

    // The whole load: answer or fallback file, rows, speeds, status texts.
    void load(const ServerListSources& sources, ServerListSink& sink);
    void setFullList(std::vector<ServerEntry> rows);

    // Fills the search list from the full list; an empty text ends the search.
    void search(std::string_view text);
    bool searchActive() const;
    std::string mixGroupKey() const;

    // A row of the visible list was chosen; nullopt when there is no such row.
    std::optional<ServerChoice> choose(std::size_t row, bool sstp);
    // A fresh random server of the pool list, as the connect command draws again.
    PoolDraw drawFromPool(bool sstp) const;

    // Replaces the pool list (list cycling refills it for the mix row it reaches).
    void setPool(std::vector<ServerEntry> rows);

    std::vector<ServerEntry> rows(ServerListId list) const;
    std::size_t rowCount(ServerListId list) const;

private:
    const std::vector<ServerEntry>& listOf(ServerListId list) const;
    void fillPool(const std::function<bool(const ServerEntry&)>& wanted);
    PoolDraw drawLocked(bool sstp) const;

    RandomIndex random_;
    mutable std::mutex mutex_;
    std::vector<ServerEntry> full_;
    std::vector<ServerEntry> search_;
    std::vector<ServerEntry> pool_;
    bool searchActive_ = false;
    std::string mixGroupKey_;
};

}  // namespace veltrin::service
