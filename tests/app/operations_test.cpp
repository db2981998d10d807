// The main window's reader and card buttons against the simulator: the port
// check, the frame each sends, what the edit boxes and the log show, and
// that failed calls leave the shown data alone.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "tests/app/support/app_test_support.h"
#include "app/parvex_app.h"
#include "app/parvex_dlg.h"
#include "tests/app/support/test_main.h"
#include "zelkor.h"

namespace {

using sim::Bytes;

QPushButton *Button(QWidget *window, int id) {
    auto *button = window->findChild<QPushButton *>(QStringLiteral("IDC_%1").arg(id));
    if (button == nullptr) qFatal("button %d not found", id);
    return button;
}

Bytes B(std::initializer_list<int> values) {
    Bytes bytes;
    for (int v : values) bytes.push_back(static_cast<std::uint8_t>(v));
    return bytes;
}

// The reader acknowledges a manual search at once and reports the card later.
sim::Reaction ManualAnswer(std::uint8_t status, const Bytes &card) {
    sim::Reaction r = sim::Answer(0);
    r.pieces.push_back({100, sim::EncodeAnswer(status, card)});
    return r;
}

// A window with the port open on a simulated reader.
struct OpenWindow {
    SimulatedPort port{12};
    CParvexDlg dlg;
    bool open() {
        if (!port.ok()) return false;
        dlg.m_nPort = 12;
        Button(&dlg, 1000)->click();
        return theApp.m_bPortOpen;
    }
    QString log() const { return dlg.m_log->toPlainText(); }
    bool logShows(const QString &text, int ms = 3000) {
        return WaitUntil([&] { return log().contains(text); }, ms);
    }
};

}  // namespace

Q_DECLARE_METATYPE(sim::Reaction)
Q_DECLARE_METATYPE(Bytes)

class OperationsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(theApp.StartCapture()); }
    void cleanupTestCase() { theApp.StopCapture(); }
    void init() { theApp.m_bPortOpen = false; theApp.m_nCardType = 99; }
    void cleanup() { CloseReader(); theApp.m_bPortOpen = false; }

    void closedPortIsRefused_data();
    void closedPortIsRefused();
    void wakeUpGoesThroughWithThePortClosed();
    void buttonsSendTheirFrameAndShowTheirData_data();
    void buttonsSendTheirFrameAndShowTheirData();
    void failedCallsLeaveTheShownData_data();
    void failedCallsLeaveTheShownData();
};

void OperationsTest::closedPortIsRefused_data() {
    QTest::addColumn<int>("id");
    for (int id : {1006, 1008, 1009, 1010, 1025, 1026, 1012, 1013, 1014, 1015, 1016, 1019, 1021})
        QTest::newRow(qPrintable(QString::number(id))) << id;
}

