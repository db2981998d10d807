// The MIFARE page against the library and the simulated reader with its demo S50 card.
#include <QtTest>

#include <QApplication>
#include <QComboBox>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <climits>

#include "app/access_bits.h"
#include "tests/app/support/app_test_support.h"
#include "app/create_control.h"
#include "app/hex_text.h"
#include "app/mifare_card.h"
#include "app/parvex_app.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "zelkor.h"

namespace {

const QString kPortClosed = QStringLiteral("请先打开读卡器串口");
const QString kNoMode = QStringLiteral("请选择寻址方式");
const QString kNoBlock = QStringLiteral("请选择数据块！");
const QString kNoSectorBlock = QStringLiteral("请选择扇区号和数据块！");
const QString kNoAmount = QStringLiteral("请输入钱包初始化金额");
const QString kNoTrailer = QStringLiteral("请先选择需要修改的扇区");
const QString kOdd = QStringLiteral("不完整的十六进制数,请检查数据是否完整");

template <typename T = QWidget>
T *Ctl(QWidget *page, int id) {
    T *w = page->findChild<T *>(QStringLiteral("IDC_%1").arg(id));
    if (w == nullptr) qFatal("no control %d", id);
    return w;
}

void Click(QWidget *page, int id) { Ctl<QPushButton>(page, id)->click(); }

// The operator picks an item (also the one already shown).
void Choose(QWidget *page, int id, int index) {
    auto *list = Ctl<QComboBox>(page, id);
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void Type(QWidget *page, int id, const QString &text) {
    auto *edit = Ctl<QLineEdit>(page, id);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

QString Text(QWidget *page, int id) { return Ctl<QLineEdit>(page, id)->text(); }

sim::Bytes Bytes(std::initializer_list<int> values) {
    sim::Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

// Group, code and data of a command frame (between the length and the checksum).
sim::Bytes Body(const sim::Bytes &frame) {
    if (frame.size() < 7) return {};
    return sim::Bytes(frame.begin() + 6, frame.end() - 1);
}

sim::Bytes Prefix(const sim::Bytes &bytes, size_t n) {
    return sim::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(std::min(n, bytes.size())));
}

}  // namespace

class MifarePageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void controlsAsTheTemplateGives();
    void portClosedStopsEverythingButTheKeyChange();
    void checksComeInOrder();
    void modeChangeResetsSectorAndBlock();
    void absoluteBlockBoxDoesNotOverflow();
    void blocksThroughTheCard();
    void walletArithmeticInTheAmountBox();
    void keyChange();
    void controlWordEditorCancelledOrEmpty();
    void controlWordChangeIsEnforcedByTheCard();
    void unwritableAccessBitsNeedConfirmation();
    void controlWordThroughTheModalEditor();
    void rawCommandSendsWhatWasTyped();
    void everyChoiceIsTakenOnce();
    void tabFollowsTheControlList();

private:
    std::vector<sim::Bytes> Frames() { return port_->sim().Frames(); }
    void Relative(int sector, int block) {
        Choose(page_.get(), 1028, 1);
        Choose(page_.get(), 1029, sector);
        Choose(page_.get(), 1030, block);
    }
    QStringList Texts() const {
        QStringList texts;
        for (const auto &box : boxes_->boxes) texts << box.text;
        return texts;
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::unique_ptr<SimulatedPort> port_;
    std::shared_ptr<sim::MifareClassic> card_;
    std::unique_ptr<RecordingMessages> boxes_;
    std::unique_ptr<CMifareCard> page_;
};

void MifarePageTest::initTestCase() {
    port_ = std::make_unique<SimulatedPort>(3, model_);
    QVERIFY(port_->ok());
    QCOMPARE(OpenReader(3, 9600, 8, 0, 0), 1);
}

void MifarePageTest::cleanupTestCase() {
    CloseReader();
    port_.reset();
}

void MifarePageTest::init() {
    card_ = sim::MakeDemoS50();
    model_->PutCard(card_);
    theApp.m_bPortOpen = true;
    theApp.m_nCardType = 11;
    boxes_ = std::make_unique<RecordingMessages>();
    page_ = std::make_unique<CMifareCard>(theApp);
    port_->sim().ClearFrames();
}

void MifarePageTest::cleanup() {
    page_.reset();
    boxes_.reset();
}

void MifarePageTest::controlsAsTheTemplateGives() {
    QWidget *p = page_.get();
    QCOMPARE(p->property("templateId").toInt(), 142);
    QStringList sectors;
    for (int i = 0; i < 16; ++i) sectors << QString::number(i);
    auto items = [&](int id) {
        QStringList out;
        auto *list = Ctl<QComboBox>(p, id);
        for (int i = 0; i < list->count(); ++i) out << list->itemText(i);
        return out;
    };
    QCOMPARE(items(1028), (QStringList{"绝对寻址", "相对寻址"}));
    QCOMPARE(items(1029), sectors);
    QCOMPARE(items(1030), (QStringList{"0", "1", "2", "3"}));
    QCOMPARE(items(1052), sectors);
    for (int id : {1028, 1029, 1030, 1052}) QCOMPARE(Ctl<QComboBox>(p, id)->currentIndex(), -1);
    QCOMPARE(Ctl(p, 1030)->property("controlId").toInt(), 1030);
    QVERIFY(Ctl<QRadioButton>(p, 1031)->isChecked());
    QVERIFY(!Ctl<QRadioButton>(p, 1032)->isChecked());
    for (int id : {1033, 1063, 1062, 1064, 1065}) QCOMPARE(Text(p, id), QStringLiteral("5A 3C 96 E1 0F 7B"));
    QCOMPARE(Text(p, 1037), QStringLiteral("00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f"));
    QVERIFY(Text(p, 1039).isEmpty());
    QVERIFY(Ctl(p, 1036)->isHidden());

    // Limits bind what the operator types.
    Choose(p, 1028, 0);
    Type(p, 1036, QString(60, QLatin1Char('7')) + QStringLiteral("x"));
    QCOMPARE(Text(p, 1036), QString(50, QLatin1Char('7')));
    Type(p, 1037, QString(60, QLatin1Char('A')));
    QCOMPARE(Text(p, 1037).size(), 47);
    Type(p, 1039, QStringLiteral("-12a345678901"));
    QCOMPARE(Text(p, 1039), QStringLiteral("123456789"));
    Type(p, 1063, QStringLiteral("00 11 22 33 44 55 66"));
    QCOMPARE(Text(p, 1063), QStringLiteral("00 11 22 33 44 55"));
    // A paste keeps what fits; the program's own longer text is never cut.
    auto *data = Ctl<QLineEdit>(p, 1037);
    data->clear();
    data->insert(QString(50, QLatin1Char('B')));
    QCOMPARE(data->text(), QString(47, QLatin1Char('B')));
    Type(p, 1033, QStringLiteral("00 11 22 33 44 55 66 77 88 99"));
    QCOMPARE(Text(p, 1033).size(), 29);

    // Every input is named after its label, every button by its text.
    const QList<std::pair<int, QString>> names = {
        {1028, "寻址方式"}, {1029, "扇区地址"}, {1030, "块地址"}, {1036, "块地址"}, {1033, "密钥"},
        {1037, "数据"}, {1039, "金额"}, {1052, "选择扇区"}, {1063, "旧密钥A"}, {1062, "旧密钥B"},
        {1064, "新密钥A"}, {1065, "新密钥B"}, {1057, "命令"}};
    for (const auto &[id, name] : names) QCOMPARE(Ctl(p, id)->accessibleName(), name);
    for (QPushButton *button : p->findChildren<QPushButton *>()) QVERIFY(!button->text().isEmpty());

    Type(p, 1037, QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"));
    Choose(p, 1028, 1);
    p->resize(p->sizeHint());
    QVERIFY(SaveScreenshot(p, QStringLiteral("mifare_page")));
}

void MifarePageTest::portClosedStopsEverythingButTheKeyChange() {
    theApp.m_bPortOpen = false;
    Relative(1, 1);
    Choose(page_.get(), 1052, 1);
    Type(page_.get(), 1039, QStringLiteral("5"));
    for (int id : {1027, 1043, 1044, 1035, 1034, 1038, 1040, 1041, 1042, 1049, 1058}) {
        boxes_->clear();
        Click(page_.get(), id);
        QCOMPARE(boxes_->boxes.size(), 1);
        QCOMPARE(boxes_->boxes[0].text, kPortClosed);
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("串口设置"));
        QCOMPARE(boxes_->boxes[0].icon, MessageService::Icon::Error);
        QCOMPARE(boxes_->boxes[0].owner, page_.get());
    }
    QVERIFY(Frames().empty());
    // The key change does not look at the flag: it goes on to the library.
    boxes_->clear();
    Click(page_.get(), 1047);
    QVERIFY(boxes_->boxes.isEmpty());
    QVERIFY(!Frames().empty());
    QCOMPARE(Prefix(Body(Frames()[0]), 2), Bytes({0x03, 0x01}));
}

void MifarePageTest::checksComeInOrder() {
    QWidget *p = page_.get();
    const QList<int> addressed = {1027, 1043, 1044, 1035, 1034, 1038, 1040, 1041, 1042};
    for (int id : addressed) {
        boxes_->clear();
        Click(p, id);
        QCOMPARE(Texts(), QStringList{kNoMode});
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("寻址方式"));
    }
    // The key is converted before the address is checked.
    Type(p, 1033, QStringLiteral("5A 3C 96 E1 0F 7"));
    for (int id : {1027, 1043, 1044}) {
        boxes_->clear();
        Click(p, id);
        QCOMPARE(Texts(), QStringList{kOdd});
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("数据检查"));
    }
    Type(p, 1033, QStringLiteral("5A 3C 96 E1"));
    boxes_->clear();
    Click(p, 1027);
    QCOMPARE(Texts(), QStringList{QStringLiteral("数据不足,需要6个字节,请检查数据")});
    Type(p, 1033, QStringLiteral("5A 3C 96 E1 0F 7B"));

