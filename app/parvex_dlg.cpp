#include "app/parvex_dlg.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTextCursor>
#include <QVBoxLayout>

#include <cstdio>
#include <memory>

#include <sys/stat.h>

#include "app/about_dlg.h"
#include "app/cpu_card.h"
#include "app/hex_text.h"
#include "app/log_find_bar.h"
#include "app/message_service.h"
#include "app/mifare_card.h"
#include "app/page_controls.h"
#include "app/parvex_state.h"
#include "ports/port_list.h"
#include "app/whole_card_page.h"
#include "zelkor.h"

namespace {

template <typename Widget>
Widget *Tag(Widget *widget, int id) {
    widget->setObjectName(QStringLiteral("IDC_%1").arg(id));
    widget->setProperty("controlId", id);
    return widget;
}

// A push button that Enter does not press by itself (no default button).
QPushButton *Button(QWidget *parent, int id, const char *text) {
    auto *button = Tag(new QPushButton(QString::fromUtf8(text), parent), id);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// A button that calls the library: it waits while card work holds it.
QPushButton *LibraryButton(QWidget *parent, int id, const char *text) {
    QPushButton *button = Button(parent, id, text);
    DeclareLibraryControl(button);
    return button;
}

// A label naming `buddy`; the buddy takes the label's words as its name.
QLabel *Label(QWidget *parent, const char *text, QWidget *buddy) {
    auto *label = new QLabel(QString::fromUtf8(text), parent);
    label->setBuddy(buddy);
    QString name = label->text();
    if (name.endsWith(QChar(0xFF1A))) name.chop(1);  // the full-width colon
    buddy->setAccessibleName(name);
    return label;
}

// A group box that screen readers announce by its own title, not by the title
// of a group around it.
QGroupBox *Group(QWidget *parent, const char *title) {
    auto *group = new QGroupBox(QString::fromUtf8(title), parent);
    group->setAccessibleName(group->title());
    return group;
}

QComboBox *DropDown(QWidget *parent, int id, QStringList entries = {}) {
    auto *combo = Tag(new QComboBox(parent), id);
    combo->setEditable(false);
    combo->addItems(entries);
    combo->setCurrentIndex(-1);
    return combo;
}

// A label whose one link takes the focus as soon as Tab reaches the label, so
// the link is a single Tab stop; Enter on it, or a click, activates it.
class LinkLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void focusInEvent(QFocusEvent *event) override {
        QLabel::focusInEvent(event);
        if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
            QLabel::focusNextPrevChild(true);
    }
};

QLineEdit *ReadOnlyEdit(QWidget *parent, int id) {
    auto *edit = Tag(new QLineEdit(parent), id);
    edit->setReadOnly(true);
    return edit;
}

}  // namespace

void CPortComboBox::showPopup() {
    emit aboutToDropDown();
    QComboBox::showPopup();
}

CParvexDlg::CParvexDlg(QWidget *parent) : CParvexDlg(AppState(), parent) {}

