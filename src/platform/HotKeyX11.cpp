// F1 on X11: a passive grab on the root window, presses read from Qt's native event stream.
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QTimer>

#include <cstdlib>
#include <vector>

#include "platform/HotKey.h"

namespace veltrin::platform {
namespace {

constexpr xcb_keysym_t kF1 = 0xffbe;
// Caps Lock and Num Lock must not stop the key.
constexpr std::uint16_t kMasks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                    XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

class X11HotKey final : public HotKey, public QAbstractNativeEventFilter {
public:
    ~X11HotKey() override {
        unregister(id_);
        if (filtering_ && qApp != nullptr) {
            qApp->removeNativeEventFilter(this);
        }
    }

    int registerF1(std::function<void()> onPress) override {
        unregister(id_);
        auto* x11 = qGuiApp != nullptr
                        ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                        : nullptr;
        if (x11 == nullptr || x11->connection() == nullptr) {
            return 0;
        }
        connection_ = x11->connection();
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection_);
        if (symbols == nullptr) {
            return 0;
        }
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, kF1);
        keycode_ = codes != nullptr ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        if (keycode_ == 0) {
            return 0;
        }
        std::vector<std::uint16_t> grabbed;
        for (auto mask : kMasks) {
            auto cookie = xcb_grab_key_checked(connection_, 1, root_, mask, keycode_,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
                std::free(error);  // BadAccess: another program holds F1
                for (auto done : grabbed) {
                    xcb_ungrab_key(connection_, keycode_, root_, done);
                }
                xcb_flush(connection_);
                return 0;
            }
            grabbed.push_back(mask);
        }
        xcb_flush(connection_);
        onPress_ = std::move(onPress);
        if (!filtering_) {
            qApp->installNativeEventFilter(this);
            filtering_ = true;
        }
        id_ = ++lastId_;
        return id_;
    }

    void unregister(int id) override {
        if (id == 0 || id != id_ || connection_ == nullptr) {
            return;
        }
        for (auto mask : kMasks) {
            xcb_ungrab_key(connection_, keycode_, root_, mask);
        }
        xcb_flush(connection_);
        id_ = 0;
        onPress_ = nullptr;
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (id_ == 0 || type != "xcb_generic_event_t") {
            return false;
        }
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS) {
            return false;
        }
        auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
        const auto modifiers = key->state & ~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2);
        if (key->detail != keycode_ || modifiers != 0) {
            return false;
        }
        // The reconnect waits with nested event loops: run it outside the filter.
        auto action = onPress_;
        QTimer::singleShot(0, qApp, [action] {
            if (action) {
                action();
            }
        });
        return true;
    }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    xcb_keycode_t keycode_ = 0;
    std::function<void()> onPress_;
    bool filtering_ = false;
    int id_ = 0;
    int lastId_ = 0;
};

}  // namespace

std::unique_ptr<HotKey> makeHotKey() {
    return std::make_unique<X11HotKey>();
}

}  // namespace veltrin::platform