    Choose(p, 1028, 1);
    for (int id : addressed) {
        boxes_->clear();
        Click(p, id);
        QCOMPARE(Texts(), QStringList{kNoSectorBlock});
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("选择扇区"));
    }
    Choose(p, 1029, 1);
    boxes_->clear();
    Click(p, 1035);
    QCOMPARE(Texts(), QStringList{kNoSectorBlock});
    Choose(p, 1028, 0);
    for (int id : addressed) {
        boxes_->clear();
        Click(p, id);
        QCOMPARE(Texts(), QStringList{kNoBlock});
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("选择扇区"));
    }
    QVERIFY(Frames().empty());

    // Block data after the address; the amount after the address too.
    Relative(1, 1);
    Type(p, 1037, QStringLiteral("00 01 02"));
    for (int id : {1044, 1034}) {
        boxes_->clear();
        Click(p, id);
        QCOMPARE(Texts(), QStringList{QStringLiteral("数据不足,需要16个字节,请检查数据")});
    }
    Type(p, 1037, QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E GG"));
    boxes_->clear();
    Click(p, 1034);
    QCOMPARE(boxes_->boxes.size(), 1);
    QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("数据检查"));
    for (int id : {1038, 1041, 1042}) {
        boxes_->clear();
        Click(p, id);
        QCOMPARE(Texts(), QStringList{kNoAmount});
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("钱包初始化"));
    }
    QVERIFY(Frames().empty());
    // Reading a wallet needs no amount.
    boxes_->clear();
    Click(p, 1027);
    Click(p, 1040);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(Frames().size(), size_t(2));
}