CParvexDlg::CParvexDlg(CParvexState &state, QWidget *parent) : QDialog(parent), m_state(state) {
    m_state.m_pMainDlg = this;
    setObjectName(QStringLiteral("IDD_PARVEX_DIALOG"));
    setWindowTitle(QStringLiteral("Norvane  串口调试助手V2.0"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    m_hIcon = ParvexIcon();
    setWindowIcon(m_hIcon);

    BuildLayout();

    auto *about = new QAction(QStringLiteral("关于 Parvex(&A)..."), this);
    about->setObjectName(QStringLiteral("IDM_ABOUTBOX"));
    about->setShortcut(QKeySequence(Qt::Key_F1));
    about->setShortcutContext(Qt::WindowShortcut);
    connect(about, &QAction::triggered, this, &CParvexDlg::OnAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    m_removalTimer.setInterval(kRemovalPollMs);
    connect(&m_removalTimer, &QTimer::timeout, this, &CParvexDlg::OnRemovalPoll);

    InitSerialPanel();
    connect(&m_state, &CParvexState::portOpenChanged, this, &CParvexDlg::OnPortOpenChanged);
    connect(&m_state, &CParvexState::busyChanged, this, &CParvexDlg::OnBusyChanged);

    if (!m_gbk.available()) {
        const QString note =
            QStringLiteral("Parvex: 这个系统不能解码 GBK 文本（iconv 没有 GBK），日志中的中文以十六进制字节显示\n");
        std::fputs(note.toUtf8().constData(), stderr);
        std::fflush(stderr);
        AppendLogText(note);
    }
}

void CParvexDlg::BuildLogMenu() {
    auto *find = new QAction(QStringLiteral("查找(&F)..."), m_log);
    find->setObjectName(QStringLiteral("logFindAction"));
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, m_findBar, &CLogFindBar::Open);
    m_log->addAction(find);
    const struct {
        QKeySequence::StandardKey key;
        bool (CLogFindBar::*step)();
    } steps[] = {{QKeySequence::FindNext, &CLogFindBar::FindNext}, {QKeySequence::FindPrevious, &CLogFindBar::FindPrevious}};
    for (const auto &step : steps) {
        auto *action = new QAction(m_log);
        action->setShortcuts(step.key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, m_findBar, [this, step] {
            if (m_findBar->isHidden()) m_findBar->Open();
            (m_findBar->*step.step)();
        });
        m_log->addAction(action);
    }
    // The standard menu (复制, 全选) and the find.
    m_log->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_log, &QWidget::customContextMenuRequested, this, [this, find](const QPoint &pos) {
        const std::unique_ptr<QMenu> menu(m_log->createStandardContextMenu());
        menu->setObjectName(QStringLiteral("logContextMenu"));
        menu->addSeparator();
        menu->addAction(find);
        menu->exec(m_log->viewport()->mapToGlobal(pos));
    });
}

CParvexDlg::~CParvexDlg() {
    if (m_state.m_pMainDlg == this) m_state.m_pMainDlg = nullptr;
}

void CParvexDlg::BuildLayout() {
    // Serial panel, top left.
    auto *serial = Group(this, "串口设置");
    m_cbPort = Tag(new CPortComboBox(serial), 1001);
    m_cbBaud = DropDown(serial, 1002);
    m_cbParity = DropDown(serial, 1003);
    m_cbDataBits = DropDown(serial, 1004);
    m_cbStopBits = DropDown(serial, 1005);
    m_btnOpen = LibraryButton(serial, 1000, "打开串口");
    auto *serialGrid = new QGridLayout(serial);
    const struct {
        const char *label;
        QComboBox *combo;
    } serialRows[] = {{"端口：", m_cbPort},
                      {"波特率：", m_cbBaud},
                      {"校验位：", m_cbParity},
                      {"数据位：", m_cbDataBits},
                      {"停止位：", m_cbStopBits}};
    int row = 0;
    for (const auto &r : serialRows) {
        r.combo->setMinimumContentsLength(6);
        serialGrid->addWidget(Label(serial, r.label, r.combo), row, 0);
        serialGrid->addWidget(r.combo, row, 1);
        ++row;
    }
    serialGrid->addWidget(m_btnOpen, row, 0, 1, 2, Qt::AlignHCenter);
    serialGrid->setColumnStretch(1, 1);

    // Card operations, beside the serial panel.
    auto *card = Group(this, "卡片基本操作");
    m_editCardInfo = ReadOnlyEdit(card, 1045);
    auto *cardGrid = new QGridLayout(card);
    cardGrid->addWidget(Label(card, "卡片信息：", m_editCardInfo), 0, 0, 1, 2);
    cardGrid->addWidget(m_editCardInfo, 1, 0, 1, 2);
    auto *getInfo = LibraryButton(card, 1010, "获取卡片信息");
    cardGrid->addWidget(getInfo, 2, 0);
    auto *findCard = LibraryButton(card, 1006, "标准询卡");
    auto *wakeUp = LibraryButton(card, 1059, "唤醒询卡");
    auto *conflict = LibraryButton(card, 1008, "防 冲 突");
    auto *compose = LibraryButton(card, 1025, "复合寻卡");
    auto *select = LibraryButton(card, 1009, "选   卡");
    auto *pause = LibraryButton(card, 1026, "暂停卡");
    cardGrid->addWidget(findCard, 3, 0);
    cardGrid->addWidget(wakeUp, 3, 1);
    cardGrid->addWidget(conflict, 4, 0);
    cardGrid->addWidget(compose, 4, 1);
    cardGrid->addWidget(select, 5, 0);
    cardGrid->addWidget(pause, 5, 1);
    cardGrid->setRowStretch(6, 1);

    // Reader operations, below both.
    auto *reader = Group(this, "读卡器操作");
    m_editReaderId = ReadOnlyEdit(reader, 1020);
    auto *getId = LibraryButton(reader, 1021, "获取序列号");
    auto *idRow = new QHBoxLayout;
    idRow->addWidget(Label(reader, "序列号：", m_editReaderId));
    idRow->addWidget(m_editReaderId, 1);
    idRow->addWidget(getId);

    auto *basic = Group(reader, "基础操作");
    auto *basicGrid = new QGridLayout(basic);
    auto *autoOn = LibraryButton(basic, 1012, "开启自动寻卡");
    auto *autoOff = LibraryButton(basic, 1013, "关闭自动寻卡");
    auto *buzzerOn = LibraryButton(basic, 1014, "开启蜂鸣器");
    auto *buzzerOff = LibraryButton(basic, 1015, "关闭蜂鸣器");
    auto *antennaOff = LibraryButton(basic, 1016, "关闭所有天线");
    auto *manual = LibraryButton(basic, 1019, "手动寻卡");
    basicGrid->addWidget(autoOn, 0, 0);
    basicGrid->addWidget(autoOff, 0, 1);
    basicGrid->addWidget(buzzerOn, 0, 2);
    basicGrid->addWidget(buzzerOff, 1, 0);
    basicGrid->addWidget(antennaOff, 1, 1);
    basicGrid->addWidget(manual, 1, 2);

    auto *baud = Group(reader, "波特率设置");
    m_cbReaderBaud = DropDown(baud, 1023,
                              {QStringLiteral("2400"), QStringLiteral("4800"), QStringLiteral("9600"),
                               QStringLiteral("19200"), QStringLiteral("38400"), QStringLiteral("57600"),
                               QStringLiteral("115200")});
    auto *setBaud = LibraryButton(baud, 1024, "设置波特率");
    auto *baudRow = new QHBoxLayout(baud);
    baudRow->addWidget(Label(baud, "读卡器波特率：", m_cbReaderBaud));
    baudRow->addWidget(m_cbReaderBaud, 1);
    baudRow->addWidget(setBaud);

    auto *readerBox = new QVBoxLayout(reader);
    readerBox->addLayout(idRow);
    readerBox->addWidget(basic);
    readerBox->addWidget(baud);

    // The tabs with the card pages, on the right.
    m_tab = Tag(new QTabWidget(this), 1046);
    m_tab->setAccessibleName(QStringLiteral("卡片操作页"));
    m_pageS50 = new CMifareCard(m_state, m_tab);
    m_pageS70 = new CMifareCard(m_state, m_tab);
    m_pageCpu = new CCPUCard(m_state, m_tab);
    m_pageWholeCard = new CWholeCardPage(m_state, m_tab);
    m_pageS50->m_pParent = this;
    m_pageS70->m_pParent = this;
    m_pageCpu->m_pParent = this;
    m_pageWholeCard->m_pParent = this;
    m_pages[0] = m_pageS50;
    m_pages[1] = m_pageS70;
    m_pages[2] = m_pageCpu;
    m_pages[3] = m_pageWholeCard;
    m_tab->addTab(m_pageS50, QStringLiteral("S50"));
    m_tab->addTab(m_pageS70, QStringLiteral("S70"));
    m_tab->addTab(m_pageCpu, QStringLiteral("CPU"));
    m_tab->addTab(m_pageWholeCard, QStringLiteral("整卡"));
    m_tab->setCurrentIndex(0);
    connect(m_tab, &QTabWidget::currentChanged, this, &CParvexDlg::OnSelchangeTab);

    // The log across the bottom.
    m_log = Tag(new QPlainTextEdit(this), 1007);
    m_log->setReadOnly(true);
    m_log->setMaximumBlockCount(kLogLineLimit);
    m_log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_log->setUndoRedoEnabled(false);
    m_log->setFrameShadow(QFrame::Sunken);
    m_log->setAccessibleName(QStringLiteral("数据日志"));
    // Six lines at least; the log takes whatever height the screen leaves.
    m_log->setMinimumHeight(m_log->fontMetrics().lineSpacing() * 6 + 2 * m_log->frameWidth());
    m_findBar = new CLogFindBar(m_log, this);
    BuildLogMenu();

    auto *save = Button(this, 4, "保存数据");
    auto *clear = Button(this, 3, "清除数据");
    auto *exit = Button(this, 2, "退出");
    auto *link = Tag(new LinkLabel(this), 1132);
    link->setTextFormat(Qt::RichText);
    const QUrl documentation = DocumentationUrl();
    link->setText(QStringLiteral("如有问题请联系我们：<a href=\"%1\">Norvane</a>")
                      .arg((documentation.isEmpty() ? QStringLiteral("README.md") : documentation.toString())
                               .toHtmlEscaped()));
    // The link alone takes the focus: one Tab stop, Enter or a click opens it.
    link->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    link->setOpenExternalLinks(false);
    link->setAccessibleName(QStringLiteral("如有问题请联系我们：Norvane"));
    connect(link, &QLabel::linkActivated, this, &CParvexDlg::OnClickLink);

    auto *left = new QGridLayout;
    left->addWidget(serial, 0, 0);
    left->addWidget(card, 0, 1);
    left->addWidget(reader, 1, 0, 1, 2);
    auto *top = new QHBoxLayout;
    top->addLayout(left);
    top->addWidget(m_tab, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(link);
    bottom->addStretch(1);
    bottom->addWidget(save);
    bottom->addWidget(clear);
    bottom->addWidget(exit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_log, 1);
    layout->addWidget(m_findBar);
    layout->addLayout(bottom);
    // The layout's minimum is the window's; the first size is the natural
    // one as far as the screen allows, leaving room for a title bar.
    const QSize room = screen()->availableGeometry().size() - QSize(0, kTitleBarRoom);
    resize(layout->sizeHint().boundedTo(room).expandedTo(layout->minimumSize()));

    connect(m_btnOpen, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedOpen);
    connect(setBaud, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedSetBaudRate);
    connect(findCard, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedFindCard);
    connect(wakeUp, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedWakeUp);
    connect(conflict, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedConflict);
    connect(select, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedSelectCard);
    connect(getInfo, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedGetCardInfo);
    connect(compose, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedComposeFindCard);
    connect(pause, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedPauseCard);
    connect(autoOn, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedAutoFindOn);
    connect(autoOff, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedAutoFindOff);
    connect(buzzerOn, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedBuzzerOn);
    connect(buzzerOff, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedBuzzerOff);
    connect(antennaOff, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedAntennaOff);
    connect(manual, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedManualCard);
    connect(getId, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedGetReaderId);
    connect(save, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedSave);
    connect(clear, &QPushButton::clicked, this, &CParvexDlg::OnBnClickedClear);
    connect(exit, &QPushButton::clicked, this, &QDialog::reject);
}

// ---- Console text -----------------------------------------------------------

void CParvexDlg::OnConsoleText(const QByteArray &bytes) {
    // One decoder for the whole run: a GBK character whose bytes arrive in
    // two chunks is completed by the second.
    AppendLogText(m_gbk.available() ? QString::fromStdString(m_gbk.Convert(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))
                                    : AsciiWithHexBytes(bytes));
}

void CParvexDlg::AppendLogText(QString text) {
    text.remove(QLatin1Char('\r'));
    text.remove(QChar(0));
    if (text.isEmpty()) return;
    QTextCursor cursor(m_log->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    // While the find bar is open the operator reads older lines: no jumps.
    if (!m_bScrollPending && m_findBar->isHidden()) {
        m_bScrollPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_bScrollPending = false;
                QScrollBar *bar = m_log->verticalScrollBar();
                bar->setValue(bar->maximum());
            },
            Qt::QueuedConnection);
    }
}

// ---- Serial panel -----------------------------------------------------------

int CParvexDlg::PortNumberFromText(const QString &text) {
    const qsizetype m = text.indexOf(QLatin1Char('M'));
    qsizetype i = m < 0 ? 0 : m + 1;
    long long value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 0x7FFFFFFF) return 0;
    }
    return static_cast<int>(value);
}

