// The access-condition editor against the library and the simulated card.
#include <QtTest>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/access_bits.h"
#include "tests/app/support/app_test_support.h"
#include "app/create_control.h"
#include "app/hex_text.h"
#include "app/parvex_app.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "zelkor.h"

namespace {

constexpr int kDataIds[3][4] = {{1076, 1079, 1082, 1085}, {1077, 1080, 1083, 1086}, {1078, 1081, 1084, 1087}};
constexpr int kTrailerIds[4] = {1088, 1097, 1100, 1103};

QStringList RowTexts(CCreateControl &dlg, const int *ids) {
    QStringList texts;
    for (int i = 0; i < 4; ++i) texts << dlg.List(ids[i])->currentText();
    return texts;
}

void Choose(QComboBox *list, const QString &text) {
    if (text.isEmpty()) return list->setCurrentIndex(-1);
    const int index = list->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    list->setCurrentIndex(index);
}

void ChooseRow(CCreateControl &dlg, const int *ids, const access_bits::Words &words) {
    for (int i = 0; i < 4; ++i) Choose(dlg.List(ids[i]), QString::fromUtf8(words[static_cast<size_t>(i)].data(),
                                                                          static_cast<qsizetype>(words[static_cast<size_t>(i)].size())));
}

QString Generated(CCreateControl &dlg) { return dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1106"))->text(); }

}  // namespace

class CreateControlTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void showsTheTransportWordAndGeneratesItAgain();
    void cardWordWithEveryRow111();
    void generateFromChoices_data();
    void generateFromChoices();
    void everyAccessNumberRoundTripsThroughTheLists();
    void unknownCombinationKeepsTheWord();
    void errorAnswerIsNotDecoded();
    void sector32LabelsBlockGroups();
    void okHandsBackTheTexts();

private:
    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::unique_ptr<SimulatedPort> port_;
    std::shared_ptr<sim::MifareClassic> card_;
    RecordingMessages *boxes_ = nullptr;
};

void CreateControlTest::initTestCase() {
    port_ = std::make_unique<SimulatedPort>(3, model_);
    QVERIFY(port_->ok());
    QCOMPARE(OpenReader(3, 9600, 8, 0, 0), 1);
    theApp.m_bPortOpen = true;
}

void CreateControlTest::cleanupTestCase() {
    CloseReader();
    port_.reset();
}

void CreateControlTest::init() {
    card_ = sim::MakeDemoS50();
    model_->PutCard(card_);
}

void CreateControlTest::showsTheTransportWordAndGeneratesItAgain() {
    RecordingMessages boxes;
    CCreateControl dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("控制字修改"));
    dlg.m_nSector = 1;
    dlg.SetKeyA(sim::kDemoKey.data());
    dlg.OnInitDialog();
    QVERIFY(boxes.boxes.isEmpty());
    for (const auto &row : kDataIds)
        QCOMPARE(RowTexts(dlg, row), (QStringList{"KeyA|B", "KeyA|B", "KeyA|B", "KeyA|B"}));
    QCOMPARE(RowTexts(dlg, kTrailerIds), (QStringList{"KeyA", "KeyA", "KeyA", "KeyA"}));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1107"))->text(), QStringLiteral("FF 07 80 69 "));
    QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("IDC_1072"))->text(), QStringLiteral("块0:"));
    QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("IDC_1075"))->text(), QStringLiteral("块3:"));
    QCOMPARE(Generated(dlg), QString());
    dlg.findChild<QPushButton *>(QStringLiteral("IDC_5"))->click();
    QCOMPARE(Generated(dlg), QStringLiteral("FF 07 80 69 "));
    dlg.resize(dlg.sizeHint());
    QVERIFY(SaveScreenshot(&dlg, QStringLiteral("create_control")));
}

