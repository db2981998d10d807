// The whole-card page in the main window, against the library and the
// simulated reader: key search, dump, files, comparison, restore and cancel.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <algorithm>

#include "tests/support/event_after_writes.h"
#include "tests/app/support/app_test_support.h"
#include "card/access_conditions.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "app/hex_text.h"
#include "app/mifare_card.h"
#include "app/parvex_app.h"
#include "app/parvex_dlg.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "tests/app/support/test_main.h"
#include "app/whole_card_dump_view.h"
#include "app/whole_card_page.h"
#include "zelkor.h"

namespace card = zelkor::card;

namespace {

constexpr int kPort = 3;
constexpr int kWorkTimeoutMs = 60000;
const sim::Key kOtherKey = {0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6};
const int kOtherKeySector = 5;

// Answers the open-file dialog with queued names as well.
class PageMessages : public RecordingMessages {
public:
    QStringList open_file_names;  // consumed front first
    QString OpenFileName(QWidget *, const QString &, const QString &) override {
        return open_file_names.isEmpty() ? QString() : open_file_names.takeFirst();
    }
};

// What a complete dump of `card` holds: its memory, keys from its trailers.
card::CardImage MemoryImage(const sim::MifareClassic &simulated) {
    const auto model = simulated.model();
    card::CardImage image = card::CardImage::Blank(model == sim::MifareClassic::Model::S50   ? card::CardKind::Classic1K
                                                   : model == sim::MifareClassic::Model::S70 ? card::CardKind::Classic4K
                                                                                             : card::CardKind::Mini);
    for (int block = 0; block < simulated.block_count(); ++block) image.SetBlock(block, simulated.raw(block));
    image.TakeKeysFromTrailers();
    image.uid.assign(simulated.raw(0).begin(), simulated.raw(0).begin() + 4);
    return image;
}

// The widget Tab moves to from `widget`.
QWidget *NextTabStop(QWidget *widget) {
    QWidget *next = widget->nextInFocusChain();
    while (next != widget && !(next->isEnabled() && next->isVisible() && (next->focusPolicy() & Qt::TabFocus)))
        next = next->nextInFocusChain();
    return next;
}

QString HexOf(const sim::Block &block) { return FormatHexBytes(block.data(), 16); }

bool WriteFile(const QString &path, const std::string &contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(contents.data(), static_cast<qint64>(contents.size())) == static_cast<qint64>(contents.size());
}

}  // namespace

class WholeCardPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void controlsCarryTheNamesScriptsUse();
    void searchFindsTheDemoKeyAndASecondSectorsKey();
    void dumpMatchesTheSimulatorsMemory_data();
    void dumpMatchesTheSimulatorsMemory();
    void saveAndOpenEveryFormat_data();
    void saveAndOpenEveryFormat();
    void incompleteDataReplacesAnExistingFileOnlyWhenTheOperatorSaysSo();
    void miniIsSavedAndOpenedInEveryFormat();
    void dumpWithoutAKnownExtensionIsKnownByItsContents();
    void uidAFileCannotHoldIsWarnedAndNotCompared();
    void compareMarksTheChangedBytes();
    void restoreOntoABlankCardIsVerified();
    void irreversibleTrailerNeedsItsOwnConfirmation();
    void cancelMidSearchLeavesTheWindowUsable();
    void refusalsBeforeAnyCardWork();
    void restoreStopsWhenAnotherCardIsSwappedIn();
    void readerGoneDuringWorkIsClosedAfterIt();  // unplugs the reader: last

