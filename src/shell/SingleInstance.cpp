#include "shell/SingleInstance.h"

#include <QLocalSocket>

namespace veltrin::shell {
namespace {
constexpr int kSocketWaitMs = 2000;
const QByteArray kShow = "show\n";
}  // namespace

bool SingleInstance::askRunningToShow() const {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(name_));
    if (!socket.waitForConnected(kSocketWaitMs)) {
        return false;
    }
    socket.write(kShow);
    socket.waitForBytesWritten(kSocketWaitMs);
    // The running window answers once it has come forward.
    socket.waitForReadyRead(kSocketWaitMs);
    socket.disconnectFromServer();
    return true;
}

bool SingleInstance::listen(std::function<void()> onShow) {
    const QString name = QString::fromStdString(name_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(name)) {
        // Left behind by a run that crashed: nobody answered on it, so it is ours to take.
        QLocalServer::removeServer(name);
        if (!server_.listen(name)) {
            return false;
        }
    }
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this, onShow] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket,
                             &QLocalSocket::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, onShow] {
                if (socket->readAll().contains("show")) {
                    onShow();
                    socket->write("ok\n");
                    socket->flush();
                }
            });
        }
    });
    return true;
}

}  // namespace veltrin::shell
