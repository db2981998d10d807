#include "tests/app/support/app_test_support.h"

#include <QAbstractItemView>
#include <QDir>
#include <QPixmap>
#include <QTest>

#include <cstdlib>

#include <unistd.h>

QMessageBox::StandardButton RecordingMessages::Show(QWidget *owner, const QString &text,
                                                    const QString &caption, Icon icon,
                                                    QMessageBox::StandardButtons buttons,
                                                    QMessageBox::StandardButton default_button) {
    boxes.append({owner, text, caption, icon, buttons, default_button});
    return answers.isEmpty() ? QMessageBox::Ok : answers.takeFirst();
}

QString RecordingMessages::SaveFileName(QWidget *, const QString &, const QString &) {
    ++save_dialogs;
    return save_file_name;
}

SimulatedPort::SimulatedPort(int port, std::shared_ptr<sim::Responder> model)
    : sim_(std::move(model)), port_(port) {
    char dir[] = "/tmp/parvex-ports-XXXXXX";
    if (::mkdtemp(dir) == nullptr) return;
    dir_ = dir;
    ::setenv("ZELKOR_PORT_DIR", dir, 1);
    ok_ = sim_.Start() && sim_.Publish(dir_, port_);
}

SimulatedPort::~SimulatedPort() {
    sim_.Stop();
    if (!dir_.empty()) {
        ::unlink((dir_ + "/COM" + std::to_string(port_)).c_str());
        ::rmdir(dir_.c_str());
    }
}

bool SaveScreenshot(QWidget *widget, const QString &name) {
    const QByteArray dir = qgetenv("PARVEX_SCREENSHOT_DIR");
    if (dir.isEmpty()) return true;  // run outside CTest: nothing asked for
    QDir().mkpath(QString::fromLocal8Bit(dir));
    return widget->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + name + QStringLiteral(".png"));
}

void PickFromPopup(QComboBox *list, int index) {
    list->showPopup();
    list->view()->setCurrentIndex(list->model()->index(index, list->modelColumn()));
    QTest::keyClick(list->view(), Qt::Key_Return);
}
