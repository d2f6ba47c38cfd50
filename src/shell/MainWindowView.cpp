#include "shell/MainWindowView.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QWebEngineView>

#include "engine/Wait.h"
#include "service/RemoteParameters.h"
#include "service/ServerList.h"
#include "shell/MessageBoxes.h"
#include "shell/Startup.h"
#include "workflows/Controls.h"
#include "workflows/StatusChannel.h"

namespace veltrin::shell {
namespace {

namespace c = workflows::control;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string us(const QString& text) {
    return text.toStdString();
}

constexpr int kRowHeight = 25;

class FixedRowHeight final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(kRowHeight);
        return size;
    }
};

// A label that reacts to a click, as the form's labels do.
class ClickLabel final : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> onClick;

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (event->button() == Qt::LeftButton && onClick) {
            onClick();
        }
    }
};

QIcon programIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0, 102, 204));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(1, 1, 30, 30);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("V"));
    return QIcon(pixmap);
}

QString styleColour(workflows::Rgb c) {
    return QStringLiteral("rgb(%1,%2,%3)").arg(c.r).arg(c.g).arg(c.b);
}

// The balloon tips, in the order they are attached; the window's own comes first.
struct Tip {
    std::string_view control;
    std::string_view text;
};
constexpr std::string_view kWindowTip = "哪里不懂，鼠标就停留在哪里，有提示说明哦";
constexpr std::string_view kListTip = "点击选择你要的【动态城市线路】，然后 【启动连接】！";
constexpr Tip kTips[] = {
    {c::编辑框_用户名, "这里填拨号验证的用户名，请不要填错"},
    {c::编辑框_密码, "这里填拨号验证的密码，请不要填错"},
    {c::单选框_PPTP, "PPTP适合大部分网络拨号，网速快，连接不上的【请换用L2TP再连接】！"},
    {c::单选框_L2TP,
     "L2TP适合教育网公司网等难连接的网络使用，用于解决难用的网络拨号，网速不如PPTP"},
    {c::单选框_SSTP, "SSTP适合各种奇葩网络和系统，PPTP和L2TP都连接不上时请换用SSTP协议"},
    {c::选择框_定时连断, "勾选则启用循环定时断开再连接功能！"},
    {c::编辑框_连断时间秒, "定时断开再连接间隔时间设置，建议填30秒以上，不能低于20秒！"},
    {c::编辑框_连断计次, "定时断开再连接次数记录，只用于显示不可填改！"},
    {c::按钮_连接, "填好信息，选好功能后，即可点击此按钮自动运行！"},
    {c::按钮_断开, "【断开】用于停止一切运行中的命令并断开ip连接！"},
    {c::按钮_启用本地网络, "启用本地所有网络通信！启用后请稍等20秒彻底恢复网络再使用"},
    {c::按钮_禁用本地网络, "断开本地所有网络通信，禁用后，可以点击启用本地网络即可恢复！"},
    {c::选择框_掉线音效, "勾选则启用掉线时声音响起！"},
    {c::选择框_是否断网,
     "勾选则启用掉线时自动断开本地所有网络！注意：断网后，需要恢复的，请点击【启用本地网络】即可"
     "恢复"},
    {c::编辑框_监控时间秒, "建议时间修改值不小于0.01秒，时间过小会占用本地硬件资源！"},
    {c::编辑框_监控计次, "监控是否掉线时次数记录，只用于显示不可填改！！"},
    {c::按钮_测试,
     "请一定要先【连接】连接成功后，再点击 【测试掉线】掉线，否则无效易出错！\r\n注：只想换ip的直接"
     "点击【断开】按钮，不要点击【测试掉线】！"},
    {c::选择框_记录每次连接ip,
     "勾选则启用每次换ip时查询一次ip是多少并且记录在右边[结果显示框]中！"},
    {c::按钮_查询当前ip, "查询一次当前电脑的ip是多少！"},
    {c::按钮_记住所有配置,
     "生成ini文件并保存当前所有的信息和配置到本软件目录下，关了软件再打开会自动读取记住的信息和配"
     "置！"},
    {c::选择框_服务器列表拨号,
     "勾选则启用循环拨号【动态城市服务器列表】中的服务器地址！自动跳过维护中的线路，无限来回循环从"
     "上到下顺序拨号哦！"},
    {c::编辑框_列表结果显示, "这里不用填任何信息，\r\n用于显示运行结果！"},
    {c::按钮_保存结果, "自动生成txt文件并保存[运行结果显示框]中的所有信息到本软件目录下！"},
    {c::按钮_清空结果, "清空上面的[运行结果显示框]所有内容！"},
    {c::编辑框_搜索输入, "输入要搜索的地区或诚市，例如输入浙江，全国，洛阳"},
    {c::按钮_踢下线,
     "把在线状态用户踢下线。例如没过期的用户提示‘拒绝访问’即为用户在线状态，即可踢下线！"},
    {c::按钮_刷新服务器列表, "刷新一下获取最新动态城市服务器列表信息！"},
    {c::超级列表框_线路超级列表1, kListTip},
    {c::超级列表框_线路超级列表2, kListTip},
    {c::选择框_启动过滤重复ip,
     "勾选则启用查询当前连接的ip，如果与之前使用的ip相同，就会自动断开再连接换个新ip！并且软件会自"
     "动记录和加载之前用过的ip数据！"},
    {c::标签_用户过期时间查询,
     "点击查询账户到期时间！（提示：不足1天的会减少1天显示！显示天数时，剩余小时不显示！）"},
    {c::选择框_IE缓存和cookie, "勾选则每换一次ip都会自动清除一次IE缓存和Cookie！"},
    {c::选择框_掉线重拨, "勾选则出现掉线时会自动重新帮您连接成功！"},
    {c::单选框_四组,
     "勾选过滤重复ip并选中此项的，会自动分析整个ip是否与之前出现的ip重复，重复即重拨换ip！"},
    {c::单选框_分析IP前三组,
     "勾选过滤重复ip并选中此项的，会自动分析IP前缀三段是否与之前出现的ip重复，重复即重拨换ip！"},
    {c::选择框_连接成功系统托盘, "勾选则拨号连接成功后，本软件自动缩小成系统托盘！"},
    {c::选择框_总在最前, "勾选此项，则本软件主窗口会自动总在最前！"},
    {c::按钮_高级设置,
     "可以设置多种高级功能，包括自动定时换ip，掉线禁网，过滤重复ip，找回指定ip等功能！"},
};