private:
    QAbstractButton *Button(const QString &text) const {
        for (QAbstractButton *button : page_->findChildren<QAbstractButton *>())
            if (button->text() == text) return button;
        qFatal("no button %s", qPrintable(text));
    }
    QTableWidget *Table() const { return Named<QTableWidget>(QStringLiteral("卡数据")); }
    QListWidget *Dictionaries() const { return page_->findChild<QListWidget *>(); }
    template <typename T>
    T *Named(const QString &name) const {
        for (T *widget : page_->findChildren<T *>())
            if (widget->accessibleName() == name) return widget;
        qFatal("nothing named %s", qPrintable(name));
    }
    QStringList MapCells() const {
        QStringList cells;
        for (QToolButton *cell : Named<QWidget>(QStringLiteral("扇区图"))->findChildren<QToolButton *>()) cells << cell->text();
        return cells;
    }
    QString Status() const { return page_->findChild<QWidget *>(QStringLiteral("IDC_1214"))->property("text").toString(); }
    // Checks exactly the dictionaries whose names start with one of `names`.
    void UseDictionaries(const QStringList &names) {
        for (int i = 0; i < Dictionaries()->count(); ++i) {
            QListWidgetItem *item = Dictionaries()->item(i);
            const bool use = std::any_of(names.begin(), names.end(), [item](const QString &name) { return item->text().startsWith(name); });
            item->setCheckState(use ? Qt::Checked : Qt::Unchecked);
        }
    }
    // Clicks `text` and waits until the card work it started, and any work
    // that follows from it, has ended.
    bool RunCardWork(const QString &text) {
        Button(text)->click();
        if (!page_->CardWorkRunning()) return false;
        QSignalSpy finished(page_, &CWholeCardPage::cardWorkFinished);
        while (page_->CardWorkRunning())
            if (!finished.wait(kWorkTimeoutMs)) return false;
        return true;
    }
    QString TempPath(const QString &name) const { return dir_.filePath(name); }
    bool OpenDump(const card::CardImage &image, const QString &name) {
        if (!WriteFile(TempPath(name), card::WriteDump(image, *card::FormatForPath(name.toStdString()), nullptr)))
            return false;
        messages_->open_file_names = {TempPath(name)};
        Button(QStringLiteral("打开文件"))->click();
        const auto &shown = page_->shownImage();
        return shown && shown->blocks == image.blocks && shown->known_mask == image.known_mask && shown->keys == image.keys;
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::unique_ptr<SimulatedPort> port_;
    std::shared_ptr<sim::MifareClassic> card_;
    std::unique_ptr<PageMessages> messages_;
    std::unique_ptr<CParvexDlg> dlg_;
    CWholeCardPage *page_ = nullptr;
    QTemporaryDir dir_;
};

void WholeCardPageTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(theApp.StartCapture());
    port_ = std::make_unique<SimulatedPort>(kPort, model_);
    QVERIFY(port_->ok());
    messages_ = std::make_unique<PageMessages>();
    dlg_ = std::make_unique<CParvexDlg>();
    dlg_->resize(1366, 740);
    dlg_->show();
    auto *tabs = dlg_->findChild<QTabWidget *>(QStringLiteral("IDC_1046"));
    tabs->setCurrentIndex(3);
    page_ = dlg_->m_pageWholeCard;

    auto *ports = dlg_->findChild<QComboBox *>(QStringLiteral("IDC_1001"));
    ports->setCurrentIndex(ports->findText(QStringLiteral("COM%1").arg(kPort), Qt::MatchStartsWith));
    dlg_->findChild<QPushButton *>(QStringLiteral("IDC_1000"))->click();
    QVERIFY(theApp.m_bPortOpen);

    // Dictionary files, added once and remembered for the run: the demo
    // card's keys, and many keys that open nothing.
    QVERIFY(WriteFile(TempPath(QStringLiteral("demo.dic")), "# demo card\n5A3C96E10F7B\n\na1b2c3d4e5f6\n"));
    std::string many;
    for (int i = 0; i < 400; ++i)
        many += card::KeyToHex({0x10, 0x20, 0x30, 0x40, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)}) + "\n";
    QVERIFY(WriteFile(TempPath(QStringLiteral("many.dic")), many));
    messages_->open_file_names = {TempPath(QStringLiteral("demo.dic")), TempPath(QStringLiteral("many.dic"))};
    Button(QStringLiteral("添加字典"))->click();
    Button(QStringLiteral("添加字典"))->click();
    QCOMPARE(Dictionaries()->count(), 4);
    QVERIFY(messages_->boxes.isEmpty());
}

void WholeCardPageTest::cleanupTestCase() {
    dlg_.reset();
    CloseReader();
    theApp.m_bPortOpen = false;
    messages_.reset();
    port_.reset();
    theApp.StopCapture();
}