void CreateControlTest::cardWordWithEveryRow111() {
    RecordingMessages boxes;
    card_->SetTrailer(2, sim::kDemoKey, {0x00, 0xF0, 0xFF, 0x69}, sim::kDemoKey);
    CCreateControl dlg;
    dlg.m_nSector = 2;
    dlg.SetKeyA(sim::kDemoKey.data());
    dlg.OnInitDialog();
    QVERIFY(boxes.boxes.isEmpty());
    for (const auto &row : kDataIds) QCOMPARE(RowTexts(dlg, row), (QStringList{"Never", "Never", "Never", "Never"}));
    QCOMPARE(RowTexts(dlg, kTrailerIds), (QStringList{"Never", "Never", "Never", "Never"}));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1107"))->text(), QStringLiteral("00 F0 FF 69 "));
    dlg.OnGenerate();
    QCOMPARE(Generated(dlg), QStringLiteral("00 F8 7F 69 "));
}

void CreateControlTest::generateFromChoices_data() {
    QTest::addColumn<QStringList>("data");
    QTest::addColumn<QStringList>("trailer");
    QTest::addColumn<QString>("word");
    QTest::newRow("transport") << QStringList{"KeyA|B", "KeyA|B", "KeyA|B", "KeyA|B"}
                               << QStringList{"KeyA", "KeyA", "KeyA", "KeyA"} << "FF 07 80 69 ";
    QTest::newRow("all never") << QStringList{"Never", "Never", "Never", "Never"}
                               << QStringList{"Never", "Never", "Never", "Never"} << "00 F8 7F 69 ";
}

void CreateControlTest::generateFromChoices() {
    QFETCH(QStringList, data);
    QFETCH(QStringList, trailer);
    QFETCH(QString, word);
    RecordingMessages boxes;
    CCreateControl dlg;  // not initialised: the lists start empty
    for (const auto &row : kDataIds)
        for (int i = 0; i < 4; ++i) Choose(dlg.List(row[i]), data[i]);
    for (int i = 0; i < 4; ++i) Choose(dlg.List(kTrailerIds[i]), trailer[i]);
    dlg.OnGenerate();
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(Generated(dlg), word);
}

void CreateControlTest::everyAccessNumberRoundTripsThroughTheLists() {
    RecordingMessages boxes;
    for (int n = 0; n < 8; ++n) {
        CCreateControl dlg;
        // Data row r gets n + r, the trailer n: every number in every row over the loop.
        access_bits::Numbers expected{};
        for (int r = 0; r < 3; ++r) {
            expected[static_cast<size_t>(r)] = (n + r) % 8;
            ChooseRow(dlg, kDataIds[r], access_bits::DataConditions((n + r) % 8));
        }
        ChooseRow(dlg, kTrailerIds, access_bits::TrailerConditions(n));
        expected[3] = n == 7 ? 6 : n;
        dlg.OnGenerate();
        QVERIFY(boxes.boxes.isEmpty());
        const access_bits::Word word = access_bits::EncodeControlWord(expected);
        QCOMPARE(Generated(dlg), FormatHexBytes(word.data(), 4));

        // And back: a card holding that word shows the same choices.
        card_->SetTrailer(4, sim::kDemoKey, {word[0], word[1], word[2], word[3]}, sim::kDemoKey);
        CCreateControl shown;
        shown.m_nSector = 4;
        shown.SetKeyA(sim::kDemoKey.data());
        shown.OnInitDialog();
        QVERIFY(boxes.boxes.isEmpty());
        for (int r = 0; r < 3; ++r) QCOMPARE(RowTexts(shown, kDataIds[r]), RowTexts(dlg, kDataIds[r]));
        QCOMPARE(RowTexts(shown, kTrailerIds), RowTexts(dlg, kTrailerIds));
    }
}

void CreateControlTest::unknownCombinationKeepsTheWord() {
    RecordingMessages boxes;
    CCreateControl dlg;
    dlg.m_nSector = 1;
    dlg.SetKeyA(sim::kDemoKey.data());
    dlg.OnInitDialog();
    dlg.OnGenerate();
    QCOMPARE(Generated(dlg), QStringLiteral("FF 07 80 69 "));
    Choose(dlg.List(1076), "KeyB");
    Choose(dlg.List(1079), "KeyB");
    Choose(dlg.List(1082), "KeyB");
    dlg.OnGenerate();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("控制字无当前组合，请查阅相关文档！"));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("Parvex"));
    QCOMPARE(boxes.boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(Generated(dlg), QStringLiteral("FF 07 80 69 "));
}

