// The main window: start-up state, the serial panel against the simulator,
// device removal, the log buttons, the link, the about box and the keyboard.
#include <QAccessible>
#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QGroupBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

#include "app/about_dlg.h"
#include "app/log_find_bar.h"
#include "tests/app/support/app_test_support.h"
#include "app/cpu_card.h"
#include "app/mifare_card.h"
#include "app/parvex_app.h"
#include "app/parvex_dlg.h"
#include "app/whole_card_page.h"
#include "tests/app/support/test_main.h"
#include "zelkor.h"

namespace {

template <typename T = QWidget>
T *Control(QWidget *window, int id) {
    T *found = window->findChild<T *>(QStringLiteral("IDC_%1").arg(id));
    if (found == nullptr) qFatal("control %d not found", id);
    return found;
}

QStringList Entries(QComboBox *combo) {
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
    return entries;
}

int IndexOfPort(QComboBox *combo, int port) {
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i).startsWith(QStringLiteral("COM%1 (").arg(port))) return i;
    return -1;
}

// Receives the URLs the window asks the desktop to open.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(theApp.StartCapture()); }
    void cleanupTestCase() { theApp.StopCapture(); }
    void init() { theApp.m_bPortOpen = false; theApp.m_nCardType = 0; }

    void startUpState();
    void everyControlHasAnAccessibleName();
    void portNumberFromEntry_data();
    void portNumberFromEntry();
    void lineSettingChoices_data();
    void lineSettingChoices();
    void portListIsRefilledOnDropDown();
    void openWithoutPortAsksForOne();
    void openAndCloseThroughTheSimulator();
    void openFailureAndCloseFailure();
    void readerBaudRateIsConsumedOnce();
    void removalClosesThePanel();
    void saveWritesTheLogAsUtf8();
    void enterDoesNotEndTheWindow();
    void escapeAndExitEndTheWindow_data();
    void escapeAndExitEndTheWindow();
    void aboutBoxFromF1AndContextMenu();
    void contactLinkOpensTheReadme();
    void qtOwnTextsAreChinese();
    void groupsAndLinkForScreenReaders();
    void findInTheLog();
    void fitsTheScreen();
};

