#include "shell/Settings.h"

#include "text/LocalText.h"
#include "workflows/CommonSteps.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"

namespace veltrin::shell {
namespace {

namespace c = workflows::control;

constexpr const char* kYes = "是";
constexpr const char* kNo = "否";

// Sections "6" to "17" in their reading and writing order; "7" and "10" are texts.
struct Option {
    const char* section;
    const char* key;
    std::string_view control;
    bool isText;
};
constexpr Option kMiddleOptions[] = {
    {"6", "定时连断", c::选择框_定时连断, false},
    {"7", "定时设置", c::编辑框_连断时间秒, true},
    {"8", "监控音效", c::选择框_掉线音效, false},
    {"9", "是否断网", c::选择框_是否断网, false},
    {"10", "监控频率", c::编辑框_监控时间秒, true},
    {"11", "记录每次换ip", c::选择框_记录每次连接ip, false},
    {"12", "启用服务器列表", c::选择框_服务器列表拨号, false},
    {"14", "掉线重拨", c::选择框_掉线重拨, false},
    {"15", "过滤重复ip", c::选择框_启动过滤重复ip, false},
    {"16", "IE缓存和cookie", c::选择框_IE缓存和cookie, false},
    {"17", "系统托盘", c::选择框_连接成功系统托盘, false},
};

bool isMixRow(workflows::View& view) {
    const auto list = workflows::visibleServerList(view);
    const int row = view.selectedRow(list);
    return row >= 0 && workflows::isMixMarker(view.cell(list, row, 7));
}

}  // namespace

void loadSettings(const ProfileFile& file, workflows::View& view, workflows::ConnectionState& state,
                  const std::function<void()>& openTermsGate) {
    if (file.read("1", settings_key::kMarker) != kYes) {
        openTermsGate();
        return;
    }
    state.serverAddress.set(file.read("2", "服务器地址"));
    state.lineName.set(file.read("21", "服务器地址城市"));
    view.setText(c::编辑框_用户名, file.read("3", "用户名"));
    view.setText(c::编辑框_密码, file.read("4", "密码"));

    const auto protocol = file.read("5", "协议PPTPL2TP");
    view.setTicked(c::单选框_PPTP, protocol == "PPTP");
    view.setTicked(c::单选框_L2TP, protocol == "L2TP");
    view.setTicked(c::单选框_SSTP, protocol != "PPTP" && protocol != "L2TP");

    for (const auto& o : kMiddleOptions) {
        const auto value = file.read(o.section, o.key);
        if (o.isText) {
            view.setText(o.control, value);
        } else {
            view.setTicked(o.control, value == kYes);
        }
    }

    const auto segments = file.read("18", "分析IP段位");
    if (segments == "4" || segments == "3") {
        view.setTicked(c::单选框_四组, segments == "4");
        view.setTicked(c::单选框_分析IP前三组, segments == "3");
    }

    const bool onTop = file.read("19", "总在最前") == kYes;
    view.setTicked(c::选择框_总在最前, onTop);
    view.setAlwaysOnTop(onTop);
    view.setTicked(c::选择框_热键, file.read("20", "热键设置") == kYes);

    if (file.read("22", settings_key::kTermsAccepted) != "1") {
        openTermsGate();
    }
    if (file.read("23", "找回指定ip") == kYes) {
        view.setTicked(c::选择框_找回指定ip, true);
        view.setText(c::编辑框_找回指定ip,
                     std::string(text::trimmed(file.read("24", "找回指定ip"))));
    } else {
        view.setTicked(c::选择框_找回指定ip, false);
    }
}

bool saveSettings(ProfileFile& file, workflows::View& view, workflows::ConnectionState& state,
                  bool onExit) {
    bool ok = true;
    const auto put = [&](const char* section, const char* key, const std::string& value) {
        ok = file.write(section, key, value) && ok;
    };
    const auto yesNo = [&](std::string_view control) {
        return std::string(view.isTicked(control) ? kYes : kNo);
    };

    put("1", settings_key::kMarker, kYes);
    if (onExit && isMixRow(view)) {
        // A mixed-dial row stands for no one server; its last draw must not come back as the line.
        state.serverAddress.set("");
        state.lineName.set("");
    }
    put("2", "服务器地址", state.serverAddress.get());
    put("21", "服务器地址城市", state.lineName.get());
    put("3", "用户名", view.text(c::编辑框_用户名));
    put("4", "密码", view.text(c::编辑框_密码));
    put("5", "协议PPTPL2TP",
        view.isTicked(c::单选框_PPTP) ? "PPTP" : (view.isTicked(c::单选框_L2TP) ? "L2TP" : "SSTP"));
    for (const auto& o : kMiddleOptions) {
        put(o.section, o.key, o.isText ? view.text(o.control) : yesNo(o.control));
    }
    if (view.isTicked(c::单选框_四组)) {
        put("18", "分析IP段位", "4");
    } else if (view.isTicked(c::单选框_分析IP前三组)) {
        put("18", "分析IP段位", "3");
    }
    put("19", "总在最前", yesNo(c::选择框_总在最前));
    put("20", "热键设置", yesNo(c::选择框_热键));
    if (view.isTicked(c::选择框_找回指定ip)) {
        put("23", "找回指定ip", kYes);
        put("24", "找回指定ip", std::string(text::trimmed(view.text(c::编辑框_找回指定ip))));
    } else {
        put("23", "找回指定ip", kNo);
    }
    if (!onExit) {
        view.setText(workflows::kStatusLine, std::string(ok ? kSettingsSaved : kSettingsNotSaved));
    }
    return ok;
}

bool recordTermsAccepted(ProfileFile& file) {
    return file.write("22", settings_key::kTermsAccepted, "1");
}

}  // namespace veltrin::shell