// The reader answers the trailer read with an error status (wrong key): the
// answer's bytes must not be shown as access conditions.
void CreateControlTest::errorAnswerIsNotDecoded() {
    RecordingMessages boxes;
    CCreateControl dlg;
    dlg.m_nSector = 1;
    const unsigned char wrong[6] = {1, 2, 3, 4, 5, 6};
    dlg.SetKeyA(wrong);
    dlg.OnInitDialog();
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, QStringLiteral("读取原控制字失败"));
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("控制字读取"));
    QCOMPARE(boxes.boxes[0].icon, MessageService::Icon::Error);
    for (int id = 1076; id <= 1087; ++id) QCOMPARE(dlg.List(id)->currentIndex(), -1);
    for (int id : kTrailerIds) QCOMPARE(dlg.List(id)->currentIndex(), -1);
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1107"))->text(), QString());
    QVERIFY(!dlg.HasCurrentWord());

    // Generating needs a choice in all sixteen lists.
    boxes.clear();
    for (const auto &row : kDataIds) ChooseRow(dlg, row, access_bits::DataConditions(0));
    ChooseRow(dlg, kTrailerIds, {"KeyA", "KeyA", "KeyA", ""});
    dlg.OnGenerate();
    QCOMPARE(boxes.lastText(), QStringLiteral("控制字无当前组合，请查阅相关文档！"));
    Choose(dlg.List(1103), "KeyA");
    boxes.clear();
    dlg.OnGenerate();
    QVERIFY(boxes.boxes.isEmpty());
    QCOMPARE(Generated(dlg), QStringLiteral("FF 07 80 69 "));
}

void CreateControlTest::sector32LabelsBlockGroups() {
    RecordingMessages boxes;
    model_->PutCard(sim::MakeDemoS70());
    CCreateControl dlg;
    dlg.m_nSector = 32;
    dlg.SetKeyA(sim::kDemoKey.data());
    dlg.OnInitDialog();
    QVERIFY(boxes.boxes.isEmpty());
    const QStringList labels = {"块0~4:", "块5~9:", "块10~14:", "块15:"};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(dlg.findChild<QLabel *>(QStringLiteral("IDC_%1").arg(1072 + i))->text(), labels[i]);
    QCOMPARE(dlg.List(1076)->accessibleName(), QStringLiteral("块0~4 读"));
    QCOMPARE(dlg.findChild<QLineEdit *>(QStringLiteral("IDC_1107"))->text(), QStringLiteral("FF 07 80 69 "));
}

void CreateControlTest::okHandsBackTheTexts() {
    RecordingMessages boxes;
    CCreateControl dlg;
    dlg.m_nSector = 1;
    dlg.SetKeyA(sim::kDemoKey.data());
    dlg.OnInitDialog();
    Choose(dlg.List(1077), "KeyA|B");
    Choose(dlg.List(1080), "Never");
    Choose(dlg.List(1083), "Never");
    Choose(dlg.List(1086), "Never");  // block 1: 010, read only
    dlg.OnGenerate();
    dlg.findChild<QPushButton *>(QStringLiteral("IDC_1"))->click();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.m_strOldCtrl, QStringLiteral("FF 07 80 69 "));
    const access_bits::Word word = access_bits::EncodeControlWord({0, 2, 0, 1});
    QCOMPARE(dlg.m_strNewCtrl, FormatHexBytes(word.data(), 4));

    CCreateControl cancelled;
    cancelled.findChild<QPushButton *>(QStringLiteral("IDC_2"))->click();
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
    QCOMPARE(cancelled.m_strNewCtrl, QString());
}

QTEST_MAIN(CreateControlTest)
#include "create_control_test.moc"
