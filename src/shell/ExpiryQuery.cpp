// Kept apart: service/Expiry.h and service/IpLookup.h each declare their own service::Rgb.
#include "shell/ExpiryQuery.h"

#include "engine/Wait.h"
#include "service/Expiry.h"
#include "shell/MainWindowView.h"
#include "workflows/Controls.h"

namespace veltrin::shell {
namespace {

workflows::Rgb rgb(service::Rgb c) {
    return {c.r, c.g, c.b};
}

class WindowExpiryView final : public service::ExpiryView {
public:
    explicit WindowExpiryView(MainWindowView& window) : window_(window) {}

    void showPlainMessage(const service::PlainMessage& message) override {
        window_.showMessage(message.text, workflows::message_style::kPlain, message.title);
    }
    void setExpiryCaption(const std::string& caption) override {
        window_.setText(workflows::control::标签_用户过期时间查询, caption);
    }
    void setExpiryColours(service::Rgb text, service::Rgb background) override {
        window_.setExpiryColours(rgb(text), rgb(background));
    }
    void setNoteColour(service::Rgb text) override { window_.setNoteColour(rgb(text)); }
    void setNoteCaption(const std::string& caption) override { window_.setNoteCaption(caption); }
    void wait(int milliseconds) override { engine::WaitPumping(milliseconds); }

private:
    MainWindowView& window_;
};

}  // namespace

void runExpiryQuery(MainWindowView& window) {
    WindowExpiryView view(window);
    service::queryExpiry(window.text(workflows::control::编辑框_用户名),
                         window.text(workflows::control::编辑框_密码), view);
}

}  // namespace veltrin::shell
