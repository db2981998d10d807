// Scaffolding shared by the program's QtTest suites.
#pragma once

#include <QComboBox>
#include <QList>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>

#include "app/message_service.h"
#include "sim/simulator.h"

// Records every message box instead of showing it, and answers with queued
// buttons (Ok when none is queued).
class RecordingMessages : public MessageService {
public:
    struct Box {
        QWidget *owner = nullptr;
        QString text;
        QString caption;
        Icon icon = Icon::None;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton default_button = QMessageBox::NoButton;
    };

    RecordingMessages() { MessageService::Install(this); }
    ~RecordingMessages() override { MessageService::Install(nullptr); }

    QMessageBox::StandardButton Show(QWidget *owner, const QString &text, const QString &caption,
                                     Icon icon, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton default_button) override;
    QString SaveFileName(QWidget *owner, const QString &caption, const QString &filter) override;

    QList<Box> boxes;
    QList<QMessageBox::StandardButton> answers;  // consumed front first
    QString save_file_name;                      // what the file dialog "returns"
    int save_dialogs = 0;

    void clear() { boxes.clear(); }
    // Text of the last box, or empty.
    QString lastText() const { return boxes.isEmpty() ? QString() : boxes.last().text; }
};

// A simulated reader published as COM<port> in a private ZELKOR_PORT_DIR.
class SimulatedPort {
public:
    explicit SimulatedPort(int port = 3, std::shared_ptr<sim::Responder> model = nullptr);
    ~SimulatedPort();
    bool ok() const { return ok_; }
    int port() const { return port_; }
    sim::Simulator &sim() { return sim_; }
    const std::string &dir() const { return dir_; }

private:
    sim::Simulator sim_;
    std::string dir_;
    int port_;
    bool ok_ = false;
};

// Writes a PNG of `widget` as <name>.png into $PARVEX_SCREENSHOT_DIR. True
// when written, and when that variable is unset (nothing is written then).
bool SaveScreenshot(QWidget *widget, const QString &name);

// Chooses entry `index` of `list` as the operator does: drops the list down
// and presses Enter on the entry (also when it is the one already shown).
void PickFromPopup(QComboBox *list, int index);

// Processes events until `condition` holds or `timeout_ms` passes.
template <typename Condition>
bool WaitUntil(Condition condition, int timeout_ms);

#include "tests/app/support/app_test_support.inl"