void MainWindowTest::startUpState() {
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(theApp.m_pMainDlg, &dlg);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Norvane  串口调试助手V2.0"));
    QVERIFY(!dlg.windowIcon().isNull());

    auto *tabs = Control<QTabWidget>(&dlg, 1046);
    QCOMPARE(tabs->count(), 4);
    QCOMPARE(tabs->tabText(0), QStringLiteral("S50"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("S70"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("CPU"));
    QCOMPARE(tabs->tabText(3), QStringLiteral("整卡"));
    QCOMPARE(tabs->widget(0), static_cast<QWidget *>(dlg.m_pageS50));
    QCOMPARE(tabs->widget(1), static_cast<QWidget *>(dlg.m_pageS70));
    QCOMPARE(tabs->widget(2), static_cast<QWidget *>(dlg.m_pageCpu));
    QCOMPARE(tabs->widget(3), static_cast<QWidget *>(dlg.m_pageWholeCard));
    QCOMPARE(dlg.m_pageS50->m_pParent, &dlg);
    QCOMPARE(dlg.m_pageS70->m_pParent, &dlg);
    QCOMPARE(dlg.m_pageCpu->m_pParent, &dlg);
    QCOMPARE(dlg.m_pageWholeCard->m_pParent, &dlg);
    QCOMPARE(tabs->currentIndex(), 0);
    QVERIFY(dlg.m_pageS50->isVisible());
    QVERIFY(!dlg.m_pageCpu->isVisible());
    tabs->setCurrentIndex(2);
    QCOMPARE(dlg.m_nCurPage, 2);
    QVERIFY(dlg.m_pageCpu->isVisible() && !dlg.m_pageS50->isVisible());
    tabs->setCurrentIndex(0);
    QCOMPARE(dlg.m_nCurPage, 0);

    QCOMPARE(Entries(Control<QComboBox>(&dlg, 1002)),
             QStringList({"115200", "57600", "38400", "19200", "9600", "4800", "2400"}));
    QCOMPARE(Control<QComboBox>(&dlg, 1002)->currentText(), QStringLiteral("9600"));
    QCOMPARE(Entries(Control<QComboBox>(&dlg, 1003)), QStringList({"偶校验", "奇校验", "无校验"}));
    QCOMPARE(Control<QComboBox>(&dlg, 1003)->currentIndex(), 2);
    QCOMPARE(Entries(Control<QComboBox>(&dlg, 1004)), QStringList({"6", "7", "8"}));
    QCOMPARE(Control<QComboBox>(&dlg, 1004)->currentIndex(), 2);
    QCOMPARE(Entries(Control<QComboBox>(&dlg, 1005)), QStringList({"1", "1.5", "2"}));
    QCOMPARE(Control<QComboBox>(&dlg, 1005)->currentIndex(), 0);
    QCOMPARE(Entries(Control<QComboBox>(&dlg, 1023)),
             QStringList({"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    QCOMPARE(Control<QComboBox>(&dlg, 1023)->currentIndex(), -1);
    QCOMPARE(Control<QComboBox>(&dlg, 1001)->currentIndex(), -1);
    for (int id : {1001, 1002, 1003, 1004, 1005, 1023}) {
        QVERIFY(!Control<QComboBox>(&dlg, id)->isEditable());
        QCOMPARE(Control<QComboBox>(&dlg, id)->property("controlId").toInt(), id);
    }
    QCOMPARE(dlg.m_nPort, 0);
    QCOMPARE(dlg.m_nBaudRate, 9600);
    QCOMPARE(dlg.m_nParity, 0);
    QCOMPARE(dlg.m_nDataBits, 8);
    QCOMPARE(dlg.m_nStopBits, 0);
    QCOMPARE(dlg.m_nReaderBaudIndex, -1);
    QVERIFY(!theApp.m_bPortOpen);

    const struct {
        int id;
        const char *text;
    } buttons[] = {{1000, "打开串口"},   {1010, "获取卡片信息"}, {1006, "标准询卡"},     {1059, "唤醒询卡"},
                   {1008, "防 冲 突"},   {1025, "复合寻卡"},     {1009, "选   卡"},      {1026, "暂停卡"},
                   {1021, "获取序列号"}, {1012, "开启自动寻卡"}, {1013, "关闭自动寻卡"}, {1014, "开启蜂鸣器"},
                   {1015, "关闭蜂鸣器"}, {1016, "关闭所有天线"}, {1019, "手动寻卡"},     {1024, "设置波特率"},
                   {4, "保存数据"},      {3, "清除数据"},       {2, "退出"}};
    for (const auto &b : buttons) {
        auto *button = Control<QPushButton>(&dlg, b.id);
        QCOMPARE(button->text(), QString::fromUtf8(b.text));
        QVERIFY(!button->isDefault());
    }
    QVERIFY(Control<QLineEdit>(&dlg, 1045)->isReadOnly());
    QVERIFY(Control<QLineEdit>(&dlg, 1020)->isReadOnly());
    QVERIFY(Control<QPlainTextEdit>(&dlg, 1007)->isReadOnly());
    QVERIFY(Control<QLabel>(&dlg, 1132)->text().startsWith(QStringLiteral("如有问题请联系我们：<a href=")));
    QVERIFY(Control<QLabel>(&dlg, 1132)->text().endsWith(QStringLiteral(">Norvane</a>")));

    // Arrangement: serial panel left of the card operations, both above the
    // reader operations, the tabs on the right, the log below everything and
    // the buttons under the log at the right, the link at the left.
    auto pos = [&](int id) { return Control(&dlg, id)->mapTo(&dlg, QPoint(0, 0)); };
    QVERIFY(pos(1001).x() < pos(1045).x());
    QVERIFY(pos(1000).y() < pos(1021).y());
    QVERIFY(pos(1045).x() < pos(1046).x() && pos(1023).x() < pos(1046).x());
    QVERIFY(pos(1046).y() + tabs->height() <= pos(1007).y());
    QVERIFY(pos(1007).y() + dlg.m_log->height() <= pos(2).y());
    QVERIFY(pos(4).x() < pos(3).x() && pos(3).x() < pos(2).x());
    QVERIFY(pos(1132).x() < pos(4).x());
    QVERIFY(dlg.minimumWidth() > 600 && dlg.minimumHeight() > 400);

    dlg.OnConsoleText(QByteArray("\xB7\xA2\xCB\xCD\xCA\xFD\xBE\xDD\xA3\xBA" "55 55 00 00 00 04 02 01 26 21 \n"
                                 "\xD1\xB0\xBF\xA8\xB3\xC9\xB9\xA6\n"));
    Control<QLineEdit>(&dlg, 1045)->setText(QStringLiteral("12 34 56 78 S50卡"));
    QVERIFY(SaveScreenshot(&dlg, QStringLiteral("main_window")));
}

void MainWindowTest::everyControlHasAnAccessibleName() {
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QStringList unnamed;
    const auto widgets = dlg.findChildren<QWidget *>(QRegularExpression(QStringLiteral("^IDC_")));
    QVERIFY(widgets.size() >= 30);
    for (QWidget *w : widgets) {
        if (w->window() != &dlg || !w->isVisible()) continue;
        QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
        if (iface == nullptr || iface->text(QAccessible::Name).trimmed().isEmpty()) unnamed << w->objectName();
    }
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1Char(' '))));
    QCOMPARE(QAccessible::queryAccessibleInterface(Control(&dlg, 1001))->text(QAccessible::Name), QStringLiteral("端口"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Control(&dlg, 1023))->text(QAccessible::Name),
             QStringLiteral("读卡器波特率"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Control(&dlg, 1045))->text(QAccessible::Name),
             QStringLiteral("卡片信息"));
    QCOMPARE(QAccessible::queryAccessibleInterface(Control(&dlg, 1006))->text(QAccessible::Name),
             QStringLiteral("标准询卡"));
}

void MainWindowTest::portNumberFromEntry_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    QTest::newRow("COM3") << "COM3" << 3;
    QTest::newRow("COM10 with its device") << "COM10 (/dev/ttyS9)" << 10;
    QTest::newRow("COM12 published") << "COM12 (/dev/pts/4)" << 12;
    QTest::newRow("USB adapter") << "COM101 (/dev/ttyUSB0)" << 101;
    QTest::newRow("M in the device only") << "port (/dev/ttyAMA0)" << 0;
    QTest::newRow("no M") << "ttyS0" << 0;
    QTest::newRow("no digits") << "COMx" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("absurdly long") << "COM99999999999999" << 0;
}

void MainWindowTest::portNumberFromEntry() {
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(CParvexDlg::PortNumberFromText(text), port);
}

void MainWindowTest::lineSettingChoices_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::newRow("115200") << 1002 << 0 << 115200 << 0 << 8 << 0;
    QTest::newRow("2400") << 1002 << 6 << 2400 << 0 << 8 << 0;
    QTest::newRow("偶校验") << 1003 << 0 << 9600 << 2 << 8 << 0;
    QTest::newRow("奇校验") << 1003 << 1 << 9600 << 1 << 8 << 0;
    QTest::newRow("6 data bits") << 1004 << 0 << 9600 << 0 << 6 << 0;
    QTest::newRow("7 data bits") << 1004 << 1 << 9600 << 0 << 7 << 0;
    QTest::newRow("1.5 stop bits") << 1005 << 1 << 9600 << 0 << 8 << 1;
    QTest::newRow("2 stop bits") << 1005 << 2 << 9600 << 0 << 8 << 2;
}

