#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/DialFacility.h"

namespace veltrin::engine::testing {

// A dial facility in memory: records every call and lets a test decide each answer, report
// progress by hand and make calls block.
class FakeDialFacility final : public DialFacility {
public:
    struct Written {
        std::string entryName;
        VpnEntry entry;
    };

    // Test controls.
    int entryResult = 0;
    int credentialsResult = 0;
    int dialResult = 0;
    bool listFails = false;
    std::vector<ActiveConnection> active;
    std::map<int, std::string> errorTexts;
    bool blockRemoval = false;  // hangUpEntry blocks until release()

    // What happened.
    std::vector<Written> entries;
    std::vector<std::pair<std::string, Credentials>> credentials;
    std::vector<DialParams> dials;
    std::vector<ConnectionHandle> hangUps;
    std::vector<std::string> calls;
    DialProgress lastProgress;
    ConnectionHandle nextHandle = 100;

    int setEntryProperties(const std::filesystem::path&, const std::string& name,
                           const VpnEntry& e) override {
        calls.push_back("entry " + name);
        if (entryResult == 0) {
            entries.push_back({name, e});
        }
        return entryResult;
    }
    int setCredentials(const std::filesystem::path&, const std::string& name,
                       const Credentials& c) override {
        calls.push_back("credentials " + name);
        credentials.emplace_back(name, c);
        return credentialsResult;
    }
    int dial(const std::filesystem::path&, const DialParams& p, DialProgress progress,
             ConnectionHandle* h) override {
        calls.push_back("dial " + p.szEntryName);
        dials.push_back(p);
        *h = nextHandle++;
        lastProgress = std::move(progress);
        return dialResult;
    }
    std::optional<std::string> errorString(int error, std::size_t bufferBytes) override {
        const auto it = errorTexts.find(error);
        if (it == errorTexts.end() || it->second.size() + 1 > bufferBytes) {
            return std::nullopt;
        }
        return it->second;
    }
    std::optional<std::vector<ActiveConnection>> connections(std::size_t capacity) override {
        if (listFails || active.size() > capacity) {
            return std::nullopt;
        }
        return active;
    }
    int hangUp(ConnectionHandle h) override {
        calls.push_back("hangup " + std::to_string(h));
        hangUps.push_back(h);
        return 0;
    }
    int hangUpEntry(const std::string& name) override {
        {
            std::lock_guard lock(mutex_);
            calls.push_back("rasphone -h " + name);
        }
        std::unique_lock lock(mutex_);
        released_.wait(lock, [&] { return !blockRemoval; });
        return 0;
    }
    int removeEntry(const std::string& name) override {
        std::lock_guard lock(mutex_);
        calls.push_back("rasphone -r " + name);
        return 0;
    }
    std::vector<std::string> defaultEntries() override { return {}; }
    void shutdown() override { release(); }

    void release() {
        {
            std::lock_guard lock(mutex_);
            blockRemoval = false;
        }
        released_.notify_all();
    }
    std::vector<std::string> callsSnapshot() {
        std::lock_guard lock(mutex_);
        return calls;
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
};

}  // namespace veltrin::engine::testing
