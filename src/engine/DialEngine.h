#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/ControlWriter.h"
#include "engine/DialFacility.h"

namespace veltrin::engine {

// The text a dial stage shows in the status box, and what it does to the dial-in-progress flag.
enum class FlagEffect { kNone, kSet, kClear };
struct StageText {
    std::string text;
    FlagEffect flag = FlagEffect::kNone;
};
StageText stageText(int state);

// The dial-up engine: one per process, shared by both windows. It keeps the connection handle,
// the progress target and the dial-in-progress flag.
class DialEngine final {
public:
    DialEngine(std::shared_ptr<DialFacility> facility, std::filesystem::path phoneBook);
    ~DialEngine();
    DialEngine(const DialEngine&) = delete;
    DialEngine& operator=(const DialEngine&) = delete;

    void provisionEntry(const std::string& entryName, const std::string& userName,
                        const std::string& password, const std::string& serverAddress,
                        int protocolCode);

    // Starts a dial whose progress texts go to `control` of `window`; returns at once.
    void dialEntry(const std::string& entryName, const std::string& userName,
                   const std::string& password, ControlWriter* window, std::string_view control);

    // The facility's progress callback.
    void onDialProgress(unsigned message, int state, int error);

    // 1 when the entry is connected (and its handle becomes the current connection), else 0.
    int probeConnection(const std::string& entryName);
    void hangUp();
    void removeEntry(const std::string& entryName);

    int dialInProgress() const { return dialInProgress_.load(); }
    ConnectionHandle rasConnection() const { return rasConnection_.load(); }
    const std::filesystem::path& phoneBook() const { return phoneBook_; }
    DialFacility& facility() { return *facility_; }

private:
    struct Target {
        ControlWriter* window = nullptr;
        std::string control;
    };

    void report(const std::string& text);

    std::shared_ptr<DialFacility> facility_;
    std::filesystem::path phoneBook_;
    std::atomic<std::shared_ptr<const Target>> progressTarget_;
    std::atomic<int> dialInProgress_{0};
    std::atomic<ConnectionHandle> rasConnection_{0};
    // An entry provisionEntry refused, with the reason its dial reports.
    std::mutex refusedMutex_;
    std::string refusedEntry_;
    std::string refusedReason_;
};

// The process's engine; the application installs it at start.
void installDialEngine(std::shared_ptr<DialEngine> engine);
DialEngine& dialEngine();

}  // namespace veltrin::engine