void MainWindowTest::lineSettingChoices() {
    QFETCH(int, id);
    QFETCH(int, index);
    CParvexDlg dlg;
    Control<QComboBox>(&dlg, id)->setCurrentIndex(index);
    QTEST(dlg.m_nBaudRate, "baud");
    QTEST(dlg.m_nParity, "parity");
    QTEST(dlg.m_nDataBits, "dataBits");
    QTEST(dlg.m_nStopBits, "stopBits");
}

void MainWindowTest::portListIsRefilledOnDropDown() {
    SimulatedPort first(10);
    QVERIFY(first.ok());
    CParvexDlg dlg;
    dlg.show();
    auto *ports = Control<QComboBox>(&dlg, 1001);
    QVERIFY(IndexOfPort(ports, 10) >= 0);
    QCOMPARE(ports->currentIndex(), -1);
    ports->setCurrentIndex(IndexOfPort(ports, 10));
    QCOMPARE(dlg.m_nPort, 10);
    QVERIFY(IndexOfPort(ports, 11) < 0);

    sim::Simulator second;
    QVERIFY(second.Start() && second.Publish(first.dir(), 11));
    ports->showPopup();
    ports->hidePopup();
    QVERIFY(IndexOfPort(ports, 11) >= 0);
    QVERIFY(IndexOfPort(ports, 10) >= 0);
    QCOMPARE(ports->currentIndex(), -1);  // the shown selection is cleared
    QCOMPARE(dlg.m_nPort, 10);            // the choice is kept
    QVERIFY(ports->itemText(IndexOfPort(ports, 11)).contains(QString::fromStdString(second.device_path())));
    second.Stop();
    ::unlink((first.dir() + "/COM11").c_str());
}

