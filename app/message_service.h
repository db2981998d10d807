// Every modal message box and file dialog of the program goes through here,
// so tests can see and answer them without a real modal loop.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

class MessageService {
public:
    enum class Icon { None, Error, Warning, Question, Information };

    virtual ~MessageService() = default;

    // Shows `text` with `caption` and `icon`, owned by `owner` (may be null),
    // and returns the button pressed.
    virtual QMessageBox::StandardButton Show(QWidget *owner, const QString &text,
                                             const QString &caption, Icon icon,
                                             QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                             QMessageBox::StandardButton default_button = QMessageBox::NoButton);

    // Asks for a file name to save to; empty when the operator cancelled.
    virtual QString SaveFileName(QWidget *owner, const QString &caption, const QString &filter);
    // Asks for an existing file to read; empty when the operator cancelled.
    virtual QString OpenFileName(QWidget *owner, const QString &caption, const QString &filter);

    // The service in force; tests install their own with Install().
    static MessageService &Instance();
    // Installs `service` (not owned); null restores the real dialogs.
    static void Install(MessageService *service);
};

// Shorthand for the common case: an error box with an OK button.
void ShowError(QWidget *owner, const QString &text, const QString &caption);
