#include "app/mifare_card.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "app/access_bits.h"
#include "app/create_control.h"
#include "app/hex_text.h"
#include "app/message_service.h"
#include "app/page_controls.h"
#include "app/parvex_state.h"
#include "zelkor.h"

namespace {

constexpr int kKeySize = 6;
constexpr int kBlockSize = 16;
constexpr int kWordSize = 4;
// The longest command the library sends as one frame.
constexpr int kCommandSize = 249;

const QString kDefaultKey = QStringLiteral("5A 3C 96 E1 0F 7B");
const QString kAbsolute = QStringLiteral("绝对寻址");
const QString kRelative = QStringLiteral("相对寻址");

QLabel *Label(QWidget *parent, int id, const QString &text) {
    auto *label = new QLabel(text, parent);
    SetControlId(label, id);
    return label;
}

QComboBox *List(QWidget *parent, int id, const QStringList &items) {
    auto *list = new QComboBox(parent);
    SetControlId(list, id);
    list->addItems(items);
    list->setCurrentIndex(-1);
    return list;
}

QStringList Numbers(int last) {
    QStringList items;
    for (int i = 0; i <= last; ++i) items << QString::number(i);
    return items;
}

QLineEdit *Edit(QWidget *parent, int id, const QString &text) {
    auto *edit = new QLineEdit(text, parent);
    SetControlId(edit, id);
    return edit;
}

QPushButton *Button(QWidget *parent, int id, const QString &text) {
    auto *button = new QPushButton(text, parent);
    SetControlId(button, id);
    button->setAutoDefault(false);
    return button;
}

QGridLayout *Compact(QGridLayout *grid) {
    grid->setContentsMargins(6, 4, 6, 4);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    return grid;
}

}  // namespace

CMifareCard::CMifareCard(CParvexState &state, QWidget *parent) : QWidget(parent), m_state(state) {
    DeclareLibraryControl(this);
    setProperty("templateId", 142);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    outer->setSpacing(4);
    // Built in the order of the page's control list, which is also the Tab
    // order: blocks, wallet, trailer, raw command.
    outer->addWidget(BuildBlockGroup());
    auto *middle = new QHBoxLayout;
    middle->addWidget(BuildWalletGroup());
    middle->addWidget(BuildTrailerGroup(), 1);
    outer->addLayout(middle);
    outer->addWidget(BuildCommandGroup());
    outer->addStretch();

    // One handler run per choice, also when the item already shown is chosen
    // again; the program itself never changes these lists.
    const struct {
        QComboBox *list;
        void (CMifareCard::*handler)();
    } choices[] = {{m_pMode, &CMifareCard::OnModeChange},
                   {m_pSector, &CMifareCard::OnSectorChange},
                   {m_pBlock, &CMifareCard::OnBlockChange},
                   {m_pCtrlSector, &CMifareCard::OnCtrlSectorChange}};
    for (const auto &choice : choices) {
        connect(choice.list, &QComboBox::activated, this, [this, choice] {
            (this->*choice.handler)();
            emit choiceTaken(choice.list->property("controlId").toInt());
        });
    }
    connect(m_pBlockNumber, &QLineEdit::textChanged, this, &CMifareCard::OnBlockTextChange);

    QWidget *previous = nullptr;
    for (QWidget *control : findChildren<QWidget *>(QRegularExpression(QStringLiteral("^IDC_")))) {
        if (control->focusPolicy() == Qt::NoFocus) continue;
        if (previous != nullptr) setTabOrder(previous, control);
        previous = control;
    }
}