void OperationsTest::closedPortIsRefused() {
    QFETCH(int, id);
    RecordingMessages messages;
    CParvexDlg dlg;
    Button(&dlg, id)->click();
    QCOMPARE(messages.boxes.size(), 1);
    QCOMPARE(messages.boxes[0].text, QStringLiteral("请先打开读卡器串口"));
    QCOMPARE(messages.boxes[0].caption, QStringLiteral("串口设置"));
    QCOMPARE(messages.boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(messages.boxes[0].owner, &dlg);
    // The library was not called: it would have traced its frame.
    QTest::qWait(50);
    QVERIFY(dlg.m_log->toPlainText().isEmpty());
    QCOMPARE(theApp.m_nCardType, 99);
}

void OperationsTest::wakeUpGoesThroughWithThePortClosed() {
    RecordingMessages messages;
    CParvexDlg dlg;
    Button(&dlg, 1059)->click();
    QVERIFY(messages.boxes.isEmpty());
    QVERIFY(WaitUntil([&] { return dlg.m_log->toPlainText().contains(QStringLiteral("55 55 00 00 00 04 02 01 52 55")); },
                      3000));
}

void OperationsTest::buttonsSendTheirFrameAndShowTheirData_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<sim::Reaction>("reaction");
    QTest::addColumn<Bytes>("frame");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("cardInfo");  // null: not touched
    QTest::addColumn<QString>("readerId");  // null: not touched
    QTest::addColumn<int>("cardType");

    const QString untouched;
    QTest::newRow("标准询卡") << 1006 << sim::Answer(0, B({0x04, 0x00})) << B({0x55, 0x55, 0, 0, 0, 4, 2, 1, 0x26, 0x21})
                          << "寻卡成功" << untouched << untouched << 99;
    QTest::newRow("唤醒询卡") << 1059 << sim::Answer(0, B({0x04, 0x00})) << B({0x55, 0x55, 0, 0, 0, 4, 2, 1, 0x52, 0x55})
                          << "唤醒卡成功" << untouched << untouched << 99;
    QTest::newRow("防 冲 突") << 1008 << sim::Answer(0, B({0x12, 0x34, 0x56, 0x78}))
                          << B({0x55, 0x55, 0, 0, 0, 4, 2, 2, 0x93, 0x97}) << "防冲突成功" << "12 34 56 78 "
                          << untouched << 99;
    QTest::newRow("选   卡") << 1009 << sim::Answer(0, B({0x08})) << B({0x55, 0x55, 0, 0, 0, 4, 2, 3, 0x93, 0x96})
                         << "选卡成功" << untouched << untouched << 99;
    QTest::newRow("获取卡片信息 S70") << 1010 << sim::Answer(0, B({0x02, 0x12, 0x34, 0x56, 0x78}))
                                << B({0x55, 0x55, 0, 0, 0, 3, 1, 2, 0x00}) << "获取卡片信息成功" << "12 34 56 78 S70卡"
                                << untouched << 12;
    QTest::newRow("获取卡片信息 UltraLight") << 1010 << sim::Answer(0, B({0x00, 1, 2, 3, 4, 5, 6}))
                                       << B({0x55, 0x55, 0, 0, 0, 3, 1, 2, 0x00}) << "获取卡片信息成功"
                                       << "01 02 03 04 UltraLight卡" << untouched << 10;
    QTest::newRow("获取卡片信息 unknown") << 1010 << sim::Answer(0, B({0x45, 0xDE, 0xAD, 0xBE, 0xEF}))
                                    << B({0x55, 0x55, 0, 0, 0, 3, 1, 2, 0x00}) << "获取卡片信息成功"
                                    << "DE AD BE EF 未知卡" << untouched << 16;
    QTest::newRow("复合寻卡") << 1025 << sim::Answer(0, B({0x04, 0x00, 1, 2, 3, 4}))
                          << B({0x55, 0x55, 0, 0, 0, 3, 2, 4, 0x05}) << "复合寻卡成功" << untouched << untouched << 99;
    QTest::newRow("暂停卡") << 1026 << sim::Answer(0) << B({0x55, 0x55, 0, 0, 0, 3, 2, 5, 0x04}) << "暂停卡成功"
                         << untouched << untouched << 99;
    QTest::newRow("开启自动寻卡") << 1012 << sim::Answer(0) << B({0x55, 0x55, 0, 0, 0, 3, 1, 1, 0x03})
                            << "命令执行成功" << untouched << untouched << 99;
    QTest::newRow("关闭自动寻卡") << 1013 << sim::Answer(0) << B({0x55, 0x55, 0, 0, 0, 3, 1, 3, 0x01})
                            << "命令执行成功" << untouched << untouched << 99;
    QTest::newRow("开启蜂鸣器") << 1014 << sim::Answer(0) << B({0x55, 0x55, 0, 0, 0, 3, 1, 4, 0x06}) << "命令执行成功"
                           << untouched << untouched << 99;
    QTest::newRow("关闭蜂鸣器") << 1015 << sim::Answer(0) << B({0x55, 0x55, 0, 0, 0, 3, 1, 5, 0x07}) << "命令执行成功"
                           << untouched << untouched << 99;
    QTest::newRow("关闭所有天线") << 1016 << sim::Answer(0) << B({0x55, 0x55, 0, 0, 0, 4, 1, 6, 0x00, 0x03})
                            << "关闭天线成功" << untouched << untouched << 99;
    QTest::newRow("手动寻卡") << 1019 << ManualAnswer(0, B({0x04, 0xA1, 0xB2, 0xC3, 0xD4}))
                          << B({0x55, 0x55, 0, 0, 0, 3, 1, 9, 0x0B}) << "手动寻卡成功" << "A1 B2 C3 D4 S50卡"
                          << untouched << 99;
    QTest::newRow("获取序列号 8 bytes") << 1021 << sim::Answer(0, B({1, 2, 3, 4, 5, 6, 7, 8}))
                                   << B({0x55, 0x55, 0, 0, 0, 3, 1, 0x0A, 0x08}) << "获取读卡器序号成功" << untouched
                                   << "01 02 03 04 05 06 07 08 " << 99;
    Bytes longId;
    QString longText;
    for (int i = 0; i < 40; ++i) {
        longId.push_back(static_cast<std::uint8_t>(0xC0 + i));
        longText += QStringLiteral("%1 ").arg(0xC0 + i, 2, 16).toUpper();
    }
    QTest::newRow("获取序列号 40 bytes") << 1021 << sim::Answer(0, longId) << B({0x55, 0x55, 0, 0, 0, 3, 1, 0x0A, 0x08})
                                    << "获取读卡器序号成功" << untouched << longText << 99;
}

