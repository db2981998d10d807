#include "app/parvex_app.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>

#include "app/about_dlg.h"
#include "app/console_capture.h"
#include "app/parvex_dlg.h"

CParvexApp theApp;

CParvexState &AppState() { return theApp; }

CParvexApp::CParvexApp() = default;

CParvexApp::~CParvexApp() = default;

void CParvexApp::DeliverConsoleText(const QByteArray &bytes) {
    // Output that arrives while no main dialog exists has no log to go to.
    if (theApp.m_pMainDlg != nullptr) theApp.m_pMainDlg->OnConsoleText(bytes);
}

bool InstallQtChineseTexts() {
    static const auto kName = QStringLiteral("qtbase_zh_CN");
    if (qApp->findChild<QTranslator *>(kName, Qt::FindDirectChildrenOnly) != nullptr) return true;
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto *translator = new QTranslator(qApp);
    translator->setObjectName(kName);
    if (!translator->load(kName, dir) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        std::fprintf(stderr, "Parvex: 无法加载 Qt 的中文翻译 %s（在 %s 中），Qt 自带的按钮和对话框将显示英文\n",
                     qPrintable(kName), qPrintable(QDir::toNativeSeparators(dir)));
        std::fflush(stderr);
        return false;
    }
    // Dates and sizes in the file dialog follow the same language.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    return true;
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
    InstallQtChineseTexts();

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