void MifarePageTest::modeChangeResetsSectorAndBlock() {
    QWidget *p = page_.get();
    Relative(3, 1);
    QCOMPARE(page_->m_nMode, 1);
    QCOMPARE(page_->m_nSector, 3);
    QCOMPARE(page_->m_nBlock, 1);
    Choose(p, 1028, 0);
    QCOMPARE(page_->m_nMode, 0);
    QCOMPARE(page_->m_nSector, -1);
    QCOMPARE(page_->m_nBlock, -1);
    QVERIFY(Ctl(p, 1030)->isHidden());
    QVERIFY(!Ctl(p, 1036)->isHidden());
    QVERIFY(!Ctl(p, 1029)->isEnabled());
    QCOMPARE(Ctl<QComboBox>(p, 1029)->currentText(), QStringLiteral("3"));
    Click(p, 1035);
    QCOMPARE(boxes_->lastText(), kNoBlock);

    Type(p, 1036, QStringLiteral("45"));
    boxes_->clear();
    Click(p, 1035);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(Frames().size(), size_t(1));
    QCOMPARE(Body(Frames()[0]), Bytes({0x03, 0x02, 0x01, 0x00, 45}));

    // Back to relative: the lists still show 3 and 1 but must be chosen again.
    Choose(p, 1028, 1);
    QVERIFY(!Ctl(p, 1030)->isHidden());
    QVERIFY(Ctl(p, 1036)->isHidden());
    QVERIFY(Ctl(p, 1029)->isEnabled());
    Click(p, 1035);
    QCOMPARE(boxes_->lastText(), kNoSectorBlock);
    Choose(p, 1029, 3);
    Choose(p, 1030, 1);
    port_->sim().ClearFrames();
    Click(p, 1027);
    QCOMPARE(Frames().size(), size_t(1));
    QCOMPARE(Body(Frames()[0]),
             Bytes({0x03, 0x01, 0x00, 0x03, 0x01, 0x60, 0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B}));
}