QGroupBox *CMifareCard::BuildBlockGroup() {
    auto *blocks = new QGroupBox(QStringLiteral("块读写操作"), this);
    SetControlId(blocks, 1107);
    auto *bg = Compact(new QGridLayout(blocks));
    auto *mode_label = Label(blocks, 1108, QStringLiteral("寻址方式："));
    m_pMode = List(blocks, 1028, {kAbsolute, kRelative});
    NameAfterLabel(m_pMode, mode_label);
    auto *sector_label = Label(blocks, 1109, QStringLiteral("扇区地址："));
    m_pSector = List(blocks, 1029, Numbers(15));
    NameAfterLabel(m_pSector, sector_label);
    auto *block_label = Label(blocks, 1115, QStringLiteral("块地址："));
    m_pBlock = List(blocks, 1030, Numbers(3));
    NameAfterLabel(m_pBlock, block_label);
    m_pBlockNumber = Edit(blocks, 1036, QString());
    m_pBlockNumber->setAccessibleName(LabelWords(block_label->text()));
    m_pBlockNumber->setMaxLength(50);
    new TypingLimit(m_pBlockNumber, 50, true);
    // The list and the box share one place of the list's width; both keep
    // their room while hidden, so switching the addressing mode moves nothing.
    m_pBlockNumber->setSizePolicy(m_pBlock->sizePolicy());
    m_pBlockNumber->setMaximumWidth(m_pBlock->sizeHint().width());
    for (QWidget *w : {static_cast<QWidget *>(m_pBlock), static_cast<QWidget *>(m_pBlockNumber)}) {
        QSizePolicy policy = w->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        w->setSizePolicy(policy);
    }
    m_pBlockNumber->hide();
    bg->addWidget(mode_label, 0, 0);
    bg->addWidget(m_pMode, 0, 1);
    bg->addWidget(sector_label, 0, 2);
    bg->addWidget(m_pSector, 0, 3);
    bg->addWidget(block_label, 0, 4);
    bg->addWidget(m_pBlock, 0, 5);
    bg->addWidget(m_pBlockNumber, 0, 5);

    m_pKeyA = new QRadioButton(QStringLiteral("A型"), blocks);
    SetControlId(m_pKeyA, 1031);
    m_pKeyA->setChecked(true);
    m_pKeyB = new QRadioButton(QStringLiteral("B型"), blocks);
    SetControlId(m_pKeyB, 1032);
    auto *key_label = Label(blocks, 1111, QStringLiteral("密钥："));
    m_pKey = Edit(blocks, 1033, kDefaultKey);
    NameAfterLabel(m_pKey, key_label);
    bg->addWidget(m_pKeyA, 1, 0);
    bg->addWidget(m_pKeyB, 1, 1);
    bg->addWidget(key_label, 1, 2);
    bg->addWidget(m_pKey, 1, 3, 1, 3);

    auto *check_key = Button(blocks, 1027, QStringLiteral("密钥验证"));
    auto *compose_read = Button(blocks, 1043, QStringLiteral("复合读块"));
    auto *compose_write = Button(blocks, 1044, QStringLiteral("复合写块"));
    bg->addWidget(check_key, 2, 1);
    bg->addWidget(compose_read, 2, 3);
    bg->addWidget(compose_write, 2, 5);

    auto *data_label = Label(blocks, 1112, QStringLiteral("数据："));
    m_pData = Edit(blocks, 1037, QStringLiteral("00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f"));
    new TypingLimit(m_pData, 47, false);
    NameAfterLabel(m_pData, data_label);
    bg->addWidget(data_label, 3, 0);
    bg->addWidget(m_pData, 3, 1, 1, 5);
    auto *read_block = Button(blocks, 1035, QStringLiteral("读   块"));
    auto *write_block = Button(blocks, 1034, QStringLiteral("写   块"));
    bg->addWidget(read_block, 4, 1);
    bg->addWidget(write_block, 4, 3);

    connect(check_key, &QPushButton::clicked, this, &CMifareCard::OnCheckKey);
    connect(compose_read, &QPushButton::clicked, this, &CMifareCard::OnComposeRead);
    connect(compose_write, &QPushButton::clicked, this, &CMifareCard::OnComposeWrite);
    connect(read_block, &QPushButton::clicked, this, &CMifareCard::OnReadBlock);
    connect(write_block, &QPushButton::clicked, this, &CMifareCard::OnWriteBlock);
    return blocks;
}

QGroupBox *CMifareCard::BuildWalletGroup() {
    auto *wallet = new QGroupBox(QStringLiteral("钱包功能"), this);
    SetControlId(wallet, 1113);
    auto *wg = Compact(new QGridLayout(wallet));
    auto *amount_label = Label(wallet, 1114, QStringLiteral("金额："));
    m_pAmount = Edit(wallet, 1039, QString());
    new TypingLimit(m_pAmount, 9, true);
    NameAfterLabel(m_pAmount, amount_label);
    wg->addWidget(amount_label, 0, 0);
    wg->addWidget(m_pAmount, 0, 1, 1, 2);
    auto *wallet_init = Button(wallet, 1038, QStringLiteral("钱包初始化"));
    auto *wallet_read = Button(wallet, 1040, QStringLiteral("读钱包"));
    auto *wallet_add = Button(wallet, 1041, QStringLiteral("钱包增值"));
    auto *wallet_dec = Button(wallet, 1042, QStringLiteral("钱包减值"));
    wg->addWidget(wallet_init, 1, 0, 1, 2);
    wg->addWidget(wallet_read, 1, 2);
    wg->addWidget(wallet_add, 2, 0, 1, 2);
    wg->addWidget(wallet_dec, 2, 2);
    wg->setRowStretch(3, 1);

    connect(wallet_init, &QPushButton::clicked, this, &CMifareCard::OnWalletInit);
    connect(wallet_read, &QPushButton::clicked, this, &CMifareCard::OnReadWallet);
    connect(wallet_add, &QPushButton::clicked, this, &CMifareCard::OnWalletAdd);
    connect(wallet_dec, &QPushButton::clicked, this, &CMifareCard::OnWalletDec);
    return wallet;
}