void WholeCardPageTest::init() {
    card_ = sim::MakeDemoS50();
    card_->SetTrailer(kOtherKeySector, kOtherKey, sim::kTransportAccess, kOtherKey);
    model_->PutCard(card_);
    messages_->clear();
    messages_->answers.clear();
    UseDictionaries({QStringLiteral("demo.dic")});
    page_->findChild<QCheckBox *>()->setChecked(false);
}

void WholeCardPageTest::cleanup() { QVERIFY(!page_->CardWorkRunning()); }

void WholeCardPageTest::controlsCarryTheNamesScriptsUse() {
    auto *tabs = dlg_->findChild<QTabWidget *>(QStringLiteral("IDC_1046"));
    QCOMPARE(tabs->tabText(3), QStringLiteral("整卡"));
    for (const char *text : {"搜索密钥", "停止", "读整卡", "写整卡", "打开文件", "保存文件", "比较文件", "添加字典", "包括控制块"}) {
        QAbstractButton *button = Button(QString::fromUtf8(text));
        QVERIFY2(button->focusPolicy() & Qt::TabFocus, text);
    }
    QCOMPARE(page_->findChildren<QProgressBar *>().size(), 1);
    QVERIFY(Named<QWidget>(QStringLiteral("扇区图")) != nullptr);
    QCOMPARE(Table()->columnCount(), 3);
    QVERIFY(Table()->focusPolicy() & Qt::TabFocus);
    QVERIFY(!Dictionaries()->accessibleName().isEmpty());
}

void WholeCardPageTest::searchFindsTheDemoKeyAndASecondSectorsKey() {
    QVERIFY(RunCardWork(QStringLiteral("搜索密钥")));
    QVERIFY2(messages_->boxes.isEmpty(), qPrintable(messages_->lastText()));
    QStringList expected;
    for (int sector = 0; sector < 16; ++sector) expected << QStringLiteral("%1 A B").arg(sector);
    QCOMPARE(MapCells(), expected);
    const auto &keys = page_->shownImage()->keys;
    QCOMPARE(keys[0].a, std::optional<card::Key>(sim::kDemoKey));
    QCOMPARE(keys[kOtherKeySector].a, std::optional<card::Key>(kOtherKey));
    QCOMPARE(keys[kOtherKeySector].b, std::optional<card::Key>(kOtherKey));
    auto cells = Named<QWidget>(QStringLiteral("扇区图"))->findChildren<QToolButton *>();
    QVERIFY(cells[kOtherKeySector]->toolTip().contains(QStringLiteral("A1B2C3D4E5F6")));
    QVERIFY(Status().startsWith(QStringLiteral("找到 32 个密钥")));
}

void WholeCardPageTest::dumpMatchesTheSimulatorsMemory_data() {
    QTest::addColumn<QString>("model");
    QTest::addColumn<int>("sectors");
    QTest::newRow("S50") << QStringLiteral("S50") << 16;
    QTest::newRow("S70: 40 sectors, the last 8 of 16 blocks") << QStringLiteral("S70") << 40;
    QTest::newRow("Mini: 5 sectors, 20 blocks") << QStringLiteral("Mini") << 5;
}