void MainWindowTest::openWithoutPortAsksForOne() {
    RecordingMessages messages;
    CParvexDlg dlg;
    Control<QPushButton>(&dlg, 1000)->click();
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].text, QStringLiteral("请先选择串口"));
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("串口选择"));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(Control<QPushButton>(&dlg, 1000)->text(), QStringLiteral("打开串口"));
    QVERIFY(!theApp.m_bPortOpen);
}

void MainWindowTest::openAndCloseThroughTheSimulator() {
    SimulatedPort port(10);
    QVERIFY(port.ok());
    RecordingMessages messages;
    CParvexDlg dlg;
    auto *ports = Control<QComboBox>(&dlg, 1001);
    ports->setCurrentIndex(IndexOfPort(ports, 10));
    Control<QComboBox>(&dlg, 1002)->setCurrentIndex(1);  // 57600
    Control<QPushButton>(&dlg, 1000)->click();
    QVERIFY(messages.boxes.isEmpty());
    QVERIFY(theApp.m_bPortOpen);
    QCOMPARE(Control<QPushButton>(&dlg, 1000)->text(), QStringLiteral("关闭串口"));
    QCOMPARE(port.sim().line_baud(), 57600);
    for (int id : {1001, 1002, 1003, 1004, 1005}) QVERIFY(!Control(&dlg, id)->isEnabled());
    for (int id : {1000, 1023, 1024}) QVERIFY(Control(&dlg, id)->isEnabled());

    // A command goes through and its trace and message reach the log.
    Control<QPushButton>(&dlg, 1006)->click();
    QVERIFY(WaitUntil([&] { return dlg.m_log->toPlainText().contains(QStringLiteral("寻卡成功")); }, 3000));
    QVERIFY(dlg.m_log->toPlainText().contains(QStringLiteral("发送数据：55 55 00 00 00 04 02 01 26 21")));

    Control<QPushButton>(&dlg, 1000)->click();
    QVERIFY(messages.boxes.isEmpty());
    QVERIFY(!theApp.m_bPortOpen);
    QCOMPARE(Control<QPushButton>(&dlg, 1000)->text(), QStringLiteral("打开串口"));
    QCOMPARE(ports->currentIndex(), -1);
    QCOMPARE(dlg.m_nPort, 0);
    QCOMPARE(dlg.m_nBaudRate, 57600);  // line settings survive
    for (int id : {1001, 1002, 1003, 1004, 1005}) QVERIFY(Control(&dlg, id)->isEnabled());
    // A port must be chosen again.
    Control<QPushButton>(&dlg, 1000)->click();
    QCOMPARE(messages.lastText(), QStringLiteral("请先选择串口"));
}