std::string_view listName(service::ServerListId id) {
    switch (id) {
        case service::ServerListId::full:
            return c::超级列表框_线路超级列表1;
        case service::ServerListId::search:
            return c::超级列表框_线路超级列表2;
        case service::ServerListId::pool:
            break;
    }
    return c::超级列表框_线路超级列表3;
}

std::string supportContact() {
    const auto remote = service::loadRemoteParameters();
    if (remote && !remote->supportContact.empty()) {
        return remote->supportContact;
    }
    return std::string(service::kBuiltInSupportContact);
}

}  // namespace

MainWindowView::MainWindowView(service::ServerListModel& model, workflows::ConnectionState& state)
    : model_(model), state_(state) {
    setWindowTitle(qs(kMainTitle));
    setWindowIcon(programIcon());
    resize(800, 580);
    buildControls();
    buildMenus();
    attachTips();
}

MainWindowView::~MainWindowView() = default;

void MainWindowView::registerControl(QWidget* widget, std::string_view name) {
    widget->setObjectName(qs(name));
    controls_.emplace(std::string(name), widget);
}

void MainWindowView::buildControls() {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    const auto group = [&](const char* name, QRect geometry) {
        auto* box = new QGroupBox(central);
        box->setObjectName(QString::fromUtf8(name));
        box->setGeometry(geometry);
        return box;
    };
    const auto label = [](QWidget* parent, std::string_view caption, QRect geometry) {
        auto* l = new QLabel(qs(caption), parent);
        l->setGeometry(geometry);
        return l;
    };
    const auto button = [&](QWidget* parent, std::string_view name, std::string_view caption,
                            QRect geometry) {
        auto* b = new QPushButton(qs(caption), parent);
        b->setGeometry(geometry);
        registerControl(b, name);
        return b;
    };
    const auto check = [&](QWidget* parent, std::string_view name, std::string_view caption,
                           QRect geometry, bool ticked = false) {
        auto* b = new QCheckBox(qs(caption), parent);
        b->setGeometry(geometry);
        b->setChecked(ticked);
        registerControl(b, name);
        return b;
    };
    const auto radio = [&](QWidget* parent, std::string_view name, std::string_view caption,
                           QRect geometry) {
        auto* b = new QRadioButton(qs(caption), parent);
        b->setGeometry(geometry);
        registerControl(b, name);
        return b;
    };
    const auto edit = [&](QWidget* parent, std::string_view name, QRect geometry,
                          std::string_view initial = {}) {
        auto* e = new QLineEdit(qs(initial), parent);
        e->setGeometry(geometry);
        registerControl(e, name);
        return e;
    };
    const auto lineList = [&](QWidget* parent, std::string_view name, QRect geometry,
                              const auto& titles) {
        auto* l = new QTreeWidget(parent);
        l->setGeometry(geometry);
        l->setRootIsDecorated(false);
        l->setUniformRowHeights(true);
        l->setAllColumnsShowFocus(true);
        l->setItemDelegate(new FixedRowHeight(l));
        l->setSelectionMode(QAbstractItemView::SingleSelection);
        l->setEditTriggers(QAbstractItemView::NoEditTriggers);
        QStringList headers;
        for (auto t : titles) {
            headers << qs(t);
        }
        l->setHeaderLabels(headers);
        const int widths[] = {150, 70, 45, 110, 80, 110, 140, 80};
        for (int i = 0; i < service::ServerEntry::kColumnCount; ++i) {
            l->setColumnWidth(i, widths[i]);
        }
        registerControl(l, name);
        return l;
    };

    // The server lists.
    auto* lists = group("分组框12", {5, 6, 502, 500});
    label(lists, "地区搜索：", {9, 22, 70, 24});
    auto* search = edit(lists, c::编辑框_搜索输入, {80, 22, 190, 24});
    auto* refresh = button(lists, c::按钮_刷新服务器列表, "刷新列表", {280, 20, 100, 28});
    button(lists, c::按钮_踢下线, "踢下线", {392, 20, 100, 28});
    auto* list1 = lineList(lists, c::超级列表框_线路超级列表1, {9, 58, 485, 435},
                           service::kServerColumnTitles);
    auto* list2 = lineList(lists, c::超级列表框_线路超级列表2, {9, 58, 485, 435},
                           service::kServerColumnTitles);
    list2->hide();
    auto* list3 = lineList(central, c::超级列表框_线路超级列表3, {936, 420, 300, 100},
                           service::kPoolColumnTitles);
    list3->hide();
    (void)refresh;

    // Notice and account.
    auto* account = group("分组框11", {518, 6, 270, 196});
    noticeLabel_ = label(account,
                         "欢迎使用Veltrin动态IP客户端\n账户开通、续费及使用问题请联系客服QQ：" +
                             std::string(service::kBuiltInSupportContact),
                         {6, 8, 256, 107});
    noticeLabel_->setObjectName(QStringLiteral("标签1"));
    noticeLabel_->setAlignment(Qt::AlignCenter);
    noticeLabel_->setWordWrap(true);
    noticeBox_ = new QWidget(account);
    noticeBox_->setObjectName(QStringLiteral("互联网浏览器1"));
    noticeBox_->setGeometry(6, 8, 256, 107);
    noticeBox_->hide();
    label(account, "用户名：", {6, 120, 60, 22});
    edit(account, c::编辑框_用户名, {70, 120, 190, 22});
    label(account, "密  码：", {6, 146, 60, 22});
    auto* password = edit(account, c::编辑框_密码, {70, 146, 190, 22});
    password->setEchoMode(QLineEdit::Password);
    auto* note = label(account, "点击查询账户过期时间：", {6, 172, 140, 20});
    note->setObjectName(QStringLiteral("透明标签17"));
    auto* expiry = new ClickLabel(QStringLiteral("点击查询"), account);
    expiry->setGeometry(146, 172, 118, 20);
    expiry->setCursor(Qt::PointingHandCursor);
    expiry->onClick = [this] {
        if (expiryClick_) {
            expiryClick_();
        }
    };
    registerControl(expiry, c::标签_用户过期时间查询);

    // Protocol and quick options.
    auto* protocol = group("分组框3", {518, 203, 270, 90});
    label(protocol, "协议选择：", {6, 8, 64, 22});
    radio(protocol, c::单选框_PPTP, "PPTP", {72, 8, 62, 22});
    radio(protocol, c::单选框_L2TP, "L2TP", {136, 8, 62, 22})->setChecked(true);
    radio(protocol, c::单选框_SSTP, "SSTP", {200, 8, 62, 22});
    check(protocol, c::选择框_掉线重拨, "如果掉线,自动重连", {6, 32, 130, 22}, true);
    check(protocol, c::选择框_连接成功系统托盘, "自动缩小系统托盘", {138, 32, 130, 22});
    button(protocol, c::按钮_查询当前ip, "查询当前ip", {6, 58, 124, 28});
    button(protocol, c::按钮_高级设置, "高级设置", {140, 58, 124, 28});

    // Commands.
    auto* commands = group("分组框2", {518, 294, 270, 65});
    button(commands, c::按钮_连接, "启动连接", {8, 12, 122, 44});
    button(commands, c::按钮_断开, "断 开", {140, 12, 122, 44});

    // Results.
    auto* results = group("分组框7", {518, 359, 270, 146});
    auto* resultsBox = new QPlainTextEdit(results);
    resultsBox->setGeometry(6, 8, 258, 102);
    resultsBox->setPlainText(qs(workflows::kResultsStartText));
    registerControl(resultsBox, c::编辑框_列表结果显示);
    button(results, c::按钮_保存结果, "保存结果", {6, 114, 124, 28});
    button(results, c::按钮_清空结果, "清空结果", {140, 114, 124, 28});

    auto* status = edit(central, c::编辑框_接收信息, {54, 512, 750, 20});
    status->setReadOnly(true);

    // Options edited in the advanced settings window, outside the visible area.
    constexpr int x = 936;
    edit(central, c::编辑框_找回指定ip, {x, 10, 160, 22});
    check(central, c::选择框_找回指定ip, "找回指定ip", {x + 170, 10, 120, 22});
    check(central, c::选择框_记录每次连接ip, "记录每次连接ip", {x, 36, 160, 22}, true);
    check(central, c::选择框_服务器列表拨号, "服务器列表拨号", {x + 170, 36, 160, 22});
    check(central, c::选择框_启动过滤重复ip, "启动过滤重复ip", {x, 62, 160, 22});
    auto* segments = new QWidget(central);
    segments->setObjectName(QStringLiteral("分组框_IP段位"));
    segments->setGeometry(x + 170, 62, 240, 22);
    radio(segments, c::单选框_四组, "四组", {0, 0, 80, 22})->setChecked(true);
    radio(segments, c::单选框_分析IP前三组, "分析IP前三组", {90, 0, 140, 22});
    check(central, c::选择框_定时连断, "定时连断", {x, 88, 100, 22});
    edit(central, c::编辑框_连断时间秒, {x + 110, 88, 60, 22}, "60");
    edit(central, c::编辑框_连断计次, {x + 180, 88, 60, 22})->setReadOnly(true);
    check(central, c::选择框_IE缓存和cookie, "IE缓存和cookie", {x, 114, 140, 22});
    check(central, c::选择框_掉线音效, "掉线音效", {x, 140, 100, 22});
    check(central, c::选择框_是否断网, "掉线断网", {x + 110, 140, 100, 22});
    edit(central, c::编辑框_监控时间秒, {x, 166, 60, 22}, "2");
    edit(central, c::编辑框_监控计次, {x + 70, 166, 60, 22})->setReadOnly(true);
    button(central, c::按钮_修复故障, "修复故障", {x, 192, 100, 26});
    button(central, c::按钮_测试, "测试掉线", {x + 110, 192, 100, 26});
    check(central, c::选择框_总在最前, "总在最前", {x, 222, 100, 22});
    button(central, c::按钮_启用本地网络, "启用本地网络", {x, 248, 110, 26});
    button(central, c::按钮_禁用本地网络, "禁用本地网络", {x + 120, 248, 110, 26});
    check(central, c::选择框_热键, "F1热键", {x, 278, 100, 22});
    auto* hotKeyLabel = new QLabel(QStringLiteral("F1"), central);
    hotKeyLabel->setGeometry(x + 110, 278, 60, 22);
    registerControl(hotKeyLabel, c::标签_热键标签);
    button(central, c::按钮_记住所有配置, "保存配置", {x, 304, 100, 26});

    // Search, choice and double click.
    QObject::connect(search, &QLineEdit::textChanged, this, [this](const QString& text) {
        model_.search(us(text));
        refill(service::ServerListId::search);
        list(c::超级列表框_线路超级列表2)->setVisible(model_.searchActive());
    });
    for (auto* l : {list1, list2}) {
        QObject::connect(l, &QTreeWidget::itemSelectionChanged, this, [this, l] {
            if (!l->signalsBlocked()) {
                onRowChosen(l);
            }
        });
        QObject::connect(l, &QTreeWidget::itemDoubleClicked, this, [this] {
            if (doubleClick_) {
                doubleClick_();
            }
        });
    }
    QObject::connect(qobject_cast<QCheckBox*>(control(c::选择框_总在最前)), &QCheckBox::clicked,
                     this, [this](bool ticked) { setAlwaysOnTop(ticked); });
}

