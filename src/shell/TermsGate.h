#pragma once

#include <QMainWindow>

#include <functional>
#include <string_view>

#include "shell/ProfileFile.h"
#include "workflows/View.h"

namespace veltrin::shell {

namespace terms_text {
inline constexpr std::string_view kTitle = "《服务条款和声明》签署";
inline constexpr std::string_view kHeading = "温馨提示：首次使用必须先同意以下条款，谢谢合作！";
inline constexpr std::string_view kOpenTerms = "《服务条款和声明》点击查看";
inline constexpr std::string_view kAgree = "我已完全阅读、理解和同意上述的《服务条款和声明》！";
inline constexpr std::string_view kAccept = "同意并进入使用";
inline constexpr std::string_view kTickFirstTitle = "勾选框提示";
inline constexpr std::string_view kTickFirst =
    "请先同意并勾选上面的勾选框，再点击按钮【同意并进入使用】！";
inline constexpr std::string_view kAcceptedTitle = "签署通知";
inline constexpr std::string_view kAccepted =
    "您已签署《服务条款和声明》，感谢您的信任！请继续正常合法使用本软件即可！";
inline constexpr std::string_view kNotRecorded =
    "签署未能保存：无法写入配置文件，下次启动仍需签署！";
inline constexpr std::string_view kClosingTitle = "关闭提醒";
inline constexpr std::string_view kClosing =
    "软件将直接关闭；如果您要使用本软件，请重新打开软件，阅读、理解并同意《服务条款和声明》后，再"
    "点击按钮【同意并进入使用】！";
}  // namespace terms_text

// The terms-of-service gate beside the main window. Accepting records it in the settings file on a
// worker; closing the gate ends the program.
class TermsGate final : public QMainWindow {
public:
    // Boxes go through `boxes` (the main window); `exitProcess` ends the program.
    TermsGate(ProfileFile& settings, workflows::View& boxes, std::function<void(int)> exitProcess);

    // The acceptance as the button runs it, on the calling (worker) thread.
    void accept();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool agreed();

    ProfileFile& settings_;
    workflows::View& boxes_;
    std::function<void(int)> exitProcess_;
    bool accepted_ = false;
};

}  // namespace veltrin::shell