void OperationsTest::buttonsSendTheirFrameAndShowTheirData() {
    QFETCH(int, id);
    QFETCH(sim::Reaction, reaction);
    QFETCH(Bytes, frame);
    QFETCH(QString, message);
    QFETCH(QString, cardInfo);
    QFETCH(QString, readerId);
    QFETCH(int, cardType);

    RecordingMessages messages;
    OpenWindow w;
    QVERIFY(w.open());
    auto *info = w.dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1045"));
    auto *serial = w.dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1020"));
    info->setText(QStringLiteral("before"));
    serial->setText(QStringLiteral("before"));

    w.port.sim().Enqueue(reaction);
    Button(&w.dlg, id)->click();
    QVERIFY(messages.boxes.isEmpty());
    QVERIFY(w.port.sim().WaitForFrames(1, 1000));
    QCOMPARE(w.port.sim().Frames().front(), frame);
    QVERIFY2(w.logShows(message + QLatin1Char('\n')), qPrintable(w.log()));
    QVERIFY(w.log().contains(QStringLiteral("收到数据：55 55 ")));
    QCOMPARE(info->text(), cardInfo.isNull() ? QStringLiteral("before") : cardInfo);
    QCOMPARE(serial->text(), readerId.isNull() ? QStringLiteral("before") : readerId);
    QCOMPARE(theApp.m_nCardType, cardType);
}

void OperationsTest::failedCallsLeaveTheShownData_data() {
    QTest::addColumn<int>("id");
    QTest::addColumn<sim::Reaction>("reaction");
    QTest::addColumn<QString>("logText");
    // Status 1: no card in the field (each costs one 1000 ms wait).
    QTest::newRow("防 冲 突") << 1008 << sim::Answer(1) << "读卡器周围无卡";
    QTest::newRow("防 冲 突 cascade tag") << 1008 << sim::Answer(0, B({0x88, 0x04, 0x12, 0x34})) << "选卡成功";
    QTest::newRow("获取卡片信息") << 1010 << sim::Answer(1) << "读卡器周围无卡";
    QTest::newRow("手动寻卡") << 1019 << ManualAnswer(1, {}) << "读卡器周围无卡";
    QTest::newRow("获取序列号") << 1021 << sim::Answer(6) << "#↑";
}

void OperationsTest::failedCallsLeaveTheShownData() {
    QFETCH(int, id);
    QFETCH(sim::Reaction, reaction);
    QFETCH(QString, logText);
    RecordingMessages messages;
    OpenWindow w;
    QVERIFY(w.open());
    theApp.m_nCardType = 11;
    auto *info = w.dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1045"));
    auto *serial = w.dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1020"));
    info->setText(QStringLiteral("11 22 33 44 S50卡"));
    serial->setText(QStringLiteral("AA BB "));

    w.port.sim().Enqueue(reaction);
    Button(&w.dlg, id)->click();
    QVERIFY2(w.logShows(logText), qPrintable(w.log()));
    QVERIFY(messages.boxes.isEmpty());
    QCOMPARE(info->text(), QStringLiteral("11 22 33 44 S50卡"));
    QCOMPARE(serial->text(), QStringLiteral("AA BB "));
    QCOMPARE(theApp.m_nCardType, 11);
}

PARVEX_TEST_MAIN(OperationsTest)
#include "operations_test.moc"