void WholeCardPageTest::dumpMatchesTheSimulatorsMemory() {
    QFETCH(QString, model);
    QFETCH(int, sectors);
    const bool s70 = model == QStringLiteral("S70");
    if (model != QStringLiteral("S50")) {
        card_ = s70 ? sim::MakeDemoS70() : sim::MakeDemoMini();
        model_->PutCard(card_);
    }
    // Sectors whose keys no dictionary holds stay unknown.
    const int locked = s70 ? 35 : sectors == 5 ? 3 : 9;
    card_->SetTrailer(locked, {1, 2, 3, 4, 5, 6}, sim::kTransportAccess, {1, 2, 3, 4, 5, 6});
    QVERIFY(RunCardWork(QStringLiteral("读整卡")));
    QTableWidget *table = Table();
    QCOMPARE(table->rowCount(), card_->block_count());
    for (int block = 0; block < card_->block_count(); ++block) {
        const QString expected =
            card::SectorOfBlock(block) == locked ? QStringLiteral("-- ").repeated(16) : HexOf(card_->raw(block));
        QCOMPARE(table->item(block, CDumpView::kBlockColumn)->text(), QString::number(block));
        QCOMPARE(table->item(block, CDumpView::kDataColumn)->text(), expected);
    }
    QCOMPARE(table->item(4, CDumpView::kAsciiColumn)->text(), QStringLiteral("Zelkor demo card"));
    QVERIFY(table->item(5, CDumpView::kDataColumn)->toolTip().contains(QStringLiteral("值：1000")));
    QVERIFY(table->item(7, CDumpView::kDataColumn)->toolTip().contains(QStringLiteral("出厂控制字")));
    QCOMPARE(MapCells().size(), sectors);
    QCOMPARE(MapCells()[locked], QStringLiteral("%1 - -").arg(locked));
    QCOMPARE(MapCells()[sectors - 1], QStringLiteral("%1 A B").arg(sectors - 1));
    QVERIFY(page_->shownImage()->partial);
    if (s70) QVERIFY(table->item(255, CDumpView::kDataColumn)->toolTip().contains(QStringLiteral("块 240-244")));

    if (model == QStringLiteral("S50")) {
        table->clearSelection();
        QVERIFY(SaveScreenshot(page_, QStringLiteral("whole_card_page")));
    }
    // The cells sit between the search buttons and the table in the tab order.
    const auto cells = Named<QWidget>(QStringLiteral("扇区图"))->findChildren<QToolButton *>();
    // 停止 is skipped once the work has ended; the controls may settle a
    // moment after the dump is shown on a busy machine.
    QTRY_COMPARE(NextTabStop(Button(QStringLiteral("搜索密钥"))), cells[0]);
    QCOMPARE(NextTabStop(cells[sectors - 1]), static_cast<QWidget *>(table));
    // Clicking a sector selects its first block.
    cells[sectors - 1]->click();
    QCOMPARE(table->currentRow(), card::FirstBlock(sectors - 1));
}

void WholeCardPageTest::saveAndOpenEveryFormat_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("keeps_unknown");
    QTest::addColumn<bool>("warns");  // of what the format cannot hold
    QTest::newRow("mct") << "dump.mct" << true << false;
    QTest::newRow("bin") << "dump.bin" << false << true;
    QTest::newRow("mfd") << "dump.mfd" << false << true;
    QTest::newRow("json") << "dump.json" << true << false;
    QTest::newRow("nfc (needs a UID, ATQA and SAK)") << "dump.nfc" << true << true;
    QTest::newRow("eml") << "dump.eml" << false << true;
}

void WholeCardPageTest::saveAndOpenEveryFormat() {
    QFETCH(QString, name);
    QFETCH(bool, keeps_unknown);
    QFETCH(bool, warns);
    card::CardImage image = MemoryImage(*card_);
    image.ForgetBlock(6);
    QVERIFY(OpenDump(image, QStringLiteral("source.mct")));

    messages_->save_file_name = TempPath(name);
    Button(QStringLiteral("保存文件"))->click();
    QVERIFY2(messages_->boxes.size() == (warns ? 1 : 0), qPrintable(messages_->lastText()));
    if (warns) {
        QCOMPARE(messages_->boxes[0].icon, MessageService::Icon::Warning);
        QVERIFY2(!messages_->boxes[0].text.contains(QStringLiteral("written")), qPrintable(messages_->lastText()));
    }
    messages_->clear();
    QVERIFY(OpenDump(MemoryImage(*card_), QStringLiteral("other.mct")));
    messages_->open_file_names = {TempPath(name)};
    Button(QStringLiteral("打开文件"))->click();
    QVERIFY2(messages_->boxes.isEmpty(), qPrintable(messages_->lastText()));
    QCOMPARE(Table()->item(6, CDumpView::kDataColumn)->text(),
             keeps_unknown ? QStringLiteral("-- ").repeated(16) : QStringLiteral("00 ").repeated(16));
    for (int block : {0, 4, 5, 7, 63}) QCOMPARE(Table()->item(block, CDumpView::kDataColumn)->text(), HexOf(card_->raw(block)));
    QCOMPARE(page_->shownImage()->keys, image.keys);
}