void MifarePageTest::absoluteBlockBoxDoesNotOverflow() {
    QWidget *p = page_.get();
    Choose(p, 1028, 0);
    Type(p, 1036, QString(50, QLatin1Char('9')));
    QCOMPARE(page_->m_nBlock, INT_MAX);
    Click(p, 1035);
    QVERIFY(boxes_->boxes.isEmpty());
    QVERIFY(Frames().empty());  // beyond an S50: refused by the library
    Ctl<QLineEdit>(p, 1036)->clear();
    QCOMPARE(page_->m_nBlock, 0);
}

void MifarePageTest::blocksThroughTheCard() {
    QWidget *p = page_.get();
    Relative(1, 0);
    // The same key typed in lower case without blanks.
    Type(p, 1033, QStringLiteral("5a3c96e10f7b"));
    Click(p, 1027);
    const QString data = QStringLiteral("11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF 00");
    Type(p, 1037, data);
    Click(p, 1034);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(FormatHexBytes(card_->raw(4).data(), 16), data + QLatin1Char(' '));

    Choose(p, 1030, 2);
    Click(p, 1035);
    QCOMPARE(Text(p, 1037), FormatHexBytes(card_->raw(6).data(), 16));
    Choose(p, 1030, 0);
    Click(p, 1035);
    QCOMPARE(Text(p, 1037), data + QLatin1Char(' '));
    QCOMPARE(Text(p, 1037).size(), 48);
    // Writing what was read sends exactly those 16 bytes.
    port_->sim().ClearFrames();
    Click(p, 1034);
    QCOMPARE(Frames().size(), size_t(1));
    // Built by appending: GCC 12 misreads an insert into a braced vector at -O2.
    sim::Bytes expected = {0x03, 0x03, 0x00, 0x01, 0x00};
    for (std::uint8_t byte : card_->raw(4)) expected.push_back(byte);
    QCOMPARE(Body(Frames()[0]), expected);

    // Combined read with key B of block 0 in sector 2 (absolute block 8).
    Ctl<QRadioButton>(p, 1032)->click();
    Choose(p, 1029, 2);
    Choose(p, 1030, 0);
    port_->sim().ClearFrames();
    Click(p, 1043);
    QCOMPARE(Body(Frames()[0]),
             Bytes({0x03, 0x07, 0x00, 0x00, 0x02, 0x00, 0x61, 0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B}));
    // Key B is readable under the transport conditions, so it opens nothing:
    // the read fails and the operator's text stays.
    QCOMPARE(Text(p, 1037), data + QLatin1Char(' '));
    Ctl<QRadioButton>(p, 1031)->click();
    Click(p, 1043);
    QCOMPARE(Text(p, 1037), QStringLiteral("01 23 45 67 89 AB CD EF FE DC BA 98 76 54 32 10 "));
    // Combined write of block 1 in sector 2, in absolute addressing (block 9).
    Choose(p, 1028, 0);
    Type(p, 1036, QStringLiteral("9"));
    Type(p, 1037, QStringLiteral("0102030405060708090A0B0C0D0E0F10"));
    Click(p, 1044);
    QCOMPARE(FormatHexBytes(card_->raw(9).data(), 16), QStringLiteral("01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 "));
    QVERIFY(boxes_->boxes.isEmpty());
}

