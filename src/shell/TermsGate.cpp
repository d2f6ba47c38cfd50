#include "shell/TermsGate.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include "service/Endpoints.h"
#include "service/RemoteParameters.h"
#include "shell/MainWindowView.h"
#include "shell/Settings.h"
#include "workflows/Workers.h"

namespace veltrin::shell {
namespace {

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TermsGate::TermsGate(ProfileFile& settings, workflows::View& boxes,
                     std::function<void(int)> exitProcess)
    : settings_(settings), boxes_(boxes), exitProcess_(std::move(exitProcess)) {
    setObjectName(QStringLiteral("TermsGate"));
    setWindowTitle(qs(terms_text::kTitle));
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* central = new QWidget(this);
    setCentralWidget(central);
    resize(420, 200);

    auto* heading = new QLabel(qs(terms_text::kHeading), central);
    heading->setObjectName(QStringLiteral("透明标签1"));
    heading->setGeometry(12, 10, 396, 24);
    auto* open = new QPushButton(qs(terms_text::kOpenTerms), central);
    open->setObjectName(QStringLiteral("按钮1"));
    open->setGeometry(12, 42, 396, 30);
    auto* agree = new QCheckBox(qs(terms_text::kAgree), central);
    agree->setObjectName(QStringLiteral("选择框1"));
    agree->setGeometry(12, 80, 396, 24);
    agree->setChecked(true);
    auto* accept = new QPushButton(qs(terms_text::kAccept), central);
    accept->setObjectName(QStringLiteral("按钮2"));
    accept->setGeometry(110, 114, 200, 34);

    auto* menu = menuBar()->addMenu(QStringLiteral("客服咨询"));
    auto* chat = menu->addAction(qs("客服QQ" + std::string(service::kBuiltInSupportContact)));
    QObject::connect(chat, &QAction::triggered, this, [] {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(
            MainWindowView::supportChatUrl(std::string(service::kBuiltInSupportContact)))));
    });
    QObject::connect(open, &QPushButton::clicked, this, [] {
        QDesktopServices::openUrl(
            QUrl(QString::fromStdString(service::endpointAddress(service::Endpoint::termsPage))));
    });
    QObject::connect(accept, &QPushButton::clicked, this,
                     [this] { workflows::startWorker([this] { this->accept(); }); });
}

bool TermsGate::agreed() {
    const auto read = [this] {
        return findChild<QCheckBox*>(QStringLiteral("选择框1"))->isChecked();
    };
    if (QThread::currentThread() == thread()) {
        return read();
    }
    bool ticked = false;
    QMetaObject::invokeMethod(this, read, Qt::BlockingQueuedConnection, &ticked);
    return ticked;
}

void TermsGate::accept() {
    if (!agreed()) {
        boxes_.showMessage(std::string(terms_text::kTickFirst), std::nullopt,
                           std::string(terms_text::kTickFirstTitle));
        return;
    }
    // A write that failed must not be reported as a signature: the gate would open again.
    if (recordTermsAccepted(settings_)) {
        boxes_.showMessage(std::string(terms_text::kAccepted), std::nullopt,
                           std::string(terms_text::kAcceptedTitle));
    } else {
        boxes_.showMessage(std::string(terms_text::kNotRecorded), std::nullopt,
                           std::string(terms_text::kAcceptedTitle));
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            accepted_ = true;
            close();
        },
        QThread::currentThread() == thread() ? Qt::DirectConnection : Qt::BlockingQueuedConnection);
}

void TermsGate::closeEvent(QCloseEvent* event) {
    if (accepted_) {
        event->accept();
        return;
    }
    event->ignore();
    QTimer::singleShot(0, this, [this] {
        boxes_.showMessage(std::string(terms_text::kClosing), std::nullopt,
                           std::string(terms_text::kClosingTitle));
        exitProcess_(0);
    });
}

}  // namespace veltrin::shell
