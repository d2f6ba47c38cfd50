#include "service/ServerListModel.h"

#include <random>

#include "service/TextTools.h"
#include "text/LocalText.h"

namespace veltrin::service {
namespace {

std::size_t uniformIndex(std::size_t count) {
    thread_local std::mt19937 engine{std::random_device{}()};
    return std::uniform_int_distribution<std::size_t>(0, count - 1)(engine);
}

ServerEntry poolRow(const ServerEntry& row) {
    ServerEntry copy;
    copy.name = row.name;
    copy.status = row.status;
    copy.ip = row.ip;
    copy.sstpAddress = row.sstpAddress;
    return copy;
}

const std::string& addressOf(const ServerEntry& row, bool sstp) {
    return sstp ? row.sstpAddress : row.ip;
}

// Re-enables the refresh button however the load ends.
class RefreshGuard final {
public:
    explicit RefreshGuard(ServerListSink& sink) : sink_(sink) { sink_.setRefreshEnabled(false); }
    ~RefreshGuard() { sink_.setRefreshEnabled(true); }
    RefreshGuard(const RefreshGuard&) = delete;
    RefreshGuard& operator=(const RefreshGuard&) = delete;

private:
    ServerListSink& sink_;
};

}  // namespace

std::string chosenLineText(std::string_view lineName) {
    return "您已选中【" + std::string(lineName) + "】，请点击[启动连接]，连接成功即可换IP";
}

bool doubleClickConnects(bool connectButtonEnabled) {
    return connectButtonEnabled;
}

ServerListModel::ServerListModel(RandomIndex random)
    : random_(random ? std::move(random) : RandomIndex(uniformIndex)) {}

void ServerListModel::load(const ServerListSources& sources, ServerListSink& sink) {
    RefreshGuard refresh(sink);
    setFullList({});
    sink.listChanged(ServerListId::full);

    const std::string list = fetchServerListText(sources);
    if (list.empty()) {
        sink.showMessage(
            InfoMessage{std::string(kDefaultMessageTitle), std::string(kListLoadFailedText)});
    }
    std::vector<ServerEntry> rows = buildServerRows(
        list, [&] { return fetchSpeedList(sources); },
        [&](std::size_t count) { sink.setStatusLine(loadProgressText(count)); });
    const std::size_t count = rows.size();
    setFullList(std::move(rows));
    sink.listChanged(ServerListId::full);
    if (count > 0) {
        sink.setStatusLine(loadFinishedText(count));
    }
}

void ServerListModel::setFullList(std::vector<ServerEntry> rows) {
    std::lock_guard lock(mutex_);
    full_ = std::move(rows);
}

void ServerListModel::search(std::string_view searchText) {
    std::lock_guard lock(mutex_);
    if (searchText.empty()) {
        searchActive_ = false;
        return;
    }
    searchActive_ = true;
    search_.clear();
    const std::string_view wanted = text::trimmed(searchText);
    for (const ServerEntry& row : full_) {
        if (row.name.find(wanted) != std::string::npos) {
            search_.push_back(row);
        }
    }
}

bool ServerListModel::searchActive() const {
    std::lock_guard lock(mutex_);
    return searchActive_;
}

std::string ServerListModel::mixGroupKey() const {
    std::lock_guard lock(mutex_);
    return mixGroupKey_;
}

std::optional<ServerChoice> ServerListModel::choose(std::size_t index, bool sstp) {
    std::lock_guard lock(mutex_);
    const std::vector<ServerEntry>& visible = searchActive_ ? search_ : full_;
    if (index >= visible.size()) {
        return std::nullopt;
    }
    const ServerEntry chosen = visible[index];

    ServerChoice choice;
    choice.lineName = chosen.name;
    if (chosen.mixMarker == "1") {
        mixGroupKey_ = textBetween(choice.lineName, "[", "]");
        choice.mixGroupKey = mixGroupKey_;
        const std::string_view key = text::trimmed(mixGroupKey_);
        fillPool([&](const ServerEntry& row) {
            return row.name.find(key) != std::string::npos && row.runningText != kMaintenanceText &&
                   row.mixMarker.empty();
        });
    } else if (chosen.mixMarker == "2") {
        fillPool([](const ServerEntry& row) {
            return row.name.find("超级") == std::string::npos &&
                   row.runningText != kMaintenanceText && row.mixMarker.empty();
        });
    }

    if (chosen.mixMarker == "1" || chosen.mixMarker == "2") {
        PoolDraw draw = drawLocked(sstp);
        choice.selectedRow = draw.selectedRow;
        choice.serverAddress = std::move(draw.serverAddress);
    } else {
        choice.serverAddress = addressOf(chosen, sstp);
        if (text::trimmed(chosen.status) == "0") {
            choice.maintenanceNotice = InfoMessage{std::string(kMaintenanceNoticeTitle),
                                                   std::string(kMaintenanceNoticeText)};
        }
    }
    choice.statusLine = chosenLineText(choice.lineName);
    return choice;
}

PoolDraw ServerListModel::drawFromPool(bool sstp) const {
    std::lock_guard lock(mutex_);
    return drawLocked(sstp);
}

PoolDraw ServerListModel::drawLocked(bool sstp) const {
    // An empty pool has no row to draw: row 0 and no address, never an index out of range.
    if (pool_.empty()) {
        return PoolDraw{};
    }
    const std::size_t drawn = random_(pool_.size()) % pool_.size();
    return PoolDraw{static_cast<int>(drawn), addressOf(pool_[drawn], sstp)};
}

void ServerListModel::fillPool(const std::function<bool(const ServerEntry&)>& wanted) {
    pool_.clear();
    for (const ServerEntry& row : full_) {
        if (wanted(row)) {
            pool_.push_back(poolRow(row));
        }
    }
}

void ServerListModel::setPool(std::vector<ServerEntry> rows) {
    std::lock_guard lock(mutex_);
    pool_ = std::move(rows);
}

std::vector<ServerEntry> ServerListModel::rows(ServerListId list) const {
    std::lock_guard lock(mutex_);
    return listOf(list);
}

std::size_t ServerListModel::rowCount(ServerListId list) const {
    std::lock_guard lock(mutex_);
    return listOf(list).size();
}

const std::vector<ServerEntry>& ServerListModel::listOf(ServerListId list) const {
    switch (list) {
        case ServerListId::search:
            return search_;
        case ServerListId::pool:
            return pool_;
        case ServerListId::full:
            break;
    }
    return full_;
}

}  // namespace veltrin::service