QGroupBox *CMifareCard::BuildTrailerGroup() {
    auto *trailer = new QGroupBox(QStringLiteral("修改控制块"), this);
    SetControlId(trailer, 1123);
    auto *tg = Compact(new QGridLayout(trailer));
    auto *ctrl_sector_label = Label(trailer, 1120, QStringLiteral("选择扇区："));
    m_pCtrlSector = List(trailer, 1052, Numbers(15));
    NameAfterLabel(m_pCtrlSector, ctrl_sector_label);
    tg->addWidget(ctrl_sector_label, 0, 0);
    tg->addWidget(m_pCtrlSector, 0, 1, Qt::AlignLeft);
    // Key A left, key B right, all four boxes of one width.
    struct KeyBox {
        int id, label_id, row, column;
        const char *label;
        QLineEdit **edit;
    };
    const KeyBox keys[4] = {{1063, 1121, 1, 0, "旧密钥A：", &m_pOldKeyA},
                            {1062, 1124, 1, 2, "旧密钥B：", &m_pOldKeyB},
                            {1064, 1122, 2, 0, "新密钥A：", &m_pNewKeyA},
                            {1065, 1125, 2, 2, "新密钥B：", &m_pNewKeyB}};
    for (const KeyBox &k : keys) {
        auto *label = Label(trailer, k.label_id, QString::fromUtf8(k.label));
        *k.edit = Edit(trailer, k.id, kDefaultKey);
        (*k.edit)->setMaxLength(17);
        (*k.edit)->setMinimumWidth((*k.edit)->fontMetrics().horizontalAdvance(kDefaultKey) + 10);
        (*k.edit)->setProperty("textLimit", 17);
        NameAfterLabel(*k.edit, label);
        tg->addWidget(label, k.row, k.column);
        tg->addWidget(*k.edit, k.row, k.column + 1);
    }
    tg->setColumnStretch(1, 1);
    tg->setColumnStretch(3, 1);
    auto *modify_key = Button(trailer, 1047, QStringLiteral("修改密钥"));
    auto *modify_control = Button(trailer, 1049, QStringLiteral("修改控制字"));
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(tg->horizontalSpacing());
    buttons->addStretch();
    buttons->addWidget(modify_key);
    buttons->addWidget(modify_control);
    tg->addLayout(buttons, 3, 0, 1, 4);

    connect(modify_key, &QPushButton::clicked, this, &CMifareCard::OnModifyKey);
    connect(modify_control, &QPushButton::clicked, this, &CMifareCard::OnModifyControl);
    return trailer;
}

QGroupBox *CMifareCard::BuildCommandGroup() {
    auto *other = new QGroupBox(QStringLiteral("其他操作"), this);
    SetControlId(other, 1128);
    auto *og = Compact(new QGridLayout(other));
    auto *command_label = Label(other, 1127, QStringLiteral("命令:"));
    m_pCommand = new QPlainTextEdit(other);
    SetControlId(m_pCommand, 1057);
    m_pCommand->setTabChangesFocus(true);
    m_pCommand->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pCommand->setFixedHeight(m_pCommand->fontMetrics().lineSpacing() * 3 + 10);
    NameAfterLabel(m_pCommand, command_label);
    auto *send = Button(other, 1058, QStringLiteral("发送命令"));
    og->addWidget(command_label, 0, 0, Qt::AlignTop);
    og->addWidget(m_pCommand, 0, 1);
    og->addWidget(send, 0, 2, Qt::AlignBottom);
    og->setColumnStretch(1, 1);

    connect(send, &QPushButton::clicked, this, &CMifareCard::OnSendCommand);
    return other;
}

