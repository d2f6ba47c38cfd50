#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "engine/DialFacility.h"

namespace veltrin::workflows {

// A text that one thread may replace while others read it: readers get a whole copy, never a
// half-replaced or released text.
class SharedText final {
public:
    SharedText() = default;
    explicit SharedText(std::string initial) : value_(std::move(initial)) {}

    std::string get() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void set(std::string value) {
        std::lock_guard lock(mutex_);
        value_.swap(value);
    }

private:
    mutable std::mutex mutex_;
    std::string value_;
};

// The main window's workflows share this one record. The connection handle that hang-up acts on
// is kept by the dial engine (both windows share it); rasConnection() reads it there.
struct ConnectionState final {
    std::atomic<int> stopRequested{0};
    std::atomic<int> accountVerified{0};
    SharedText serverAddress;
    std::atomic<int> protocolCode{0};
    std::atomic<int> selectedRow{0};
    SharedText entryName;
    SharedText lineName;

    engine::ConnectionHandle rasConnection() const;
};

ConnectionState& connectionState();

}  // namespace veltrin::workflows
