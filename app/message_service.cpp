#include "app/message_service.h"

#include <QFileDialog>

namespace {

MessageService *g_installed = nullptr;

QMessageBox::Icon ToQt(MessageService::Icon icon) {
    switch (icon) {
    case MessageService::Icon::Error: return QMessageBox::Critical;
    case MessageService::Icon::Warning: return QMessageBox::Warning;
    case MessageService::Icon::Question: return QMessageBox::Question;
    case MessageService::Icon::Information: return QMessageBox::Information;
    case MessageService::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

QMessageBox::StandardButton MessageService::Show(QWidget *owner, const QString &text,
                                                 const QString &caption, Icon icon,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton default_button) {
    QMessageBox box(ToQt(icon), caption, text, buttons, owner);
    if (default_button != QMessageBox::NoButton) box.setDefaultButton(default_button);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString MessageService::SaveFileName(QWidget *owner, const QString &caption, const QString &filter) {
    // Qt's own dialog, in Chinese like the rest of the program; the desktop's
    // dialog would follow the system's language.
    return QFileDialog::getSaveFileName(owner, caption, QString(), filter, nullptr,
                                        QFileDialog::DontUseNativeDialog);
}

QString MessageService::OpenFileName(QWidget *owner, const QString &caption, const QString &filter) {
    return QFileDialog::getOpenFileName(owner, caption, QString(), filter);
}

MessageService &MessageService::Instance() {
    static MessageService real;
    return g_installed != nullptr ? *g_installed : real;
}

void MessageService::Install(MessageService *service) { g_installed = service; }

void ShowError(QWidget *owner, const QString &text, const QString &caption) {
    MessageService::Instance().Show(owner, text, caption, MessageService::Icon::Error);
}