void MifarePageTest::walletArithmeticInTheAmountBox() {
    QWidget *p = page_.get();
    Relative(1, 1);  // block 5 holds 1000 on the demo card
    Click(p, 1027);
    Click(p, 1040);
    QCOMPARE(Text(p, 1039), QStringLiteral("1000"));
    Type(p, 1039, QStringLiteral("100"));
    Click(p, 1038);
    Type(p, 1039, QStringLiteral("50"));
    Click(p, 1041);
    Type(p, 1039, QStringLiteral("30"));
    Click(p, 1042);
    Ctl<QLineEdit>(p, 1039)->clear();
    Click(p, 1040);
    QCOMPARE(Text(p, 1039), QStringLiteral("120"));
    // In absolute addressing only the block is needed.
    Choose(p, 1028, 0);
    Type(p, 1036, QStringLiteral("5"));
    Ctl<QLineEdit>(p, 1039)->clear();
    Click(p, 1040);
    QCOMPARE(Text(p, 1039), QStringLiteral("120"));
    QVERIFY(boxes_->boxes.isEmpty());
    // Signed, and never cut to the nine digits the operator may type.
    port_->sim().Enqueue(sim::Answer(0, Bytes({0xFB, 0xFF, 0xFF, 0xFF})));
    Click(p, 1040);
    QCOMPARE(Text(p, 1039), QStringLiteral("-5"));
    port_->sim().Enqueue(sim::Answer(0, Bytes({0x00, 0x94, 0x35, 0x77})));
    Click(p, 1040);
    QCOMPARE(Text(p, 1039), QStringLiteral("2000000000"));
    // The amount goes out least significant byte first.
    Type(p, 1039, QStringLiteral("10000"));
    port_->sim().ClearFrames();
    Click(p, 1042);
    QCOMPARE(Body(Frames()[0]), Bytes({0x03, 0x06, 0x02, 0x01, 0x00, 0x05, 0x10, 0x27, 0x00, 0x00}));
}

