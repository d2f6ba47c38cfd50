#include "shell/MessageBoxes.h"

#include <QMessageBox>

namespace veltrin::shell {

std::mutex MessageBoxes::mutex_;
int MessageBoxes::queued_ = 0;
bool MessageBoxes::auto_ = false;
std::vector<MessageBoxes::Box> MessageBoxes::shown_;

void MessageBoxes::show(QWidget* parent, const std::string& text, int style,
                        const std::string& title) {
    {
        std::lock_guard lock(mutex_);
        if (auto_ || queued_ > 0) {
            if (queued_ > 0) {
                --queued_;
            }
            shown_.push_back({title, text, style});
            return;
        }
    }
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromStdString(title));
    QString body = QString::fromStdString(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(body);
    box.setIcon((style & 0x40) != 0 ? QMessageBox::Information : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void MessageBoxes::setNextAnswers(int count) {
    std::lock_guard lock(mutex_);
    queued_ = count;
}

void MessageBoxes::setAutoAnswer(bool on) {
    std::lock_guard lock(mutex_);
    auto_ = on;
}

std::vector<MessageBoxes::Box> MessageBoxes::shown() {
    std::lock_guard lock(mutex_);
    return shown_;
}

void MessageBoxes::clearShown() {
    std::lock_guard lock(mutex_);
    shown_.clear();
}

}  // namespace veltrin::shell