void CParvexDlg::InitSerialPanel() {
    {
        const QSignalBlocker b1(m_cbBaud), b2(m_cbParity), b3(m_cbDataBits), b4(m_cbStopBits);
        m_cbBaud->addItems({QStringLiteral("115200"), QStringLiteral("57600"), QStringLiteral("38400"),
                            QStringLiteral("19200"), QStringLiteral("9600"), QStringLiteral("4800"),
                            QStringLiteral("2400")});
        m_cbBaud->setCurrentIndex(4);
        m_cbParity->addItems({QStringLiteral("偶校验"), QStringLiteral("奇校验"), QStringLiteral("无校验")});
        m_cbParity->setCurrentIndex(2);
        m_cbDataBits->addItems({QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
        m_cbDataBits->setCurrentIndex(2);
        m_cbStopBits->addItems({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
        m_cbStopBits->setCurrentIndex(0);
    }
    connect(m_cbPort, &CPortComboBox::aboutToDropDown, this, &CParvexDlg::EnumSerialPorts);
    connect(m_cbPort, &QComboBox::currentIndexChanged, this, &CParvexDlg::OnSelchangePort);
    connect(m_cbBaud, &QComboBox::currentIndexChanged, this, &CParvexDlg::OnSelchangeBaud);
    connect(m_cbParity, &QComboBox::currentIndexChanged, this, &CParvexDlg::OnSelchangeParity);
    connect(m_cbDataBits, &QComboBox::currentIndexChanged, this, &CParvexDlg::OnSelchangeDataBits);
    connect(m_cbStopBits, &QComboBox::currentIndexChanged, this, &CParvexDlg::OnSelchangeStopBits);
    // Every choice counts, also the entry already shown: a "设置波特率" forgets
    // the choice while the list still shows it.
    connect(m_cbReaderBaud, &QComboBox::activated, this, &CParvexDlg::OnSelchangeReaderBaud);
    EnumSerialPorts();
}

void CParvexDlg::EnumSerialPorts() {
    // Refilling removes the shown selection; m_nPort keeps the last choice.
    const QSignalBlocker blocker(m_cbPort);
    m_cbPort->clear();
    for (const auto &entry : zelkor::ports::ListPorts()) m_cbPort->addItem(QString::fromStdString(entry.label));
    m_cbPort->setCurrentIndex(-1);
}

void CParvexDlg::OnSelchangePort(int index) {
    if (index < 0) return;
    m_nPort = PortNumberFromText(m_cbPort->itemText(index));
    m_state.SetPort(m_nPort);
}

void CParvexDlg::OnSelchangeBaud(int index) {
    if (index >= 0) m_nBaudRate = m_cbBaud->itemText(index).toInt();
}

void CParvexDlg::OnSelchangeParity(int index) {
    if (index < 0) return;
    const QString text = m_cbParity->itemText(index);
    if (text == QStringLiteral("无校验")) m_nParity = 0;
    else if (text == QStringLiteral("奇校验")) m_nParity = 1;
    else if (text == QStringLiteral("偶校验")) m_nParity = 2;
}

void CParvexDlg::OnSelchangeDataBits(int index) {
    if (index >= 0) m_nDataBits = m_cbDataBits->itemText(index).toInt();
}

void CParvexDlg::OnSelchangeStopBits(int index) {
    if (index < 0) return;
    const QString text = m_cbStopBits->itemText(index);
    if (text == QStringLiteral("1")) m_nStopBits = 0;
    else if (text == QStringLiteral("1.5")) m_nStopBits = 1;
    else if (text == QStringLiteral("2")) m_nStopBits = 2;
}

void CParvexDlg::OnSelchangeReaderBaud(int index) {
    if (index >= 0) m_nReaderBaudIndex = index;
}

void CParvexDlg::SetPanelOpen(bool open) {
    if (!open) {
        const QSignalBlocker blocker(m_cbPort);
        m_cbPort->setCurrentIndex(-1);
        m_nPort = 0;
    }
    m_state.SetPort(m_nPort);
    m_state.SetPortOpen(open);
}

void CParvexDlg::OnPortOpenChanged(bool open) {
    m_btnOpen->setText(open ? QStringLiteral("关闭串口") : QStringLiteral("打开串口"));
    for (QComboBox *combo : {static_cast<QComboBox *>(m_cbPort), m_cbBaud, m_cbParity, m_cbDataBits, m_cbStopBits})
        combo->setEnabled(!open);
    if (open) {
        m_removalTimer.start();
    } else {
        m_removalTimer.stop();
    }
}

void CParvexDlg::OnBnClickedOpen() {
    if (!m_state.m_bPortOpen) {
        if (m_nPort <= 0) {
            ShowError(this, QStringLiteral("请先选择串口"), QStringLiteral("串口选择"));
            return;
        }
        if (OpenReader(m_nPort, m_nBaudRate, m_nDataBits, m_nParity, m_nStopBits) != 0) {
            m_openDevice = IdentifyPort(m_nPort);
            SetPanelOpen(true);
        } else {
            MessageService::Instance().Show(this, QStringLiteral("打开串口失败！"), QString::fromLatin1(kProgramName),
                                            MessageService::Icon::None);
        }
        return;
    }
    if (CloseReader() != 0) {
        SetPanelOpen(false);
    } else {
        MessageService::Instance().Show(nullptr, QStringLiteral("关闭串口失败，请稍后重试!"), QStringLiteral("错误："),
                                        MessageService::Icon::Error);
    }
}

void CParvexDlg::OnBnClickedSetBaudRate() {
    if (!CheckPortOpen()) return;
    if (m_nReaderBaudIndex < 0) {
        ShowError(this, QStringLiteral("请选择合适的波特率"), QStringLiteral("波特率设置"));
        return;
    }
    SetBaudRate(m_nReaderBaudIndex);
    m_nReaderBaudIndex = -1;
}

CParvexDlg::DeviceIdentity CParvexDlg::IdentifyPort(int port) {
    DeviceIdentity identity;
    const std::optional<std::string> path = zelkor::ports::DevicePath(port);
    struct stat info {};
    if (path && ::stat(path->c_str(), &info) == 0) {
        identity.present = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        identity.special = info.st_rdev;
    }
    return identity;
}

// The library cannot tell the window that its device went away (an adapter
// unplugged, a pseudo-terminal closed), so the window looks for the device
// node itself while the port is open.
void CParvexDlg::OnRemovalPoll() {
    if (!m_state.m_bPortOpen) {
        m_removalTimer.stop();
        return;
    }
    const DeviceIdentity now = IdentifyPort(m_nPort);
    if (now.present && (!m_openDevice.present || now == m_openDevice)) return;
    if (m_state.busy()) {
        // The port is closed once the card work has let go of the library.
        m_pageWholeCard->CancelCardWork();
        return;
    }
    m_removalTimer.stop();
    CloseReader();
    MessageService::Instance().Show(this, QStringLiteral("读卡器已经断开连接！"), QString::fromLatin1(kProgramName),
                                    MessageService::Icon::None);
    SetPanelOpen(false);
}

// ---- Operation buttons ------------------------------------------------------

bool CParvexDlg::CheckPortOpen() { return ::CheckPortOpen(m_state, this); }

QString CParvexDlg::CardTypeName(int card_type) {
    switch (card_type) {
    case CardUltraLight: return QStringLiteral("UltraLight卡");
    case CardS50: return QStringLiteral("S50卡");
    case CardS70: return QStringLiteral("S70卡");
    case CardFM1208: return QStringLiteral("FM1208卡");
    case CardPlus: return QStringLiteral("PLUS卡");
    case CardD41: return QStringLiteral("D41卡");
    case CardUnknown: return QStringLiteral("未知卡");
    default: return {};
    }
}

void CParvexDlg::ShowCardInfo(const card_info &info, bool with_type) {
    QString text = FormatHexBytes(info.uid, 4);
    if (with_type) text += CardTypeName(info.card_type);
    m_editCardInfo->setText(text);
}

void CParvexDlg::OnBnClickedFindCard() {
    if (CheckPortOpen()) FindCard();
}

void CParvexDlg::OnBnClickedWakeUp() {
    // Wake-up goes to the library even with the port closed.
    WakeUp();
}

void CParvexDlg::OnBnClickedConflict() {
    if (!CheckPortOpen()) return;
    card_info info{};
    if (Conflict(&info) != 0) ShowCardInfo(info, false);
}

void CParvexDlg::OnBnClickedSelectCard() {
    if (CheckPortOpen()) SelectCard(0x93);
}

void CParvexDlg::OnBnClickedGetCardInfo() {
    if (!CheckPortOpen()) return;
    card_info info{};
    if (GetCardInfo(&info) == 0) return;
    ShowCardInfo(info, true);
    m_state.SetCardType(info.card_type);
}

void CParvexDlg::OnBnClickedComposeFindCard() {
    if (CheckPortOpen()) ComposeFindCard();
}

void CParvexDlg::OnBnClickedPauseCard() {
    if (CheckPortOpen()) PauseCard();
}

void CParvexDlg::OnBnClickedAutoFindOn() {
    if (CheckPortOpen()) AutoFindCard(1);
}

void CParvexDlg::OnBnClickedAutoFindOff() {
    if (CheckPortOpen()) AutoFindCard(0);
}

void CParvexDlg::OnBnClickedBuzzerOn() {
    if (CheckPortOpen()) BuzzerOn(1);
}

void CParvexDlg::OnBnClickedBuzzerOff() {
    if (CheckPortOpen()) BuzzerOn(0);
}

void CParvexDlg::OnBnClickedAntennaOff() {
    if (CheckPortOpen()) AntennaOff();
}

void CParvexDlg::OnBnClickedManualCard() {
    if (!CheckPortOpen()) return;
    card_info info{};
    if (ManualCard(&info) != 0) ShowCardInfo(info, true);
}

void CParvexDlg::OnBnClickedGetReaderId() {
    if (!CheckPortOpen()) return;
    // Large enough for the longest serial number an answer can carry.
    unsigned char id[128] = {};
    int length = -1;
    if (GetReaderId(id, &length) == 0) return;
    if (length < 0 || length > static_cast<int>(sizeof id)) return;
    m_editReaderId->setText(FormatHexBytes(id, length));
}

// ---- Tabs, log buttons, link, about -----------------------------------------

void CParvexDlg::OnSelchangeTab(int index) {
    if (index >= 0 && index < static_cast<int>(std::size(m_pages))) m_nCurPage = index;
}

void CParvexDlg::OnBusyChanged(bool busy) {
    for (QWidget *control : DeclaredLibraryControls(this)) control->setEnabled(!busy);
}

void CParvexDlg::OnBnClickedClear() {
    m_log->clear();
}

void CParvexDlg::OnBnClickedSave() {
    const QString name = MessageService::Instance().SaveFileName(this, QStringLiteral("保存数据"),
                                                                 QStringLiteral("文本文件 (*.txt);;所有文件 (*)"));
    if (name.isEmpty()) return;
    QSaveFile file(name);
    const QByteArray text = m_log->toPlainText().toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        ShowError(this, QStringLiteral("无法保存数据到文件：%1\n%2").arg(QDir::toNativeSeparators(name), file.errorString()),
                  QStringLiteral("保存数据"));
    }
}

QStringList CParvexDlg::DocumentationCandidates() {
    QStringList candidates;
    if (QCoreApplication::instance() != nullptr)
        candidates << QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                      QStringLiteral("/" PARVEX_DOC_FROM_BIN "/README.md"));
    candidates << QDir::cleanPath(QStringLiteral(PARVEX_SOURCE_DIR "/README.md"));
    return candidates;
}

QUrl CParvexDlg::DocumentationUrl() {
    for (const QString &candidate : DocumentationCandidates()) {
        const QFileInfo info(candidate);
        if (info.isFile()) return QUrl::fromLocalFile(info.canonicalFilePath());
    }
    return {};
}

void CParvexDlg::OnClickLink() {
    // Looked up again on every click: the file may have come or gone since.
    const QUrl url = DocumentationUrl();
    if (url.isEmpty()) {
        QStringList places;
        for (const QString &candidate : DocumentationCandidates()) places << QDir::toNativeSeparators(candidate);
        AppendLogText(QStringLiteral("找不到说明文件，已查找：%1\n").arg(places.join(QStringLiteral("、"))));
    } else if (!QDesktopServices::openUrl(url)) {
        AppendLogText(QStringLiteral("无法打开说明文件 %1：没有可以打开它的程序\n").arg(QDir::toNativeSeparators(url.toLocalFile())));
    }
}

void CParvexDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CParvexDlg::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Enter never ends the window: it presses a focused push button, if
        // any. Radio buttons are chosen with Space or the arrow keys only.
        if (auto *button = qobject_cast<QPushButton *>(focusWidget()); button != nullptr && button->isEnabled())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