void WholeCardPageTest::incompleteDataReplacesAnExistingFileOnlyWhenTheOperatorSaysSo() {
    card::CardImage image = MemoryImage(*card_);
    image.ForgetBlock(6);
    QVERIFY(OpenDump(image, QStringLiteral("incomplete.mct")));
    const QString good = TempPath(QStringLiteral("good.mct"));
    const auto read = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    // No: the good file stays, the data goes beside it; Cancel: nothing is
    // written; Yes: the operator chose to replace it.
    for (const auto answer : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Yes}) {
        QVERIFY(WriteFile(good, "a good file"));
        QFile::remove(TempPath(QStringLiteral("good.partial.mct")));
        messages_->clear();
        messages_->answers = {answer};
        messages_->save_file_name = good;
        Button(QStringLiteral("保存文件"))->click();
        QVERIFY(!messages_->boxes.isEmpty());
        QCOMPARE(messages_->boxes[0].icon, MessageService::Icon::Question);
        QVERIFY2(messages_->boxes[0].text.contains(QStringLiteral("good.partial.mct")), qPrintable(messages_->boxes[0].text));
        QCOMPARE(read(good) == "a good file", answer != QMessageBox::Yes);
        QCOMPARE(QFile::exists(TempPath(QStringLiteral("good.partial.mct"))), answer == QMessageBox::No);
    }
    // Complete data replaces the file without a question.
    QVERIFY(OpenDump(MemoryImage(*card_), QStringLiteral("complete.mct")));
    messages_->clear();
    Button(QStringLiteral("保存文件"))->click();
    QVERIFY2(messages_->boxes.isEmpty(), qPrintable(messages_->lastText()));
    QVERIFY(read(good) != "a good file");
}

void WholeCardPageTest::miniIsSavedAndOpenedInEveryFormat() {
    card_ = sim::MakeDemoMini();
    const card::CardImage image = MemoryImage(*card_);
    for (const QString &name : {QStringLiteral("mini.mct"), QStringLiteral("mini.bin"), QStringLiteral("mini.json"),
                               QStringLiteral("mini.nfc"), QStringLiteral("mini.eml")}) {
        QVERIFY(OpenDump(image, QStringLiteral("source.json")));
        messages_->save_file_name = TempPath(name);
        Button(QStringLiteral("保存文件"))->click();
        messages_->clear();
        QVERIFY(OpenDump(MemoryImage(*sim::MakeDemoS50()), QStringLiteral("other.mct")));
        messages_->open_file_names = {TempPath(name)};
        Button(QStringLiteral("打开文件"))->click();
        QVERIFY2(messages_->boxes.isEmpty(), qPrintable(name + messages_->lastText()));
        QVERIFY(page_->shownImage()->kind == card::CardKind::Mini);
        QVERIFY(page_->shownImage()->blocks == image.blocks);
        QCOMPARE(Table()->rowCount(), 20);
        QCOMPARE(MapCells().size(), 5);
    }
}

void WholeCardPageTest::dumpWithoutAKnownExtensionIsKnownByItsContents() {
    const card::CardImage image = MemoryImage(*card_);
    for (const auto format : {card::DumpFormat::Mct, card::DumpFormat::Eml}) {
        QVERIFY(OpenDump(MemoryImage(*sim::MakeDemoMini()), QStringLiteral("other.mct")));
        QVERIFY(WriteFile(TempPath(QStringLiteral("dump.txt")), card::WriteDump(image, format, nullptr)));
        messages_->clear();
        messages_->open_file_names = {TempPath(QStringLiteral("dump.txt"))};
        Button(QStringLiteral("打开文件"))->click();
        QVERIFY2(messages_->boxes.isEmpty(), qPrintable(messages_->lastText()));
        QVERIFY(page_->shownImage()->blocks == image.blocks);
    }
}

void WholeCardPageTest::uidAFileCannotHoldIsWarnedAndNotCompared() {
    card::CardImage image = MemoryImage(*card_);
    image.uid = {0x04, 0x30, 0x68, 0x6A, 0x99, 0x66, 0x80};
    QVERIFY(OpenDump(image, QStringLiteral("seven.json")));
    messages_->save_file_name = TempPath(QStringLiteral("seven.mct"));
    Button(QStringLiteral("保存文件"))->click();
    QVERIFY2(messages_->lastText().contains(QStringLiteral("卡号 0430686A996680 没有保存")), qPrintable(messages_->lastText()));
    messages_->clear();
    messages_->open_file_names = {TempPath(QStringLiteral("seven.mct"))};
    Button(QStringLiteral("比较文件"))->click();
    QVERIFY2(Status().startsWith(QStringLiteral("与 seven.mct 相同；卡号未比较")), qPrintable(Status()));
}

