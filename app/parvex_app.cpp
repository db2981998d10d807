#include "parvex_app.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>

#include "about_dlg.h"
#include "console_capture.h"
#include "parvex_dlg.h"

CParvexApp theApp;

CParvexApp::CParvexApp() = default;

CParvexApp::~CParvexApp() = default;

void CParvexApp::DeliverConsoleText(const QByteArray &bytes) {
    // Output that arrives while no main dialog exists has no log to go to.
    if (theApp.m_pMainDlg != nullptr) theApp.m_pMainDlg->OnConsoleText(bytes);
}

bool CParvexApp::StartCapture() {
    if (m_capture) return true;
    auto capture = std::make_unique<ConsoleCapture>();
    if (!capture->Start(1)) return false;
    QObject::connect(capture.get(), &ConsoleCapture::chunkRead, capture.get(), &CParvexApp::DeliverConsoleText);
    m_capture = std::move(capture);
    return true;
}

void CParvexApp::StopCapture() {
    if (!m_capture) return;
    m_capture->Stop();
    m_capture.reset();
}

int CParvexApp::InitInstance(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kProgramName));
    QApplication::setOrganizationName(QStringLiteral("Norvane"));
    QApplication::setWindowIcon(ParvexIcon());

    StartCapture();
    int result = 0;
    {
        CParvexDlg dialog;
        dialog.show();
        result = dialog.exec();
    }
    StopCapture();
    // The dialog ended with 退出, Escape or the close box: a normal end.
    (void)result;
    return 0;
}