void MainWindowTest::openFailureAndCloseFailure() {
    SimulatedPort port(10);
    QVERIFY(port.ok());
    RecordingMessages messages;
    CParvexDlg dlg;

    dlg.m_nPort = 77;  // nothing behind it
    Control<QPushButton>(&dlg, 1000)->click();
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].text, QStringLiteral("打开串口失败！"));
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("Parvex"));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::None);
    QCOMPARE(messages.boxes[0].owner, &dlg);
    QVERIFY(!theApp.m_bPortOpen);
    QCOMPARE(Control<QPushButton>(&dlg, 1000)->text(), QStringLiteral("打开串口"));
    QCOMPARE(dlg.m_nPort, 77);

    messages.clear();
    auto *ports = Control<QComboBox>(&dlg, 1001);
    ports->setCurrentIndex(IndexOfPort(ports, 10));
    Control<QPushButton>(&dlg, 1000)->click();
    QVERIFY(theApp.m_bPortOpen);
    CloseReader();  // the session is gone behind the window's back
    Control<QPushButton>(&dlg, 1000)->click();
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].text, QStringLiteral("关闭串口失败，请稍后重试!"));
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("错误："));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(messages.boxes[0].owner, nullptr);
    QVERIFY(theApp.m_bPortOpen);
    QCOMPARE(Control<QPushButton>(&dlg, 1000)->text(), QStringLiteral("关闭串口"));
}

void MainWindowTest::readerBaudRateIsConsumedOnce() {
    SimulatedPort port(10);
    QVERIFY(port.ok());
    RecordingMessages messages;
    CParvexDlg dlg;
    auto *setBaud = Control<QPushButton>(&dlg, 1024);
    auto *readerBaud = Control<QComboBox>(&dlg, 1023);

    PickFromPopup(readerBaud, 6);
    setBaud->click();  // port closed
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].text, QStringLiteral("请先打开读卡器串口"));
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("串口设置"));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(dlg.m_nReaderBaudIndex, 6);

    auto *ports = Control<QComboBox>(&dlg, 1001);
    ports->setCurrentIndex(IndexOfPort(ports, 10));
    Control<QPushButton>(&dlg, 1000)->click();
    QVERIFY(theApp.m_bPortOpen);
    PickFromPopup(readerBaud, 0);  // "2400" is index 0
    messages.clear();
    setBaud->click();
    QVERIFY(messages.boxes.isEmpty());
    QVERIFY(port.sim().WaitForFrames(1, 2000));
    QCOMPARE(port.sim().Frames().back(), (sim::Bytes{0x55, 0x55, 0x00, 0x00, 0x00, 0x04, 0xBD, 0x01, 0x01, 0xB9}));
    QCOMPARE(dlg.m_nReaderBaudIndex, -1);
    QCOMPARE(readerBaud->currentIndex(), 0);  // the list still shows the old choice

    setBaud->click();
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].text, QStringLiteral("请选择合适的波特率"));
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("波特率设置"));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(port.sim().FrameCount(), std::size_t{1});

    // The entry still shown, chosen again, is a new choice.
    PickFromPopup(readerBaud, 0);
    messages.clear();
    setBaud->click();
    QVERIFY(messages.boxes.isEmpty());
    QVERIFY(port.sim().WaitForFrames(2, 2000));
    QCOMPARE(port.sim().Frames().back(), port.sim().Frames().front());
    Control<QPushButton>(&dlg, 1000)->click();
}

