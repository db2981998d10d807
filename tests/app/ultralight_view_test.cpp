// The whole-card page with cards of the UltraLight family, against the
// library and the simulated reader: the pages read and shown, key search and
// the sector map greyed out, the pages saved and opened in every format that
// holds them, a comparison, and back to a MIFARE Classic card.
#include <QAbstractButton>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "tests/app/support/app_test_support.h"
#include "card/ultralight_formats.h"
#include "app/parvex_app.h"
#include "app/parvex_dlg.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "tests/app/support/test_main.h"
#include "app/ultralight_page_view.h"
#include "app/whole_card_page.h"
#include "zelkor.h"

namespace card = zelkor::card;

namespace {

constexpr int kPort = 3;
constexpr int kWorkTimeoutMs = 60000;

class PageMessages : public RecordingMessages {
public:
    QStringList open_file_names;
    QString OpenFileName(QWidget *, const QString &, const QString &) override {
        return open_file_names.isEmpty() ? QString() : open_file_names.takeFirst();
    }
};

}  // namespace

class UltraLightViewTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void readShowsEveryPageAndGreysOutKeySearch();
    void saveAndOpenEveryFormat_data();
    void saveAndOpenEveryFormat();
    void compareMarksTheChangedPageAndAClassicCardComesBack();

private:
    QAbstractButton *Button(const QString &text) const {
        for (QAbstractButton *button : page_->findChildren<QAbstractButton *>())
            if (button->text() == text) return button;
        qFatal("no button %s", qPrintable(text));
    }
    template <typename T>
    T *Named(const QString &name) const {
        for (T *widget : page_->findChildren<T *>())
            if (widget->accessibleName() == name) return widget;
        qFatal("nothing named %s", qPrintable(name));
    }
    QString Status() const { return page_->findChild<QWidget *>(QStringLiteral("IDC_1214"))->property("text").toString(); }
    bool ReadCard() {
        Button(QStringLiteral("读整卡"))->click();
        QSignalSpy finished(page_, &CWholeCardPage::cardWorkFinished);
        while (page_->CardWorkRunning())
            if (!finished.wait(kWorkTimeoutMs)) return false;
        return true;
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::shared_ptr<sim::UltraLight> ntag_ = sim::MakeDemoUltraLight(sim::UltraLight::Model::Ntag213);
    std::unique_ptr<SimulatedPort> port_;
    std::unique_ptr<PageMessages> messages_;
    std::unique_ptr<CParvexDlg> dlg_;
    CWholeCardPage *page_ = nullptr;
    QTemporaryDir dir_;
};

void UltraLightViewTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(theApp.StartCapture());
    port_ = std::make_unique<SimulatedPort>(kPort, model_);
    QVERIFY(port_->ok());
    messages_ = std::make_unique<PageMessages>();
    dlg_ = std::make_unique<CParvexDlg>();
    dlg_->resize(1366, 740);
    dlg_->show();
    dlg_->findChild<QTabWidget *>(QStringLiteral("IDC_1046"))->setCurrentIndex(3);
    page_ = dlg_->m_pageWholeCard;
    auto *ports = dlg_->findChild<QComboBox *>(QStringLiteral("IDC_1001"));
    ports->setCurrentIndex(ports->findText(QStringLiteral("COM%1").arg(kPort), Qt::MatchStartsWith));
    dlg_->findChild<QPushButton *>(QStringLiteral("IDC_1000"))->click();
    QVERIFY(theApp.m_bPortOpen);
    model_->PutCard(ntag_);
    QVERIFY(ReadCard());
}

void UltraLightViewTest::cleanupTestCase() {
    dlg_.reset();
    CloseReader();
    theApp.m_bPortOpen = false;
    messages_.reset();
    port_.reset();
    theApp.StopCapture();
}