void WholeCardPageTest::compareMarksTheChangedBytes() {
    const card::CardImage image = MemoryImage(*card_);
    card::CardImage changed = image;
    changed.blocks[8][3] ^= 0xFF;
    changed.blocks[9][0] = 0x42;
    changed.blocks[9][15] = 0x42;
    QVERIFY(WriteFile(TempPath(QStringLiteral("changed.json")), card::WriteDump(changed, card::DumpFormat::Json, nullptr)));
    QVERIFY(OpenDump(image, QStringLiteral("image.nfc")));
    messages_->open_file_names = {TempPath(QStringLiteral("changed.json"))};
    Button(QStringLiteral("比较文件"))->click();
    QVERIFY(Status().contains(QStringLiteral("2 块不同：8-9")));
    for (int block = 0; block < 64; ++block) {
        const int expected = block == 8 ? 1 << 3 : block == 9 ? (1 | 1 << 15) : 0;
        QCOMPARE(Table()->item(block, CDumpView::kDataColumn)->data(CDumpView::kDifferingRole).toInt(), expected);
    }
    QVERIFY(Table()->item(9, CDumpView::kBlockColumn)->toolTip().contains(QStringLiteral("比较文件：42 ")));
    // Opening another dump clears the marks.
    QVERIFY(OpenDump(changed, QStringLiteral("changed.mct")));
    QCOMPARE(Table()->item(8, CDumpView::kDataColumn)->data(CDumpView::kDifferingRole).toInt(), 0);
}

void WholeCardPageTest::restoreOntoABlankCardIsVerified() {
    const card::CardImage source = MemoryImage(*card_);
    QVERIFY(OpenDump(source, QStringLiteral("demo.json")));
    auto blank = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50,
                                                      std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x44},
                                                      sim::kFactoryKey, sim::kFactoryKey, sim::kTransportAccess);
    model_->PutCard(blank);
    UseDictionaries({QStringLiteral("内置密钥")});
    page_->findChild<QCheckBox *>()->setChecked(true);
    messages_->answers = {QMessageBox::Yes};
    QVERIFY(RunCardWork(QStringLiteral("写整卡")));

    QCOMPARE(messages_->boxes.size(), 2);
    const auto &plan = messages_->boxes[0];
    QCOMPARE(plan.buttons, QMessageBox::Yes | QMessageBox::No);
    QVERIFY2(plan.text.contains(QStringLiteral("将写入 19 块：3-5 7-8 11 15 19 23 27 31 35 39 43 47 51 55 59 63")),
             qPrintable(plan.text));
    QVERIFY(plan.text.contains(QStringLiteral("块 0：厂商块，从不写入")));
    QVERIFY(plan.text.contains(QStringLiteral("卡片的卡号是 11223344")));
    const auto &summary = messages_->boxes[1];
    QCOMPARE(summary.icon, MessageService::Icon::Information);
    QVERIFY2(summary.text.startsWith(QStringLiteral("写入 19 块，校验通过 19 块")), qPrintable(summary.text));
    for (int block = 1; block < 64; ++block) QCOMPARE(HexOf(blank->raw(block)), HexOf(card_->raw(block)));
}

