#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Config.h"

namespace veltrin::lab {

// Every connection a line server accepted, in order, with how it ended. Ids are shared with the
// sessions the connections become.
class DialLog final {
public:
    // Outcome while the exchange is still running.
    static constexpr const char* kDialing = "dialing";

    std::uint64_t open(const std::string& line, Protocol protocol);
    void setUser(std::uint64_t id, const std::string& user);
    void setOutcome(std::uint64_t id, const std::string& outcome);
    // Sets the outcome only if the exchange has none yet.
    void settle(std::uint64_t id, const std::string& outcome);
    nlohmann::json toJson() const;

private:
    struct Record {
        std::string line;
        Protocol protocol;
        std::string user;
        std::string outcome;
    };
    Record* find(std::uint64_t id);

    mutable std::mutex mutex_;
    std::vector<Record> records_;  // id is index + 1
};

}  // namespace veltrin::lab