void MifarePageTest::keyChange() {
    QWidget *p = page_.get();
    Click(p, 1047);
    QCOMPARE(Texts(), QStringList{kNoTrailer});
    QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("修改控制字"));
    Choose(p, 1052, 0);
    // Keys are converted in order: old A, old B, new A, new B.
    Type(p, 1062, QStringLiteral("5A 3C 96"));
    Type(p, 1065, QStringLiteral("5A 3C 9"));
    boxes_->clear();
    Click(p, 1047);
    QCOMPARE(Texts(), QStringList{QStringLiteral("数据不足,需要6个字节,请检查数据")});
    Type(p, 1062, QStringLiteral("5A 3C 96 E1 0F 7B"));
    boxes_->clear();
    Click(p, 1047);
    QCOMPARE(Texts(), QStringList{kOdd});
    QVERIFY(Frames().empty());

    Type(p, 1065, QStringLiteral("66 55 44 33 22 11"));
    Type(p, 1064, QStringLiteral("11 22 33 44 55 66"));
    boxes_->clear();
    Click(p, 1047);
    QVERIFY(boxes_->boxes.isEmpty());
    const sim::Block &trailer = card_->raw(3);
    QCOMPARE(Prefix(sim::Bytes(trailer.begin(), trailer.end()), 6), Bytes({0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    // Key B stays: the library has no argument for a new one.
    QCOMPARE(sim::Bytes(trailer.begin() + 10, trailer.end()), sim::Bytes(sim::kDemoKey.begin(), sim::kDemoKey.end()));
    QCOMPARE(card_->raw(7)[0], sim::kDemoKey[0]);  // sector 1 untouched
}

void MifarePageTest::controlWordEditorCancelledOrEmpty() {
    QWidget *p = page_.get();
    Click(p, 1049);
    QCOMPARE(Texts(), QStringList{kNoTrailer});
    Choose(p, 1052, 1);
    Type(p, 1063, QStringLiteral("5A 3C 96 E1 0F"));
    boxes_->clear();
    int runs = 0;
    page_->m_fnRunEditor = [&](CCreateControl &) { return ++runs, int(QDialog::Rejected); };
    Click(p, 1049);
    QCOMPARE(Texts(), QStringList{QStringLiteral("数据不足,需要6个字节,请检查数据")});
    QCOMPARE(runs, 0);
    Type(p, 1063, QStringLiteral("5A 3C 96 E1 0F 7B"));

    // Cancelled: only the editor's own read goes to the reader.
    int sector = -1;
    int key_last = -1;
    page_->m_fnRunEditor = [&](CCreateControl &dlg) {
        ++runs;
        sector = dlg.m_nSector;
        key_last = dlg.m_KeyA[5];
        dlg.OnInitDialog();
        dlg.reject();
        return dlg.result();
    };
    boxes_->clear();
    Click(p, 1049);
    QCOMPARE(runs, 1);
    QCOMPARE(sector, 1);
    QCOMPARE(key_last, 0x7B);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(Frames().size(), size_t(1));
    QCOMPARE(Prefix(Body(Frames()[0]), 3), Bytes({0x03, 0x07, 0x00}));

    // OK before generating.
    page_->m_fnRunEditor = [&](CCreateControl &dlg) {
        dlg.OnInitDialog();
        dlg.accept();
        return dlg.result();
    };
    port_->sim().ClearFrames();
    Click(p, 1049);
    QCOMPARE(Texts(), QStringList{QStringLiteral("请先详细设置访问条件并生成控制字！")});
    QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("Parvex"));
    QCOMPARE(boxes_->boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(Frames().size(), size_t(1));
}

void MifarePageTest::controlWordChangeIsEnforcedByTheCard() {
    QWidget *p = page_.get();
    unsigned char key[6];
    std::copy(sim::kDemoKey.begin(), sim::kDemoKey.end(), key);
    unsigned char block[16] = {1, 2, 3};
    // Before: block 1 of sector 1 (block 5) may be written.
    QCOMPARE(CheckKey(11, 1, 1, 1, 0, key), 1);
    QCOMPARE(WriteBlock(1, 1, 1, 11, block), 1);

    Choose(p, 1052, 1);
    page_->m_fnRunEditor = [](CCreateControl &dlg) {
        dlg.OnInitDialog();
        // Block 1 becomes read-only (010).
        dlg.List(1080)->setCurrentIndex(2);
        dlg.List(1083)->setCurrentIndex(2);
        dlg.List(1086)->setCurrentIndex(1);
        dlg.OnGenerate();
        dlg.accept();
        return dlg.result();
    };
    Click(p, 1049);
    QVERIFY(boxes_->boxes.isEmpty());
    const access_bits::Word expected = access_bits::EncodeControlWord({0, 2, 0, 1});
    QCOMPARE(sim::Bytes(card_->raw(7).begin() + 6, card_->raw(7).begin() + 10),
             sim::Bytes(expected.begin(), expected.end()));

    // After: the card refuses the write and still allows the read.
    QCOMPARE(CheckKey(11, 1, 1, 1, 0, key), 1);
    QCOMPARE(ReadBlock(1, 1, 1, 11, block), 1);
    QCOMPARE(block[0], 1);
    QCOMPARE(CheckKey(11, 1, 1, 1, 0, key), 1);
    QCOMPARE(WriteBlock(1, 1, 1, 11, block), 0);
}

void MifarePageTest::unwritableAccessBitsNeedConfirmation() {
    QWidget *p = page_.get();
    Choose(p, 1052, 2);
    page_->m_fnRunEditor = [](CCreateControl &dlg) {
        dlg.OnInitDialog();
        for (int id : {1088, 1097, 1103}) dlg.List(id)->setCurrentIndex(2);
        dlg.List(1100)->setCurrentIndex(1);  // trailer 110: nothing may ever change
        dlg.OnGenerate();
        dlg.accept();
        return dlg.result();
    };
    const sim::Block before = card_->raw(11);
    boxes_->answers = {QMessageBox::No};
    Click(p, 1049);
    QCOMPARE(boxes_->boxes.size(), 1);
    const auto &box = boxes_->boxes[0];
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.default_button, QMessageBox::No);
    QVERIFY(box.text.contains(QStringLiteral("Never")));
    QVERIFY(box.text.contains(QStringLiteral("扇区2")));
    QCOMPARE(box.icon, MessageService::Icon::Warning);
    QCOMPARE(box.caption, QStringLiteral("修改控制字"));
    QCOMPARE(Frames().size(), size_t(1));  // the editor's read only
    QVERIFY(card_->raw(11) == before);

    boxes_->clear();
    boxes_->answers = {QMessageBox::Yes};
    Click(p, 1049);
    QCOMPARE(boxes_->boxes.size(), 1);
    const access_bits::Word expected = access_bits::EncodeControlWord({0, 0, 0, 6});
    QCOMPARE(sim::Bytes(card_->raw(11).begin() + 6, card_->raw(11).begin() + 10),
             sim::Bytes(expected.begin(), expected.end()));

    // A writable word asks nothing.
    boxes_->clear();
    Choose(p, 1052, 3);
    page_->m_fnRunEditor = [](CCreateControl &dlg) {
        dlg.OnInitDialog();
        dlg.OnGenerate();
        dlg.accept();
        return dlg.result();
    };
    Click(p, 1049);
    QVERIFY(boxes_->boxes.isEmpty());
}

void MifarePageTest::controlWordThroughTheModalEditor() {
    QWidget *p = page_.get();
    Choose(p, 1052, 1);
    bool seen = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        auto *dlg = qobject_cast<CCreateControl *>(QApplication::activeModalWidget());
        if (dlg == nullptr) return;
        poll.stop();
        seen = true;
        QCOMPARE(dlg->findChild<QLineEdit *>(QStringLiteral("IDC_1107"))->text(), QStringLiteral("FF 07 80 69 "));
        dlg->List(1076)->setCurrentIndex(1);
        dlg->List(1079)->setCurrentIndex(1);
        dlg->List(1082)->setCurrentIndex(2);
        dlg->List(1085)->setCurrentIndex(1);  // block 0: 011
        dlg->findChild<QPushButton *>(QStringLiteral("IDC_5"))->click();
        dlg->findChild<QPushButton *>(QStringLiteral("IDC_1"))->click();
    });
    poll.start(20);
    Click(p, 1049);
    QVERIFY(seen);
    QVERIFY(boxes_->boxes.isEmpty());
    const access_bits::Word expected = access_bits::EncodeControlWord({3, 0, 0, 1});
    QCOMPARE(sim::Bytes(card_->raw(7).begin() + 6, card_->raw(7).begin() + 10),
             sim::Bytes(expected.begin(), expected.end()));
}

