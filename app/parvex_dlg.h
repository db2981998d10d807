// The main window: the serial-port panel, the card and reader operation
// buttons, the tabs with the card pages and the log of everything the
// program prints on standard output.
//
// Every control of the window carries its numeric identifier twice, so tests
// and tools can find it: as object name "IDC_<id>" (for example "IDC_1006"
// for "标准询卡", "IDC_2" for "退出") and as the int property "controlId".
#pragma once

#include <QByteArray>
#include <QComboBox>
#include <QDialog>
#include <QIcon>
#include <QTimer>
#include <QUrl>

#include <sys/types.h>

#include "capture/gbk_decoder.h"
#include "app/parvex_state.h"

class CCPUCard;
class CLogFindBar;
class CMifareCard;
class CWholeCardPage;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
struct card_info;

// A drop-down list that announces each drop-down before it opens, so its
// entries can be refreshed.
class CPortComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;
    void showPopup() override;
signals:
    void aboutToDropDown();
};

class CParvexDlg : public QDialog {
    Q_OBJECT
public:
    // On the program's state object.
    explicit CParvexDlg(QWidget *parent = nullptr);
    CParvexDlg(CParvexState &state, QWidget *parent = nullptr);
    ~CParvexDlg() override;

    // Appends a chunk of captured standard output (GBK) to the log.
    void OnConsoleText(const QByteArray &bytes);

    // Port number of a port-list entry: the decimal digits after its first
    // "M" ("COM10 (/dev/ttyS9)" gives 10), 0 when there are none.
    static int PortNumberFromText(const QString &text);
    // Name appended to the card information for a card type code, or empty.
    static QString CardTypeName(int card_type);
    // Where the contact link leads: the README installed with the program,
    // else the one of the source tree it was built from; empty when neither
    // exists.
    static QUrl DocumentationUrl();
    // The places DocumentationUrl looks at, in order.
    static QStringList DocumentationCandidates();

    // Line settings and choices of the serial panel.
    int m_nPort = 0;
    int m_nBaudRate = 9600;
    int m_nParity = 0;
    int m_nDataBits = 8;
    int m_nStopBits = 0;
    int m_nReaderBaudIndex = -1;

    QIcon m_hIcon;
    CMifareCard *m_pageS50 = nullptr;
    CMifareCard *m_pageS70 = nullptr;
    CCPUCard *m_pageCpu = nullptr;
    CWholeCardPage *m_pageWholeCard = nullptr;
    QWidget *m_pages[4] = {};
    int m_nCurPage = 0;

    QPushButton *m_btnOpen = nullptr;
    CPortComboBox *m_cbPort = nullptr;
    QComboBox *m_cbBaud = nullptr;
    QComboBox *m_cbParity = nullptr;
    QComboBox *m_cbDataBits = nullptr;
    QComboBox *m_cbStopBits = nullptr;
    QComboBox *m_cbReaderBaud = nullptr;
    QTabWidget *m_tab = nullptr;
    QPlainTextEdit *m_log = nullptr;
    CLogFindBar *m_findBar = nullptr;
    QLineEdit *m_editCardInfo = nullptr;
    QLineEdit *m_editReaderId = nullptr;

    // Interval of the check for a vanished reader device while the port is open.
    static constexpr int kRemovalPollMs = 300;
    // Height kept free for the window's title bar when it first sizes itself.
    static constexpr int kTitleBarRoom = 40;
    // Lines the log keeps; older lines are dropped.
    static constexpr int kLogLineLimit = 20000;

    // While the whole-card page works on another thread the library is
    // busy: every control declared as calling the library (the window's
    // reader and card buttons, the other pages) is disabled, so no second
    // call can overlap.
    bool CardWorkRunning() const { return m_state.busy(); }

public slots:
    void OnAbout();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    struct DeviceIdentity {
        bool present = false;
        dev_t device = 0;
        ino_t inode = 0;
        dev_t special = 0;
        bool operator==(const DeviceIdentity &) const = default;
    };
    static DeviceIdentity IdentifyPort(int port);

    void BuildLayout();
    void BuildLogMenu();
    // Appends text to the log and scrolls to it.
    void AppendLogText(QString text);
    void InitSerialPanel();
    void EnumSerialPorts();
    void SetPanelOpen(bool open);
    void OnPortOpenChanged(bool open);
    void OnBusyChanged(bool busy);
    bool CheckPortOpen();
    void ShowCardInfo(const card_info &info, bool with_type);

    // Serial panel.
    void OnBnClickedOpen();
    void OnSelchangePort(int index);
    void OnSelchangeBaud(int index);
    void OnSelchangeParity(int index);
    void OnSelchangeDataBits(int index);
    void OnSelchangeStopBits(int index);
    void OnSelchangeReaderBaud(int index);
    void OnBnClickedSetBaudRate();
    void OnRemovalPoll();

    // Operation buttons.
    void OnBnClickedFindCard();
    void OnBnClickedWakeUp();
    void OnBnClickedConflict();
    void OnBnClickedSelectCard();
    void OnBnClickedGetCardInfo();
    void OnBnClickedComposeFindCard();
    void OnBnClickedPauseCard();
    void OnBnClickedAutoFindOn();
    void OnBnClickedAutoFindOff();
    void OnBnClickedBuzzerOn();
    void OnBnClickedBuzzerOff();
    void OnBnClickedAntennaOff();
    void OnBnClickedManualCard();
    void OnBnClickedGetReaderId();

    void OnSelchangeTab(int index);
    void OnBnClickedSave();
    void OnBnClickedClear();
    void OnClickLink();

    CParvexState &m_state;
    zelkor::capture::GbkToUtf8 m_gbk;
    QTimer m_removalTimer;
    DeviceIdentity m_openDevice;
    bool m_bScrollPending = false;
};