void WholeCardPageTest::irreversibleTrailerNeedsItsOwnConfirmation() {
    card::CardImage source = MemoryImage(*card_);
    const auto frozen = card::EncodeAccessBytes({0, 0, 0, 6});  // trailer 110: access bits never writable again
    std::copy(frozen.begin(), frozen.end(), source.blocks[11].begin() + 6);
    source.blocks[9][0] = 0x99;
    QVERIFY(OpenDump(source, QStringLiteral("frozen.mct")));
    page_->findChild<QCheckBox *>()->setChecked(true);
    const sim::Block trailer_before = card_->raw(11);

    // Declined: nothing is written at all.
    messages_->answers = {QMessageBox::Yes, QMessageBox::No};
    QVERIFY(RunCardWork(QStringLiteral("写整卡")));
    QCOMPARE(messages_->boxes.size(), 2);
    QCOMPARE(messages_->boxes[1].default_button, QMessageBox::No);
    QVERIFY(messages_->boxes[1].text.contains(QStringLiteral("控制块 11")));
    QCOMPARE(card_->raw(9)[0], 0);
    QCOMPARE(HexOf(card_->raw(11)), HexOf(trailer_before));

    // Confirmed twice: written and read back.
    messages_->clear();
    messages_->answers = {QMessageBox::Yes, QMessageBox::Yes};
    QVERIFY(RunCardWork(QStringLiteral("写整卡")));
    QCOMPARE(messages_->boxes.size(), 3);
    QCOMPARE(messages_->boxes[2].icon, MessageService::Icon::Information);
    QCOMPARE(card_->raw(9)[0], 0x99);
    QCOMPARE(HexOf(card_->raw(11)), HexOf(source.blocks[11]));

    // Once the card holds the dump, nothing is left to write.
    messages_->clear();
    QVERIFY(RunCardWork(QStringLiteral("写整卡")));
    QCOMPARE(messages_->boxes.size(), 1);
    QVERIFY(messages_->lastText().startsWith(QStringLiteral("卡上已是这些数据")));
}

void WholeCardPageTest::cancelMidSearchLeavesTheWindowUsable() {
    // Sector 0 opens with the first of the many keys, the rest with none.
    const sim::Key first_of_many = {0x10, 0x20, 0x30, 0x40, 0x00, 0x00};
    card_->SetTrailer(0, first_of_many, sim::kTransportAccess, first_of_many);
    UseDictionaries({QStringLiteral("many.dic")});
    auto *log = dlg_->findChild<QPlainTextEdit *>(QStringLiteral("IDC_1007"));
    log->clear();
    auto *find_card = dlg_->findChild<QPushButton *>(QStringLiteral("IDC_1006"));
    auto *progress = page_->findChild<QProgressBar *>();

    // At the line's pace the search outlasts the test's reaction however busy
    // the machine is: against an instant reader it could end before the click.
    port_->sim().SetWireBaud(115200);
    const struct Unpace {
        sim::Simulator &sim;
        ~Unpace() { sim.SetWireBaud(0); }
    } unpace{port_->sim()};
    QSignalSpy finished(page_, &CWholeCardPage::cardWorkFinished);
    Button(QStringLiteral("搜索密钥"))->click();
    QVERIFY(page_->CardWorkRunning());
    QVERIFY(!find_card->isEnabled() && !dlg_->m_pageS50->isEnabled());
    QVERIFY(!dlg_->findChild<QWidget *>(QStringLiteral("IDC_1000"))->isEnabled());
    QVERIFY(!Button(QStringLiteral("读整卡"))->isEnabled() && Button(QStringLiteral("停止"))->isEnabled());
    // Progress, the keys found so far and the library's trace reach the
    // window while the search runs.
    QTRY_VERIFY_WITH_TIMEOUT(MapCells().value(0) == QStringLiteral("0 A B") && progress->value() >= 2 &&
                                 !log->document()->find(QStringLiteral("发送数据")).isNull(),
                             20000);
    QVERIFY(page_->CardWorkRunning());
    Button(QStringLiteral("停止"))->click();
    QVERIFY(finished.wait(kWorkTimeoutMs));
    QVERIFY(Status().startsWith(QStringLiteral("已停止")));
    QVERIFY(find_card->isEnabled() && dlg_->m_pageS50->isEnabled() && Button(QStringLiteral("搜索密钥"))->isEnabled());

    // The window's own buttons reach the reader again.
    port_->sim().ClearFrames();
    find_card->click();
    QVERIFY(port_->sim().WaitForFrames(1, 5000));
}