void MainWindowTest::removalClosesThePanel() {
    SimulatedPort port(10);
    QVERIFY(port.ok());
    RecordingMessages messages;
    CParvexDlg dlg;
    auto *ports = Control<QComboBox>(&dlg, 1001);
    ports->setCurrentIndex(IndexOfPort(ports, 10));
    Control<QPushButton>(&dlg, 1000)->click();
    QVERIFY(theApp.m_bPortOpen);
    QTest::qWait(2 * CParvexDlg::kRemovalPollMs);
    QVERIFY(messages.boxes.isEmpty());  // a present device is left alone

    port.sim().Unplug();
    QVERIFY(WaitUntil([&] { return !messages.boxes.isEmpty(); }, 1500));
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].text, QStringLiteral("读卡器已经断开连接！"));
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("Parvex"));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::None);
    QVERIFY(!theApp.m_bPortOpen);
    QCOMPARE(Control<QPushButton>(&dlg, 1000)->text(), QStringLiteral("打开串口"));
    QCOMPARE(dlg.m_nPort, 0);
    QCOMPARE(ports->currentIndex(), -1);
    for (int id : {1001, 1002, 1003, 1004, 1005}) QVERIFY(Control(&dlg, id)->isEnabled());
    QCOMPARE(CloseReader(), 0);  // the session was closed
    QTest::qWait(2 * CParvexDlg::kRemovalPollMs);
    QCOMPARE(messages.boxes.size(), 1);  // told once
}

void MainWindowTest::saveWritesTheLogAsUtf8() {
    RecordingMessages messages;
    QTemporaryDir dir;
    CParvexDlg dlg;
    dlg.OnConsoleText(QByteArray("\xD1\xB0\xBF\xA8\xB3\xC9\xB9\xA6\nline two\n"));
    auto *save = Control<QPushButton>(&dlg, 4);

    messages.save_file_name.clear();  // cancelled
    save->click();
    QCOMPARE(messages.save_dialogs, 1);
    QVERIFY(messages.boxes.isEmpty());

    messages.save_file_name = dir.filePath(QStringLiteral("log.txt"));
    save->click();
    QCOMPARE(messages.save_dialogs, 2);
    QVERIFY(messages.boxes.isEmpty());
    QFile file(messages.save_file_name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QStringLiteral("寻卡成功\nline two\n").toUtf8());

    messages.save_file_name = dir.filePath(QStringLiteral("missing/sub/log.txt"));
    save->click();
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("保存数据"));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::Error);
    QVERIFY(dlg.m_log->toPlainText().startsWith(QStringLiteral("寻卡成功")));  // the log is kept
}

void MainWindowTest::enterDoesNotEndTheWindow() {
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.activateWindow();
    for (int id : {1002, 1045, 1007, 1023}) {
        Control(&dlg, id)->setFocus();
        QTest::keyClick(Control(&dlg, id), Qt::Key_Return);
        QTest::keyClick(Control(&dlg, id), Qt::Key_Enter);
        QVERIFY2(dlg.isVisible(), qPrintable(QString::number(id)));
    }
    QTest::keyClick(&dlg, Qt::Key_Return);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), 0);

    // Enter presses push buttons only: a focused radio button stays unchosen.
    auto *keyB = Control<QRadioButton>(dlg.m_pageS50, 1032);
    keyB->setFocus();
    QTest::keyClick(keyB, Qt::Key_Return);
    QVERIFY(!keyB->isChecked());
}

void MainWindowTest::escapeAndExitEndTheWindow_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("退出") << false;
}

void MainWindowTest::escapeAndExitEndTheWindow() {
    QFETCH(bool, escape);
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    if (escape) {
        Control(&dlg, 1002)->setFocus();
        QTest::keyClick(Control(&dlg, 1002), Qt::Key_Escape);
    } else {
        Control<QPushButton>(&dlg, 2)->click();
    }
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
}