void MainWindowView::buildMenus() {
    const std::string contact = supportContact();
    auto* bar = menuBar();
    const auto item = [&](QMenu* menu, const std::string& text, std::function<void()> action) {
        auto* a = menu->addAction(qs(text));
        QObject::connect(a, &QAction::triggered, this, [action] { action(); });
        menuItems_.emplace(text, a);
        return a;
    };
    const auto later = [](std::function<void()>& slot) {
        return [&slot] {
            if (slot) {
                slot();
            }
        };
    };
    auto* main = bar->addMenu(QStringLiteral("菜 单"));
    item(main, "自助订购-即时到账", later(chrome_.openSignup));
    item(main, "高级设置", later(chrome_.openAdvanced));
    item(main, "客服QQ" + contact, [this] { openSupportChat(false); });
    item(main, "用前需看",
         [this] { showMessage(usageTerms(true), 0, std::string(kUsageTermsTitle)); });
    item(main, "最新版本查询及下载", later(chrome_.versionCheck));
    item(main, "退出", later(chrome_.quit));
    auto* tutorial = bar->addMenu(QStringLiteral("视频教程下载"));
    item(tutorial, "下载地址", later(chrome_.tutorialDownload));
    auto* terms = bar->addMenu(QStringLiteral("免责声明"));
    item(terms, "用前必看",
         [this] { showMessage(usageTerms(false), 0, std::string(kUsageTermsTitle)); });
    auto* support = bar->addMenu(QStringLiteral("联系客服"));
    item(support, "联系QQ" + contact, [this] { openSupportChat(false); });
    item(support, "联系微信" + std::string(kMessengerAccount), later(chrome_.openMessengerPicture));
    auto* signup = bar->addMenu(QStringLiteral("用户注册-自助开通"));
    item(signup, "自助注册开通续费", later(chrome_.openSignup));
    item(signup, "联系人工客服QQ" + contact, [this] { openSupportChat(false); });
    item(signup, "支持软件功能定制服务", [this] { openSupportChat(false); });

    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("系统托盘"));
    QObject::connect(trayMenu_->addAction(QStringLiteral("回到主界面")), &QAction::triggered, this,
                     [this] { showFromTray(); });
    QObject::connect(trayMenu_->addAction(QStringLiteral("联系客服QQ")), &QAction::triggered, this,
                     [this] { openSupportChat(true); });
    QObject::connect(trayMenu_->addAction(QStringLiteral("关闭软件")), &QAction::triggered, this,
                     later(chrome_.quit));
}