void WholeCardPageTest::refusalsBeforeAnyCardWork() {
    theApp.m_bPortOpen = false;
    port_->sim().ClearFrames();
    for (const char *text : {"搜索密钥", "读整卡", "写整卡"}) {
        messages_->clear();
        Button(QString::fromUtf8(text))->click();
        QCOMPARE(messages_->lastText(), QStringLiteral("请先打开读卡器串口"));
        QCOMPARE(messages_->boxes.last().caption, QStringLiteral("串口设置"));
    }
    theApp.m_bPortOpen = true;
    QCOMPARE(port_->sim().FrameCount(), 0u);
    QVERIFY(!page_->CardWorkRunning());

    QVERIFY(WriteFile(TempPath(QStringLiteral("bad.dic")), "FFFFFFFFFFFF\nnot a key\n"));
    QVERIFY(WriteFile(TempPath(QStringLiteral("dump.txt")), "text"));
    QVERIFY(WriteFile(TempPath(QStringLiteral("short.bin")), std::string(100, '\0')));
    const struct {
        const char *button;
        const char *file;
        const char *expected;
    } files[] = {{"添加字典", "bad.dic", "bad.dic 第 2 行：应为 12 位十六进制数字的密钥，实际是 'not a key'"},
                 {"打开文件", "dump.txt", "不支持的文件类型"},
                 {"打开文件", "short.bin", "short.bin：大小为 100 字节"},
                 {"比较文件", "missing.mct", "无法打开文件"}};
    const int dictionaries = Dictionaries()->count();
    for (const auto &file : files) {
        messages_->clear();
        messages_->open_file_names = {TempPath(QString::fromUtf8(file.file))};
        Button(QString::fromUtf8(file.button))->click();
        QVERIFY2(messages_->lastText().contains(QString::fromUtf8(file.expected)), qPrintable(messages_->lastText()));
    }
    QCOMPARE(Dictionaries()->count(), dictionaries);
}

void WholeCardPageTest::restoreStopsWhenAnotherCardIsSwappedIn() {
    QVERIFY(OpenDump(MemoryImage(*card_), QStringLiteral("demo.json")));
    const auto blank = [](std::uint8_t first) {
        return std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50,
                                                    std::array<std::uint8_t, 4>{first, 0x22, 0x33, 0x44},
                                                    sim::kFactoryKey, sim::kFactoryKey, sim::kTransportAccess);
    };
    const auto target = blank(0x11);
    const auto other = blank(0x55);
    model_->PutCard(target);
    UseDictionaries({QStringLiteral("内置密钥")});
    page_->findChild<QCheckBox *>()->setChecked(true);
    messages_->answers = {QMessageBox::Yes};
    // The other card comes in right after the fifth block or trailer written.
    port_->sim().SetModel(std::make_shared<testing_support::EventAfterWrites>(model_, 5, [this, other] { model_->PutCard(other); }));
    const bool finished = RunCardWork(QStringLiteral("写整卡"));
    port_->sim().SetModel(model_);
    QVERIFY(finished);

    const auto &summary = messages_->boxes.last();
    QCOMPARE(summary.icon, MessageService::Icon::Error);
    QVERIFY2(summary.text.contains(QStringLiteral("读卡器上换成了另一张卡（卡号 55223344），不是开始时的卡片 11223344")),
             qPrintable(summary.text));
    QVERIFY2(summary.text.contains(QStringLiteral("另一张卡（卡号 55223344）上没有写入任何数据")), qPrintable(summary.text));
    QVERIFY(Status().startsWith(QStringLiteral("已停止")));
    const auto untouched = blank(0x55);
    for (int block = 0; block < 64; ++block) QCOMPARE(HexOf(other->raw(block)), HexOf(untouched->raw(block)));
}

void WholeCardPageTest::readerGoneDuringWorkIsClosedAfterIt() {
    UseDictionaries({QStringLiteral("many.dic")});
    bool open_when_finished = false;
    connect(page_, &CWholeCardPage::cardWorkFinished, this, [&] { open_when_finished = theApp.m_bPortOpen; });
    QSignalSpy finished(page_, &CWholeCardPage::cardWorkFinished);
    Button(QStringLiteral("搜索密钥"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(page_->findChild<QProgressBar *>()->value() >= 1, 20000);
    port_->sim().Unplug();
    QVERIFY(finished.wait(kWorkTimeoutMs));
    // The window closes the port only once the work has let go of the library.
    QVERIFY(open_when_finished);
    QTRY_VERIFY_WITH_TIMEOUT(!theApp.m_bPortOpen, 5000);
    QCOMPARE(messages_->lastText(), QStringLiteral("读卡器已经断开连接！"));
    disconnect(page_, &CWholeCardPage::cardWorkFinished, this, nullptr);
}

PARVEX_TEST_MAIN(WholeCardPageTest)
#include "whole_card_page_test.moc"