void UltraLightViewTest::readShowsEveryPageAndGreysOutKeySearch() {
    auto *pages = Named<QTableWidget>(QStringLiteral("页数据"));
    QVERIFY(pages->isVisible());
    QVERIFY(!Named<QTableWidget>(QStringLiteral("卡数据"))->isVisible());
    QCOMPARE(pages->rowCount(), 45);
    QCOMPARE(pages->item(5, CPageView::kPageColumn)->text(), QStringLiteral("5"));
    QCOMPARE(pages->item(5, CPageView::kDataColumn)->text(), QStringLiteral("09 54 02 65 "));
    QCOMPARE(pages->item(7, CPageView::kAsciiColumn)->text(), QStringLiteral("kor."));
    QVERIFY(pages->item(3, 0)->toolTip().contains(QStringLiteral("能力容器")));
    QVERIFY(Status().startsWith(QStringLiteral("NTAG213：读出 45 页，共 45 页")));
    QVERIFY(!Button(QStringLiteral("搜索密钥"))->isEnabled());
    QVERIFY(!Named<QWidget>(QStringLiteral("扇区图"))->isEnabled());
    QVERIFY(Button(QStringLiteral("保存文件"))->isEnabled());
    QCOMPARE(page_->shownPages()->uid, std::vector<std::uint8_t>(ntag_->uid().begin(), ntag_->uid().end()));
}

void UltraLightViewTest::saveAndOpenEveryFormat_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("warns");  // the reader gives no SAK for these cards: the Flipper file needs one
    QTest::newRow("Flipper") << QStringLiteral("card.nfc") << true;
    QTest::newRow("JSON") << QStringLiteral("card.json") << false;
    QTest::newRow("raw") << QStringLiteral("card.bin") << false;
}

void UltraLightViewTest::saveAndOpenEveryFormat() {
    QFETCH(QString, name);
    QFETCH(bool, warns);
    const card::UltraLightImage read = *page_->shownPages();
    messages_->clear();
    messages_->save_file_name = dir_.filePath(name);
    Button(QStringLiteral("保存文件"))->click();
    QVERIFY2(messages_->boxes.size() == (warns ? 1 : 0), qPrintable(messages_->lastText()));
    if (warns) QVERIFY(messages_->lastText().contains(QStringLiteral("SAK 未知")));
    messages_->open_file_names = {dir_.filePath(name)};
    Button(QStringLiteral("打开文件"))->click();
    QVERIFY(page_->shownPages().has_value());
    QVERIFY(card::DiffUltraLight(read, *page_->shownPages()).equal());
    QCOMPARE(Status(), QStringLiteral("已打开 %1：45 页已知").arg(name));
}

void UltraLightViewTest::compareMarksTheChangedPageAndAClassicCardComesBack() {
    card::UltraLightImage changed = *page_->shownPages();
    changed.SetPage(9, {0xAA, 0xBB, 0xCC, 0xDD});
    card::SaveUltraLightDump(dir_.filePath(QStringLiteral("changed.json")).toStdString(), changed, nullptr);
    messages_->open_file_names = {dir_.filePath(QStringLiteral("changed.json"))};
    Button(QStringLiteral("比较文件"))->click();
    QCOMPARE(Status(), QStringLiteral("与 changed.json 比较：1 页不同：9"));
    auto *pages = Named<QTableWidget>(QStringLiteral("页数据"));
    QVERIFY(pages->item(9, 1)->background() != pages->item(10, 1)->background());

    model_->PutCard(sim::MakeDemoS50());
    QVERIFY(ReadCard());
    QVERIFY(page_->shownImage().has_value());
    QVERIFY(!page_->shownPages().has_value());
    QVERIFY(Named<QTableWidget>(QStringLiteral("卡数据"))->isVisible());
    QVERIFY(!pages->isVisible());
    QVERIFY(Button(QStringLiteral("搜索密钥"))->isEnabled());
}

PARVEX_TEST_MAIN(UltraLightViewTest)
#include "ultralight_view_test.moc"