void MainWindowView::attachTips() {
    setToolTip(qs(kWindowTip));
    for (const auto& tip : kTips) {
        if (auto* w = control(tip.control)) {
            QString text = qs(tip.text);
            text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            w->setToolTip(text);
        }
    }
}

QAction* MainWindowView::menuItem(const std::string& text) const {
    const auto it = menuItems_.find(text);
    return it == menuItems_.end() ? nullptr : it->second;
}

std::string MainWindowView::supportChatUrl(const std::string& contact) {
    return "tencent://message/?uin=" + contact + "&Site=veltrin&Menu=yes";
}

void MainWindowView::openSupportChat(bool builtInOnly) {
    const std::string contact =
        builtInOnly ? std::string(service::kBuiltInSupportContact) : supportContact();
    QDesktopServices::openUrl(QUrl(qs(supportChatUrl(contact))));
}

std::string MainWindowView::usageTerms(bool firstWording) {
    return std::string("免责声明：\r\n\r\n") +
           (firstWording ? "1.本软件功能强大，有误报的加白名单使用即可。"
                         : "1.本软件如有误报请加白名单使用即可。") +
           "\r\n\r\n2.本软件可能存在缺陷，作者不对因软件错误造成的任何损失承担责任，请先测试再使"
           "用。\r\n\r\n3.严禁用于任何非法用途，违法使用的一切后果由使用者自行承担。\r\n\r\n4.其它"
           "一切责任均由使用者自行承担。\r\n\r\n5.同意以上条款的方可使用本软件，不同意的请立即关闭"
           "并删除本软件，谢谢！";
}