void MainWindowTest::aboutBoxFromF1AndContextMenu() {
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.activateWindow();
    QAction *about = nullptr;
    for (QAction *action : dlg.actions())
        if (action->text() == QStringLiteral("关于 Parvex(&A)...")) about = action;
    QVERIFY(about != nullptr);
    QCOMPARE(dlg.contextMenuPolicy(), Qt::ActionsContextMenu);
    QCOMPARE(about->shortcut(), QKeySequence(Qt::Key_F1));

    QStringList seen;
    auto inspect = [&] {
        auto *box = qobject_cast<CAboutDlg *>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        seen << box->windowTitle();
        for (QLabel *label : box->findChildren<QLabel *>())
            if (!label->text().isEmpty()) seen << label->text();
        auto *ok = box->findChild<QPushButton *>();
        seen << ok->text();
        ok->click();
    };
    QTimer::singleShot(100, this, inspect);
    QTest::keyClick(&dlg, Qt::Key_F1);
    QVERIFY(seen.contains(QStringLiteral("关于 Parvex")));
    QVERIFY(seen.contains(QStringLiteral("Parvex，1.0 版")));
    QVERIFY(seen.contains(QStringLiteral("确定")));
    QCOMPARE(seen.size(), 4);
}

void MainWindowTest::contactLinkOpensTheReadme() {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    CParvexDlg dlg;
    auto *link = Control<QLabel>(&dlg, 1132);
    const QString html = link->text();
    const qsizetype start = html.indexOf(QStringLiteral("href=\"")) + 6;
    const QString href = html.mid(start, html.indexOf(QLatin1Char('"'), start) - start);
    emit link->linkActivated(href);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(recorder.urls.size(), 1);
    QVERIFY(recorder.urls[0].isLocalFile());
    QVERIFY(recorder.urls[0].toLocalFile().endsWith(QStringLiteral("/README.md")));
    QFile readme(recorder.urls[0].toLocalFile());
    QVERIFY(readme.open(QIODevice::ReadOnly));
    QVERIFY(readme.readAll().contains("Parvex"));
}

// Qt's own buttons and menus speak Chinese: the box that asks for an open
// port, and the log's context menu.
void MainWindowTest::qtOwnTextsAreChinese() {
    QVERIFY(InstallQtChineseTexts());
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QStringList buttons;
    QStringList menu;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            QVERIFY(box->text() == QStringLiteral("请先打开读卡器串口"));
            for (QAbstractButton *button : box->buttons()) buttons << button->text();
            box->buttons().constFirst()->click();
        } else if (auto *popup = qobject_cast<QMenu *>(QApplication::activePopupWidget())) {
            for (QAction *action : popup->actions()) menu << action->text().section(QLatin1Char('('), 0, 0);
            popup->close();
        }
    });
    poll.start(20);
    Control<QPushButton>(&dlg, 1006)->click();
    QCOMPARE(buttons, QStringList{QStringLiteral("确定")});
    emit dlg.m_log->customContextMenuRequested(QPoint(10, 10));
    QVERIFY(menu.contains(QStringLiteral("复制")));
    QVERIFY(menu.contains(QStringLiteral("全选\tCtrl+A")));
    QVERIFY(menu.contains(QStringLiteral("查找")));
}

// Each group is announced by its own title, and the contact link is one Tab stop.
void MainWindowTest::groupsAndLinkForScreenReaders() {
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QStringList titles;
    QStringList names;
    for (QGroupBox *group : dlg.findChildren<QGroupBox *>()) {
        if (group->parentWidget() != &dlg && group->parentWidget()->parentWidget() != &dlg) continue;
        titles << group->title();
        names << QAccessible::queryAccessibleInterface(group)->text(QAccessible::Name);
    }
    QCOMPARE(titles.size(), 5);
    QCOMPARE(names, titles);

    dlg.activateWindow();
    Control(&dlg, 2)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Control(&dlg, 1132));
    // At that one stop Enter opens the README.
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
    QTest::keyClick(Control(&dlg, 1132), Qt::Key_Return);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(recorder.urls.size(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Control(&dlg, 1001));
}