void MifarePageTest::rawCommandSendsWhatWasTyped() {
    QWidget *p = page_.get();
    auto *box = Ctl<QPlainTextEdit>(p, 1057);
    Click(p, 1058);
    QCOMPARE(Texts(), QStringList{QStringLiteral("数据不足,至少需要1个字节,请检查数据")});
    box->setPlainText(QString(500, QLatin1Char('0')));
    boxes_->clear();
    Click(p, 1058);
    QCOMPARE(Texts(), QStringList{QStringLiteral("数据过长,最多249个字节,请检查数据")});
    box->setPlainText(QStringLiteral("01 0"));
    boxes_->clear();
    Click(p, 1058);
    QCOMPARE(Texts(), QStringList{kOdd});
    QVERIFY(Frames().empty());

    // Buzzer on: exactly the two bytes typed.
    box->setPlainText(QStringLiteral("01 04"));
    boxes_->clear();
    Click(p, 1058);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(Frames().size(), size_t(1));
    QCOMPARE(Body(Frames()[0]), Bytes({0x01, 0x04}));
    QVERIFY(model_->buzzer_on());

    sim::Bytes longest(249, 0x5A);
    box->setPlainText(FormatHexBytes(longest.data(), 249));
    port_->sim().Enqueue(sim::Answer(0));
    Click(p, 1058);
    QCOMPARE(Frames().size(), size_t(2));
    QCOMPARE(Body(Frames()[1]), longest);

    // Line breaks that Enter puts in separate bytes as blanks do.
    box->setPlainText(QStringLiteral("01\n04\r\n"));
    Click(p, 1058);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(Frames().size(), size_t(3));
    QCOMPARE(Body(Frames()[2]), Bytes({0x01, 0x04}));
}

