#pragma once
// Helpers shared by the tests of the client's service code against a running lab.

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "engine/DialEngine.h"
#include "engine/EntryName.h"
#include "engine/LabDialFacility.h"
#include "service/Fetch.h"
#include "service/RemoteParameters.h"
#include "service/TextTools.h"
#include "support/LabProcess.h"
#include "workflows/MemoryView.h"
#include "workflows/StatusChannel.h"

namespace veltrin::service_lab {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::LabProcess;

inline constexpr const char* kUser = "alice";
inline constexpr const char* kPassword = "s3cret";

inline json line(const std::string& name, json extra = json::object()) {
    json l = {{"name", name},
              {"accounts", json::array({{{"user", kUser}, {"password", kPassword}}})},
              {"pool", json::array({"58.34.10.1", "58.34.10.2"})}};
    l.update(extra);
    return l;
}

inline json baseConfig(json extra = json::object()) {
    json c = {{"lines", json::array({line("上海电信1")})}};
    c.update(extra);
    return c;
}

inline std::string labUrl(const LabProcess& lab, const std::string& path) {
    return lab.webUrl() + path;
}

inline service::RemoteParameters labParameters(const LabProcess& lab) {
    const std::string text =
        service::localBodyToText(service::fetchText(labUrl(lab, "/client/params.txt"), 5));
    return service::parseRemoteText(text).parameters;
}

// A tunnel up at the lab, dialled by the engine over the lab facility.
class Tunnel final {
public:
    Tunnel(LabProcess& lab, const std::string& lineName)
        : dir_(fs::temp_directory_path() /
               ("veltrin-service-lab-" + std::to_string(::getpid()) + "-" +
                std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
        fs::create_directories(dir_);
        facility_ = std::make_shared<engine::LabDialFacility>(
            engine::LabFacilityOptions{dir_, std::chrono::seconds(10)});
        engine_ = std::make_unique<engine::DialEngine>(facility_, dir_ / "pptp.pbk");
        entry_ = engine::makeEntryName();
        engine_->provisionEntry(entry_, kUser, kPassword, lab.address(lineName), engine::kPptp);
        engine_->dialEntry(entry_, kUser, kPassword, &view_, workflows::kStatusLine);
        view_.waitForText(
            workflows::kStatusLine, [](const std::string& t) { return t == "连接成功"; },
            std::chrono::seconds(20));
    }
    ~Tunnel() {
        engine_->hangUp();
        engine_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    bool up() { return view_.text(workflows::kStatusLine) == "连接成功"; }

private:
    fs::path dir_;
    std::shared_ptr<engine::LabDialFacility> facility_;
    std::unique_ptr<engine::DialEngine> engine_;
    workflows::MemoryView view_;
    std::string entry_;
};

}  // namespace veltrin::service_lab
