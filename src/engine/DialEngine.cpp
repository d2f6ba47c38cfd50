#include "engine/DialEngine.h"

#include <future>
#include <thread>

#include "engine/Entry.h"

namespace veltrin::engine {

StageText stageText(int state) {
    using F = FlagEffect;
    switch (state) {
        case 0:
            return {"正在打开端口", F::kSet};
        case 1:
            return {"端口打开", F::kSet};
        case 2:
            return {"正在连接设备【5秒以上还显示这个的，请断开，换其它城市再连接使用！】", F::kSet};
        case 3:
            return {"DeviceConnected"};
        case 4:
            return {"所有设备已连接上"};
        case 5:
            return {"开始认证", F::kSet};
        case 6:
            return {
                "验证中，5秒以上还显示这个的，请断开，换用协议L2TP再连接使用！如果已用L2TP请换城市"
                "再连接！",
                F::kSet};
        case 7:
            return {"认证测试"};
        case 8:
            return {"CallbackRequested"};
        case 9:
            return {"ChangePasswordRequested"};
        case 10:
            return {"ProjectionPhaseStarted"};
        case 11:
            return {"LinkSpeedCalculation"};
        case 12:
            return {"认证通过"};
        case 13:
            return {"ReauthenticationStarted"};
        case 14:
            return {"Authenticated"};
        case 15:
            return {"PreparationForCallback"};
        case 16:
            return {"WaitingForModemReset"};
        case 17:
            return {"WaitingForCallback"};
        case 18:
            return {"Projected"};
        case 19:
            return {"StartAuthentication"};
        case 20:
            return {"CallbackComplete"};
        case 21:
            return {"正在登录网络"};
        case 0x1000:
            return {"Interactive"};
        case 0x1001:
            return {"RetryAuthentication"};
        case 0x1002:
            return {"CallbackSetByCaller"};
        case 0x1003:
            return {"PasswordExpired"};
        case 0x2000:
            return {"连接成功", F::kClear};
        case 0x2001:
            return {"断开连接"};
        default:
            return {std::to_string(state)};
    }
}

namespace {

// Runs one step of the system tool on a thread of its own and waits for it at most a second, as
// one waits for a started program to be ready for input.
void runBounded(std::function<void()> step) {
    auto done = std::make_shared<std::promise<void>>();
    auto ready = done->get_future();
    std::thread([step = std::move(step), done] {
        step();
        done->set_value();
    }).detach();
    ready.wait_for(std::chrono::milliseconds{1000});
}

constexpr std::size_t kErrorBufferBytes = 100;

}  // namespace

DialEngine::DialEngine(std::shared_ptr<DialFacility> facility, std::filesystem::path phoneBook)
    : facility_(std::move(facility)), phoneBook_(std::move(phoneBook)) {}

DialEngine::~DialEngine() {
    facility_->shutdown();
}

void DialEngine::provisionEntry(const std::string& entryName, const std::string& userName,
                                const std::string& password, const std::string& serverAddress,
                                int protocolCode) {
    {
        std::lock_guard lock(refusedMutex_);
        if (auto reason = oversizeReason(entryName, userName, password, serverAddress)) {
            // Cutting a text to its field would dial another host or account; refuse, and let
            // the dial of this entry say why.
            refusedEntry_ = entryName;
            refusedReason_ = *reason;
            return;
        }
        if (refusedEntry_ == entryName) {
            refusedEntry_.clear();
        }
    }
    if (facility_->setEntryProperties(phoneBook_, entryName,
                                      makeVpnEntry(serverAddress, protocolCode)) != 0) {
        return;
    }
    facility_->setCredentials(phoneBook_, entryName, makeCredentials(userName, password));
}

void DialEngine::dialEntry(const std::string& entryName, const std::string& userName,
                           const std::string& password, ControlWriter* window,
                           std::string_view control) {
    progressTarget_.store(std::make_shared<const Target>(Target{window, std::string(control)}));
    const DialParams params = makeDialParams(entryName, userName, password);
    rasConnection_ = 0;
    {
        std::unique_lock lock(refusedMutex_);
        if (!refusedEntry_.empty() && refusedEntry_ == entryName) {
            const std::string reason = refusedReason_;
            lock.unlock();
            report(reason);
            return;
        }
    }
    ConnectionHandle handle = 0;
    const int result = facility_->dial(
        phoneBook_, params, [this](unsigned m, int s, int e) { onDialProgress(m, s, e); }, &handle);
    rasConnection_ = handle;
    if (result != 0) {
        facility_->hangUp(rasConnection_);
    }
}

void DialEngine::onDialProgress(unsigned message, int state, int error) {
    std::string text;
    if (error != 0) {
        text = facility_->errorString(error, kErrorBufferBytes)
                   .value_or(std::string(kErrorBufferBytes, ' '));
    } else {
        StageText stage = stageText(state);
        if (stage.flag == FlagEffect::kSet) {
            dialInProgress_ = 1;
        } else if (stage.flag == FlagEffect::kClear) {
            dialInProgress_ = 0;
        }
        text = std::move(stage.text);
    }
    report(text);
}

void DialEngine::report(const std::string& text) {
    const auto target = progressTarget_.load();
    if (target && target->window != nullptr) {
        target->window->setText(target->control, text);
    }
}

int DialEngine::probeConnection(const std::string& entryName) {
    const auto list = facility_->connections(10);
    if (!list) {
        return 0;
    }
    for (const auto& c : *list) {
        if (c.entryName == entryName) {
            if (dialInProgress_ == 1) {
                return 0;
            }
            rasConnection_ = c.handle;
            return 1;
        }
    }
    return 0;
}

void DialEngine::hangUp() {
    facility_->hangUp(rasConnection_);
}

void DialEngine::removeEntry(const std::string& entryName) {
    auto facility = facility_;
    runBounded([facility, entryName] { facility->hangUpEntry(entryName); });
    runBounded([facility, entryName] { facility->removeEntry(entryName); });
}

namespace {
std::shared_ptr<DialEngine>& installed() {
    static std::shared_ptr<DialEngine> engine;
    return engine;
}
}  // namespace

void installDialEngine(std::shared_ptr<DialEngine> engine) {
    installed() = std::move(engine);
}

DialEngine& dialEngine() {
    return *installed();
}

}  // namespace veltrin::engine