void MainWindowTest::findInTheLog() {
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.activateWindow();
    dlg.OnConsoleText(QByteArray("one FindCard\ntwo\nthree findcard\n"));
    dlg.m_log->moveCursor(QTextCursor::Start);
    auto *bar = dlg.findChild<CLogFindBar *>();
    QVERIFY(bar->isHidden());
    QTest::keyClick(&dlg, Qt::Key_F, Qt::ControlModifier);
    QVERIFY(bar->isVisible());
    QCOMPARE(QApplication::focusWidget(), bar->textBox());
    QTest::keyClicks(bar->textBox(), QStringLiteral("findcard"));
    auto selectedAt = [&] { return dlg.m_log->textCursor().selectionStart(); };
    const struct {
        Qt::KeyboardModifiers modifiers;
        int at;
        bool wrapped;
    } steps[] = {{Qt::NoModifier, 4, false},
                 {Qt::NoModifier, 23, false},
                 {Qt::NoModifier, 4, true},
                 {Qt::ShiftModifier, 23, true},
                 {Qt::ShiftModifier, 4, false}};
    for (const auto &step : steps) {
        QTest::keyClick(bar->textBox(), Qt::Key_Return, step.modifiers);
        QCOMPARE(selectedAt(), step.at);
        QCOMPARE(!bar->status().isEmpty(), step.wrapped);
    }
    QTest::keyClicks(bar->textBox(), QStringLiteral("x"));
    QTest::keyClick(bar->textBox(), Qt::Key_Return);
    QCOMPARE(bar->status(), QStringLiteral("找不到“findcardx”"));
    QCOMPARE(selectedAt(), 4);
    // Escape closes the bar, not the window.
    QTest::keyClick(bar->textBox(), Qt::Key_Escape);
    QVERIFY(bar->isHidden());
    QVERIFY(dlg.isVisible());
}

// The window fits the screen it opens on (CTest runs this on a 1366x768
// screen and on a 1280x720 one scaled by 1.5) and shows every control whole.
void MainWindowTest::fitsTheScreen() {
    CParvexDlg dlg;
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QRect screen = dlg.screen()->availableGeometry();
    // Room for a title bar and a task bar the platform may not report.
    const QSize room = screen.size() - QSize(0, 72);
    QVERIFY2(dlg.minimumSize().width() <= room.width() && dlg.minimumSize().height() <= room.height(),
             qPrintable(QStringLiteral("%1x%2").arg(dlg.minimumWidth()).arg(dlg.minimumHeight())));
    QVERIFY(screen.contains(dlg.frameGeometry()));
    for (int page = 0; page < dlg.m_tab->count(); ++page) {
        dlg.m_tab->setCurrentIndex(page);
        for (QWidget *w : dlg.findChildren<QWidget *>(QRegularExpression(QStringLiteral("^IDC_")))) {
            if (!w->isVisible()) continue;
            const QRect shown(w->mapTo(&dlg, QPoint(0, 0)), w->size());
            QVERIFY2(dlg.rect().contains(shown), qPrintable(w->objectName()));
            // A minimum set on the control itself counts over its hint.
            const QSize hint = w->minimumSizeHint();
            const QSize least(w->minimumWidth() > 0 ? w->minimumWidth() : hint.width(),
                              w->minimumHeight() > 0 ? w->minimumHeight() : hint.height());
            QVERIFY2(w->width() >= least.width() && w->height() >= least.height(), qPrintable(w->objectName()));
        }
    }
    dlg.m_tab->setCurrentIndex(0);
    dlg.OnConsoleText(QByteArray("\xB7\xA2\xCB\xCD\xCA\xFD\xBE\xDD\xA3\xBA" "55 55 00 00 00 04 02 01 26 21 \n"));
    QTest::keyClick(&dlg, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClicks(dlg.findChild<CLogFindBar *>()->textBox(), QStringLiteral("55 55"));
    QTest::keyClick(dlg.findChild<CLogFindBar *>()->textBox(), Qt::Key_Return);
    const QString name = QStringLiteral("main_window_%1x%2@%3x")
                             .arg(screen.width())
                             .arg(screen.height())
                             .arg(dlg.devicePixelRatioF());
    QVERIFY(SaveScreenshot(&dlg, name));
}

PARVEX_TEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
