#pragma once

#include <QMainWindow>
#include <QMetaObject>
#include <QThread>

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>

#include "service/Logoff.h"
#include "service/ServerListModel.h"
#include "workflows/ConnectionState.h"
#include "workflows/View.h"

class QMenu;
class QPlainTextEdit;
class QSystemTrayIcon;
class QTreeWidget;
class QLabel;

namespace veltrin::shell {

inline constexpr std::string_view kUsageTermsTitle = "用前必看---不同意的严禁使用本软件";
inline constexpr std::string_view kMessengerAccount = "veltrinvpn";

// What the window's chrome asks of the application; empty entries do nothing.
struct ChromeActions {
    std::function<void()> quit;  // close box, "退出", "关闭软件"
    std::function<void()> openAdvanced;
    std::function<void()> openSignup;
    std::function<void()> versionCheck;
    std::function<void()> tutorialDownload;
    std::function<void()> openMessengerPicture;
};

// The main window. Every control of the form is a real widget whose objectName is its form name;
// the option controls the user edits elsewhere lie right of the visible area. Calls from other
// threads run on the window's thread and wait for it.
class MainWindowView final : public QMainWindow,
                             public workflows::View,
                             public service::ServerListSink,
                             public service::LogoffView {
public:
    MainWindowView(service::ServerListModel& model, workflows::ConnectionState& state);
    ~MainWindowView() override;

    // workflows::View
    std::string text(std::string_view control) override;
    void setText(std::string_view control, const std::string& text) override;
    bool isTicked(std::string_view control) override;
    void setTicked(std::string_view control, bool ticked) override;
    void setEnabled(std::string_view control, bool enabled) override;
    bool isEnabled(std::string_view control) override;
    void appendResult(const std::string& text) override;
    void setStatusColour(workflows::Rgb colour) override;
    bool isVisible(std::string_view control) override;
    void setVisible(std::string_view control, bool visible) override;
    void setAlwaysOnTop(bool onTop) override;
    int rowCount(std::string_view list) override;
    int selectedRow(std::string_view list) override;
    std::string cell(std::string_view list, int row, int column) override;

    // service::ServerListSink
    void setRefreshEnabled(bool enabled) override;
    void setStatusLine(const std::string& text) override;
    void showMessage(const service::InfoMessage& message) override;
    void listChanged(service::ServerListId list) override;

    // The expiry label and the note above it.
    void setExpiryColours(workflows::Rgb text, workflows::Rgb background);
    void setNoteColour(workflows::Rgb text);
    void setNoteCaption(const std::string& caption);

    // service::LogoffView
    void setLogoffButtonEnabled(bool enabled) override;
    void showInformation(const std::string& text) override;

    using workflows::View::showMessage;

    // The widget of a form control; nullptr for an unknown name.
    QWidget* control(std::string_view name) const;
    // Runs fn on the window's thread and waits for it.
    template <class F>
    auto onUi(F&& fn) -> std::invoke_result_t<F&> {
        using R = std::invoke_result_t<F&>;
        if (QThread::currentThread() == thread()) {
            return fn();
        }
        if constexpr (std::is_void_v<R>) {
            QMetaObject::invokeMethod(this, std::forward<F>(fn), Qt::BlockingQueuedConnection);
        } else {
            R result{};
            QMetaObject::invokeMethod(this, std::forward<F>(fn), Qt::BlockingQueuedConnection,
                                      &result);
            return result;
        }
    }

    void setChromeActions(ChromeActions actions) { chrome_ = std::move(actions); }
    // Runs when the user chose a line (after the connection state has been set).
    void setListDoubleClick(std::function<void()> handler) { doubleClick_ = std::move(handler); }
    void setExpiryClick(std::function<void()> handler) { expiryClick_ = std::move(handler); }

    // Tray: present only while the desktop has a tray.
    bool installTray();
    void removeTray();
    bool hasTray() const { return tray_ != nullptr; }
    void showFromTray();
    void hideToTray();

    // The notice box: the browser is made the first time it is asked to show a page.
    void navigateNotice(const std::string& url);
    void hideNotice();
    bool noticeShown() const { return browser_ != nullptr && noticeShown_; }

    // Usage terms, first ("用前需看") or second ("用前必看") wording of the first paragraph.
    static std::string usageTerms(bool firstWording);
    static std::string supportChatUrl(const std::string& contact);

    // The menu bar's item with this text (exact), for tests and tools.
    QAction* menuItem(const std::string& text) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void presentMessage(const std::string& text, int style, const std::string& title) override;

    void buildControls();
    void buildMenus();
    void attachTips();
    QTreeWidget* list(std::string_view name) const;
    void refill(service::ServerListId list);
    void onRowChosen(QTreeWidget* list);
    void openSupportChat(bool builtInOnly);
    void registerControl(QWidget* widget, std::string_view name);

    service::ServerListModel& model_;
    workflows::ConnectionState& state_;
    std::map<std::string, QWidget*, std::less<>> controls_;
    std::map<std::string, QAction*> menuItems_;
    ChromeActions chrome_;
    std::function<void()> doubleClick_;
    std::function<void()> expiryClick_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QWidget* browser_ = nullptr;
    QLabel* noticeLabel_ = nullptr;
    QWidget* noticeBox_ = nullptr;
    bool noticeShown_ = false;
    bool quitting_ = false;
};

}  // namespace veltrin::shell