QWidget* MainWindowView::control(std::string_view name) const {
    const auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->second;
}

QTreeWidget* MainWindowView::list(std::string_view name) const {
    return qobject_cast<QTreeWidget*>(control(name));
}

std::string MainWindowView::text(std::string_view name) {
    return onUi([&]() -> std::string {
        QWidget* w = control(name);
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            return us(e->text());
        }
        if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
            QString t = p->toPlainText();
            t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
            return us(t);
        }
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            return us(b->text());
        }
        if (auto* l = qobject_cast<QLabel*>(w)) {
            return us(l->text());
        }
        return {};
    });
}

void MainWindowView::setText(std::string_view name, const std::string& value) {
    onUi([&] {
        QWidget* w = control(name);
        const QString t = QString::fromStdString(value);
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            e->setText(t);
            e->setCursorPosition(0);
        } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
            QString plain = t;
            plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            p->setPlainText(plain);
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            b->setText(t);
        } else if (auto* l = qobject_cast<QLabel*>(w)) {
            l->setText(t);
        }
    });
}

bool MainWindowView::isTicked(std::string_view name) {
    return onUi([&] {
        auto* b = qobject_cast<QAbstractButton*>(control(name));
        return b != nullptr && b->isChecked();
    });
}

void MainWindowView::setTicked(std::string_view name, bool ticked) {
    onUi([&] {
        auto* b = qobject_cast<QAbstractButton*>(control(name));
        if (b == nullptr || b->isChecked() == ticked) {
            return;
        }
        if (ticked) {
            b->setChecked(true);  // an exclusive radio button clears its siblings
            return;
        }
        // An exclusive radio button cannot be cleared directly; the form's buttons can.
        const bool exclusive = b->autoExclusive();
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(exclusive);
    });
}

