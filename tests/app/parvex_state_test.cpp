// The state object the window and its pages share: the window follows it
// (button text, line settings, busy controls) and decides by it, and a page
// works by the state it was given, not by a global.
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <utility>

#include "tests/app/support/app_test_support.h"
#include "app/cpu_card.h"
#include "app/mifare_card.h"
#include "app/parvex_app.h"
#include "app/parvex_dlg.h"
#include "app/parvex_state.h"
#include "tests/app/support/test_main.h"
#include "app/whole_card_page.h"

namespace {

template <typename T = QWidget>
T *Control(QWidget *window, int id) {
    T *found = window->findChild<T *>(QStringLiteral("IDC_%1").arg(id));
    if (found == nullptr) qFatal("control %d not found", id);
    return found;
}

// The window's buttons that call the library.
constexpr int kLibraryButtons[] = {1000, 1006, 1008, 1009, 1010, 1012, 1013, 1014,
                                   1015, 1016, 1019, 1021, 1024, 1025, 1026, 1059};

}  // namespace

class ParvexStateTest : public QObject {
    Q_OBJECT
private slots:
    void busyStateDisablesWhatCallsTheLibrary();
    void portStateDrivesThePanelAndTheOpenButton();
    void pagesCheckTheStateTheyWereGiven();
};

void ParvexStateTest::busyStateDisablesWhatCallsTheLibrary() {
    CParvexState state;
    CParvexDlg dlg(state);
    for (bool busy : {true, false}) {
        state.SetBusy(busy);
        for (int id : kLibraryButtons) QVERIFY2(Control(&dlg, id)->isEnabled() == !busy, qPrintable(QString::number(id)));
        for (QWidget *page : {static_cast<QWidget *>(dlg.m_pageS50), static_cast<QWidget *>(dlg.m_pageS70),
                              static_cast<QWidget *>(dlg.m_pageCpu)})
            QCOMPARE(page->isEnabled(), !busy);
        QVERIFY(dlg.m_pageWholeCard->isEnabled());
        for (int id : {2, 3, 4, 1001, 1023}) QVERIFY(Control(&dlg, id)->isEnabled());
        QCOMPARE(dlg.CardWorkRunning(), busy);
    }
}

void ParvexStateTest::portStateDrivesThePanelAndTheOpenButton() {
    RecordingMessages boxes;
    CParvexState state;
    CParvexDlg dlg(state);
    auto *open = Control<QPushButton>(&dlg, 1000);
    for (bool port_open : {true, false}) {
        state.SetPortOpen(port_open);
        QCOMPARE(open->text(), port_open ? QStringLiteral("关闭串口") : QStringLiteral("打开串口"));
        for (int id : {1001, 1002, 1003, 1004, 1005}) QCOMPARE(Control(&dlg, id)->isEnabled(), !port_open);
    }
    // The text does not decide: with the port closed a click opens.
    open->setText(QStringLiteral("关闭串口"));
    open->click();
    QCOMPARE(boxes.lastText(), QStringLiteral("请先选择串口"));
    QVERIFY(!state.m_bPortOpen);
}

void ParvexStateTest::pagesCheckTheStateTheyWereGiven() {
    RecordingMessages boxes;
    CParvexState state;
    theApp.m_bPortOpen = true;
    CCPUCard cpu(state);
    CMifareCard mifare(state);
    // COS激活 and 密钥验证: each checks the port first.
    for (auto [page, id] : {std::pair<QWidget *, int>{&cpu, 1048}, {&mifare, 1027}}) {
        boxes.clear();
        Control<QPushButton>(page, id)->click();
        QCOMPARE(boxes.lastText(), QStringLiteral("请先打开读卡器串口"));
    }
    theApp.m_bPortOpen = false;
}

PARVEX_TEST_MAIN(ParvexStateTest)
#include "parvex_state_test.moc"