// ---- Choices --------------------------------------------------------------

void CMifareCard::OnModeChange() {
    const QString text = m_pMode->currentText();
    if (text == kAbsolute)
        m_nMode = 0;
    else if (text == kRelative)
        m_nMode = 1;
    else
        return;
    m_nSector = -1;
    m_nBlock = -1;
    const bool absolute = m_nMode == 0;
    m_pBlock->setVisible(!absolute);
    m_pBlockNumber->setVisible(absolute);
    m_pSector->setEnabled(!absolute);
}

void CMifareCard::OnSectorChange() { m_nSector = m_pSector->currentIndex(); }

void CMifareCard::OnBlockChange() { m_nBlock = m_pBlock->currentIndex(); }

void CMifareCard::OnBlockTextChange() { m_nBlock = DecimalTextValue(m_pBlockNumber->text()); }

void CMifareCard::OnCtrlSectorChange() { m_nCtrlSector = m_pCtrlSector->currentIndex(); }

// ---- Checks and conversions ----------------------------------------------

bool CMifareCard::CheckPort() {
    return CheckPortOpen(m_state, this);
}

bool CMifareCard::CheckAddress() {
    if (m_nMode == -1) {
        ShowError(this, QStringLiteral("请选择寻址方式"), QStringLiteral("寻址方式"));
        return false;
    }
    if (m_nMode == 0 && m_nBlock == -1) {
        ShowError(this, QStringLiteral("请选择数据块！"), QStringLiteral("选择扇区"));
        return false;
    }
    if (m_nMode == 1 && (m_nSector == -1 || m_nBlock == -1)) {
        ShowError(this, QStringLiteral("请选择扇区号和数据块！"), QStringLiteral("选择扇区"));
        return false;
    }
    return true;
}

bool CMifareCard::ReadKey(QLineEdit *box, unsigned char *key) {
    return ParseHexText(this, box->text(), key, kKeySize, kKeySize) >= 0;
}

bool CMifareCard::ReadData(unsigned char *block) {
    return ParseHexText(this, m_pData->text(), block, kBlockSize, kBlockSize) >= 0;
}

int CMifareCard::SelectedKeyType() const { return m_pKeyA->isChecked() ? 0 : 1; }

// ---- Block operations -----------------------------------------------------

void CMifareCard::KeyOperation(KeyOp op) {
    if (!CheckPort()) return;
    unsigned char key[kKeySize] = {};
    if (!ReadKey(m_pKey, key)) return;
    const int key_type = SelectedKeyType();
    if (!CheckAddress()) return;
    unsigned char block[kBlockSize] = {};
    const int card_type = m_state.m_nCardType;
    const char *key_text = reinterpret_cast<const char *>(key);
    switch (op) {
    case KeyOp::kCheck:
        CheckKey(card_type, m_nMode, m_nSector, m_nBlock, key_type, key);
        break;
    case KeyOp::kRead:
        if (ComposeRead(m_nMode, m_nSector, m_nBlock, card_type, block, static_cast<KeyType>(key_type),
                        key_text) == 1)
            SetProgramText(m_pData, FormatHexBytes(block, kBlockSize));
        break;
    case KeyOp::kWrite:
        if (!ReadData(block)) return;
        ComposeWrite(m_nMode, m_nSector, m_nBlock, card_type, block, static_cast<KeyType>(key_type), key_text);
        break;
    }
}

void CMifareCard::OnCheckKey() { KeyOperation(KeyOp::kCheck); }
void CMifareCard::OnComposeRead() { KeyOperation(KeyOp::kRead); }
void CMifareCard::OnComposeWrite() { KeyOperation(KeyOp::kWrite); }

void CMifareCard::BlockOperation(bool write) {
    if (!CheckPort() || !CheckAddress()) return;
    unsigned char block[kBlockSize] = {};
    if (write) {
        if (!ReadData(block)) return;
        WriteBlock(m_nMode, m_nSector, m_nBlock, m_state.m_nCardType, block);
    } else if (ReadBlock(m_nMode, m_nSector, m_nBlock, m_state.m_nCardType, block) == 1) {
        // A failed read leaves the operator's text in place.
        SetProgramText(m_pData, FormatHexBytes(block, kBlockSize));
    }
}

void CMifareCard::OnReadBlock() { BlockOperation(false); }
void CMifareCard::OnWriteBlock() { BlockOperation(true); }

// ---- Wallet ---------------------------------------------------------------