// Each choice picked from a list's popup is taken once, a repeated one too;
// the addressing mode moves no control of the block group.
void MifarePageTest::everyChoiceIsTakenOnce() {
    QWidget *p = page_.get();
    p->show();
    QVERIFY(QTest::qWaitForWindowExposed(p));
    auto places = [&] {
        p->layout()->activate();
        QList<QRect> rects;
        const QRegularExpression controls(QStringLiteral("^IDC_"));
        for (QWidget *w : Ctl(p, 1107)->findChildren<QWidget *>(controls, Qt::FindDirectChildrenOnly))
            rects << w->geometry();
        return rects;
    };
    const QList<QRect> relative = places();
    QSignalSpy taken(page_.get(), &CMifareCard::choiceTaken);
    const QList<std::pair<int, int>> picks = {{1028, 1}, {1029, 3}, {1029, 3}, {1030, 2},
                                              {1052, 5}, {1052, 5}, {1028, 0}};
    for (const auto &[id, index] : picks) PickFromPopup(Ctl<QComboBox>(p, id), index);
    QCOMPARE(taken.size(), picks.size());
    for (qsizetype i = 0; i < picks.size(); ++i) QCOMPARE(taken[i][0].toInt(), picks[i].first);
    QCOMPARE(page_->m_nMode, 0);
    QCOMPARE(page_->m_nCtrlSector, 5);
    QCOMPARE(places(), relative);
}

void MifarePageTest::tabFollowsTheControlList() {
    const QList<int> list = {1028, 1029, 1030, 1036, 1031, 1032, 1033, 1027, 1043, 1044, 1037, 1035, 1034, 1039,
                             1038, 1040, 1041, 1042, 1052, 1063, 1062, 1064, 1065, 1047, 1049, 1057, 1058};
    QList<int> chain;
    QWidget *w = Ctl(page_.get(), list.first());
    while (chain.size() < list.size()) {
        chain << w->property("controlId").toInt();
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->objectName().startsWith(QStringLiteral("IDC_")));
    }
    QCOMPARE(chain, list);
}

QTEST_MAIN(MifarePageTest)
#include "mifare_page_test.moc"