void MainWindowView::setEnabled(std::string_view name, bool enabled) {
    onUi([&] {
        if (QWidget* w = control(name)) {
            w->setEnabled(enabled);
        }
    });
}

bool MainWindowView::isEnabled(std::string_view name) {
    return onUi([&] {
        QWidget* w = control(name);
        return w != nullptr && w->isEnabled();
    });
}

void MainWindowView::appendResult(const std::string& value) {
    onUi([&] {
        auto* p = qobject_cast<QPlainTextEdit*>(control(c::编辑框_列表结果显示));
        QString t = QString::fromStdString(value);
        t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        p->moveCursor(QTextCursor::End);
        p->ensureCursorVisible();
        p->insertPlainText(t);
    });
}

void MainWindowView::setStatusColour(workflows::Rgb colour) {
    onUi([&] {
        QWidget* w = control(workflows::kStatusLine);
        QPalette palette = w->palette();
        palette.setColor(QPalette::Text, QColor(colour.r, colour.g, colour.b));
        w->setPalette(palette);
    });
}

bool MainWindowView::isVisible(std::string_view name) {
    return onUi([&] {
        QWidget* w = control(name);
        // Shown in its window, even while the window itself sits in the tray.
        return w != nullptr && w->isVisibleTo(this);
    });
}