void CMifareCard::WalletChange(WalletOp op) {
    if (!CheckPort() || !CheckAddress()) return;
    if (m_pAmount->text().isEmpty()) {
        ShowError(this, QStringLiteral("请输入钱包初始化金额"), QStringLiteral("钱包初始化"));
        return;
    }
    int amount = DecimalTextValue(m_pAmount->text());
    auto *bytes = reinterpret_cast<unsigned char *>(&amount);
    switch (op) {
    case WalletOp::kInit: WalletInit(m_nMode, m_nSector, m_nBlock, m_state.m_nCardType, bytes); break;
    case WalletOp::kAdd: WalletAdd(m_nMode, m_nSector, m_nBlock, m_state.m_nCardType, bytes); break;
    case WalletOp::kDec: WalletDec(m_nMode, m_nSector, m_nBlock, m_state.m_nCardType, bytes); break;
    }
}

void CMifareCard::OnWalletInit() { WalletChange(WalletOp::kInit); }
void CMifareCard::OnWalletAdd() { WalletChange(WalletOp::kAdd); }
void CMifareCard::OnWalletDec() { WalletChange(WalletOp::kDec); }

void CMifareCard::OnReadWallet() {
    if (!CheckPort() || !CheckAddress()) return;
    int amount = 0;
    if (ReadWallet(m_nMode, m_nSector, m_nBlock, m_state.m_nCardType, reinterpret_cast<unsigned char *>(&amount)) == 1)
        SetProgramText(m_pAmount, QString::number(amount));
}

// ---- Sector trailer -------------------------------------------------------

void CMifareCard::OnModifyKey() {
    // No port check here: with the port closed the library's exchanges fail
    // and say so in the log.
    if (m_nCtrlSector == -1) {
        ShowError(this, QStringLiteral("请先选择需要修改的扇区"), QStringLiteral("修改控制字"));
        return;
    }
    unsigned char old_a[kKeySize] = {}, old_b[kKeySize] = {}, new_a[kKeySize] = {}, new_b[kKeySize] = {};
    if (!ReadKey(m_pOldKeyA, old_a) || !ReadKey(m_pOldKeyB, old_b) || !ReadKey(m_pNewKeyA, new_a) ||
        !ReadKey(m_pNewKeyB, new_b))
        return;
    ModifyKey(m_nCtrlSector, new_a, old_a, old_b);
}

void CMifareCard::OnModifyControl() {
    if (!CheckPort()) return;
    if (m_nCtrlSector == -1) {
        ShowError(this, QStringLiteral("请先选择需要修改的扇区"), QStringLiteral("修改控制字"));
        return;
    }
    unsigned char old_a[kKeySize] = {}, old_b[kKeySize] = {};
    if (!ReadKey(m_pOldKeyA, old_a) || !ReadKey(m_pOldKeyB, old_b)) return;

    QString generated;
    {
        CCreateControl editor(window());
        editor.m_nSector = m_nCtrlSector;
        editor.SetKeyA(old_a);
        const int result = m_fnRunEditor ? m_fnRunEditor(editor) : editor.DoModal();
        if (result != QDialog::Accepted) return;
        generated = editor.m_strNewCtrl;
    }
    if (generated.isEmpty()) {
        ShowError(this, QStringLiteral("请先详细设置访问条件并生成控制字！"), QString::fromUtf8(kProgramName));
        return;
    }
    unsigned char word[kWordSize] = {};
    if (ParseHexText(this, generated, word, kWordSize, kWordSize) < 0) return;
    if (!access_bits::AccessBitsWritable(word)) {
        const auto answer = MessageService::Instance().Show(
            this,
            QStringLiteral("新控制字中控制字的写权限为“Never”：写入后扇区%1的访问条件再也不能修改，"
                           "且无法恢复。\n确定要写入这个控制字吗？")
                .arg(m_nCtrlSector),
            QStringLiteral("修改控制字"), MessageService::Icon::Warning, QMessageBox::Yes | QMessageBox::No,
            QMessageBox::No);
        if (answer != QMessageBox::Yes) return;
    }
    ModifyControl(m_nCtrlSector, old_a, old_b, word);
}

// ---- Raw command ----------------------------------------------------------

void CMifareCard::OnSendCommand() {
    if (!CheckPort()) return;
    unsigned char command[kCommandSize] = {};
    const int count = ParseHexText(this, BoxHexText(m_pCommand), command, kCommandSize, 1);
    if (count < 0) return;
    SendM1Command(command, count);
}
