#include "DialLog.h"

namespace veltrin::lab {

std::uint64_t DialLog::open(const std::string& line, Protocol protocol) {
    std::lock_guard lock(mutex_);
    records_.push_back({line, protocol, {}, kDialing});
    return records_.size();
}

DialLog::Record* DialLog::find(std::uint64_t id) {
    return id == 0 || id > records_.size() ? nullptr : &records_[id - 1];
}

void DialLog::setUser(std::uint64_t id, const std::string& user) {
    std::lock_guard lock(mutex_);
    if (Record* r = find(id)) {
        r->user = user;
    }
}

void DialLog::setOutcome(std::uint64_t id, const std::string& outcome) {
    std::lock_guard lock(mutex_);
    if (Record* r = find(id)) {
        r->outcome = outcome;
    }
}

void DialLog::settle(std::uint64_t id, const std::string& outcome) {
    std::lock_guard lock(mutex_);
    if (Record* r = find(id); r != nullptr && r->outcome == kDialing) {
        r->outcome = outcome;
    }
}

nlohmann::json DialLog::toJson() const {
    std::lock_guard lock(mutex_);
    nlohmann::json list = nlohmann::json::array();
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const Record& r = records_[i];
        list.push_back({{"id", i + 1},
                        {"line", r.line},
                        {"protocol", protocolName(r.protocol)},
                        {"user", r.user},
                        {"outcome", r.outcome}});
    }
    return list;
}

}  // namespace veltrin::lab