void MainWindowView::setVisible(std::string_view name, bool visible) {
    onUi([&] {
        if (QWidget* w = control(name)) {
            w->setVisible(visible);
        }
    });
}

void MainWindowView::setAlwaysOnTop(bool onTop) {
    onUi([&] {
        if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) {
            return;
        }
        const bool shown = QWidget::isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        if (shown) {
            show();
        }
    });
}

int MainWindowView::rowCount(std::string_view name) {
    return onUi([&] {
        auto* l = list(name);
        return l == nullptr ? 0 : l->topLevelItemCount();
    });
}

int MainWindowView::selectedRow(std::string_view name) {
    return onUi([&] {
        auto* l = list(name);
        if (l == nullptr) {
            return -1;
        }
        const auto selected = l->selectedItems();
        return selected.isEmpty() ? -1 : l->indexOfTopLevelItem(selected.front());
    });
}

std::string MainWindowView::cell(std::string_view name, int row, int column) {
    return onUi([&]() -> std::string {
        auto* l = list(name);
        if (l == nullptr || row < 0 || row >= l->topLevelItemCount()) {
            return {};
        }
        return us(l->topLevelItem(row)->text(column));
    });
}

void MainWindowView::refill(service::ServerListId id) {
    auto* l = list(listName(id));
    const auto rows = model_.rows(id);
    const QSignalBlocker block(l);
    l->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const auto& row : rows) {
        QStringList columns;
        for (int i = 0; i < service::ServerEntry::kColumnCount; ++i) {
            columns << QString::fromStdString(row.column(i));
        }
        items << new QTreeWidgetItem(columns);
    }
    l->addTopLevelItems(items);
}

void MainWindowView::onRowChosen(QTreeWidget* l) {
    const auto selected = l->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const int row = l->indexOfTopLevelItem(selected.front());
    const auto choice = model_.choose(static_cast<std::size_t>(row), isTicked(c::单选框_SSTP));
    if (!choice) {
        return;
    }
    refill(service::ServerListId::pool);
    state_.lineName.set(choice->lineName);
    state_.serverAddress.set(choice->serverAddress);
    if (choice->selectedRow) {
        state_.selectedRow = *choice->selectedRow;
    }
    if (choice->maintenanceNotice) {
        showMessage(choice->maintenanceNotice->text, workflows::message_style::kInformation,
                    choice->maintenanceNotice->title);
    }
    setText(workflows::kStatusLine, choice->statusLine);
}

void MainWindowView::setRefreshEnabled(bool enabled) {
    setEnabled(c::按钮_刷新服务器列表, enabled);
}

void MainWindowView::setStatusLine(const std::string& value) {
    setText(workflows::kStatusLine, value);
}

void MainWindowView::showMessage(const service::InfoMessage& message) {
    presentMessage(message.text, workflows::message_style::kInformation, message.title);
}

void MainWindowView::listChanged(service::ServerListId id) {
    onUi([&] { refill(id); });
}

void MainWindowView::setExpiryColours(workflows::Rgb text, workflows::Rgb background) {
    onUi([&] {
        control(c::标签_用户过期时间查询)
            ->setStyleSheet(QStringLiteral("color:%1;background-color:%2;")
                                .arg(styleColour(text), styleColour(background)));
    });
}

void MainWindowView::setNoteColour(workflows::Rgb text) {
    onUi([&] {
        findChild<QLabel*>(QStringLiteral("透明标签17"))
            ->setStyleSheet(QStringLiteral("color:%1;").arg(styleColour(text)));
    });
}

void MainWindowView::setNoteCaption(const std::string& caption) {
    onUi([&] {
        findChild<QLabel*>(QStringLiteral("透明标签17"))->setText(QString::fromStdString(caption));
    });
}

void MainWindowView::setLogoffButtonEnabled(bool enabled) {
    setEnabled(c::按钮_踢下线, enabled);
}

void MainWindowView::showInformation(const std::string& value) {
    presentMessage(value, workflows::message_style::kInformation,
                   std::string(workflows::kDefaultMessageTitle));
}

void MainWindowView::presentMessage(const std::string& value, int style, const std::string& title) {
    onUi([&] { MessageBoxes::show(QWidget::isVisible() ? this : nullptr, value, style, title); });
}

bool MainWindowView::installTray() {
    if (tray_ != nullptr || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return tray_ != nullptr;
    }
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip(QStringLiteral("Veltrin"));
    tray_->setContextMenu(trayMenu_);
    QObject::connect(tray_, &QSystemTrayIcon::activated, this,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger) {
                             showFromTray();
                         }
                     });
    tray_->show();
    return true;
}

void MainWindowView::removeTray() {
    onUi([&] {
        if (tray_ != nullptr) {
            tray_->hide();
            tray_->deleteLater();
            tray_ = nullptr;
        }
    });
}

void MainWindowView::showFromTray() {
    onUi([&] {
        if (isMinimized() || isMaximized()) {
            showNormal();
        }
        show();
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        raise();
        activateWindow();
    });
}

void MainWindowView::hideToTray() {
    onUi([&] {
        // Without a tray there is nothing to come back from: keep the window.
        if (tray_ != nullptr) {
            hide();
        }
    });
}

void MainWindowView::navigateNotice(const std::string& url) {
    onUi([&] {
        if (browser_ == nullptr) {
            auto* view = new QWebEngineView(noticeBox_);
            view->setGeometry(0, 0, noticeBox_->width(), noticeBox_->height());
            browser_ = view;
        }
        static_cast<QWebEngineView*>(browser_)->load(QUrl(QString::fromStdString(url)));
        browser_->show();
        noticeBox_->show();
        noticeBox_->raise();
        noticeShown_ = true;
    });
}

void MainWindowView::hideNotice() {
    onUi([&] {
        noticeBox_->hide();
        noticeShown_ = false;
    });
}

void MainWindowView::closeEvent(QCloseEvent* event) {
    event->ignore();
    if (chrome_.quit) {
        // The shutdown ends the process; run it outside the close event.
        QTimer::singleShot(0, this, [this] { chrome_.quit(); });
    }
}

void MainWindowView::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_ != nullptr) {
        QTimer::singleShot(0, this, [this] { hide(); });
    }
}

}  // namespace veltrin::shell
