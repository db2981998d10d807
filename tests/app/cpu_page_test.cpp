// The CPU card page against the library and the simulated reader with its demo CPU card.
#include <QtTest>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "tests/app/support/app_test_support.h"
#include "app/cpu_card.h"
#include "app/hex_text.h"
#include "app/parvex_app.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "zelkor.h"

namespace {

template <typename T = QWidget>
T *Ctl(QWidget *page, int id) {
    T *w = page->findChild<T *>(QStringLiteral("IDC_%1").arg(id));
    if (w == nullptr) qFatal("no control %d", id);
    return w;
}

void Click(QWidget *page, int id) { Ctl<QPushButton>(page, id)->click(); }

sim::Bytes Body(const sim::Bytes &frame) {
    if (frame.size() < 7) return {};
    return sim::Bytes(frame.begin() + 6, frame.end() - 1);
}

sim::Bytes Bytes(std::initializer_list<int> values) {
    sim::Bytes out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

const sim::Bytes kKey3 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                          0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};

}  // namespace

class CpuPageTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void controlsAndPortCheck();
    void apduTexts_data();
    void apduTexts();
    void keyIdentifiers_data();
    void keyIdentifiers();
    void keyTexts();
    void sessionWithTheCard();

private:
    std::vector<sim::Bytes> Frames() { return port_->sim().Frames(); }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::unique_ptr<SimulatedPort> port_;
    std::shared_ptr<sim::CpuCard> card_;
    std::unique_ptr<RecordingMessages> boxes_;
    std::unique_ptr<CCPUCard> page_;
};

void CpuPageTest::initTestCase() {
    port_ = std::make_unique<SimulatedPort>(3, model_);
    QVERIFY(port_->ok());
    QCOMPARE(OpenReader(3, 9600, 8, 0, 0), 1);
}

void CpuPageTest::cleanupTestCase() {
    CloseReader();
    port_.reset();
}

void CpuPageTest::init() {
    card_ = sim::MakeDemoCpuCard();
    model_->PutCard(card_);
    theApp.m_bPortOpen = true;
    boxes_ = std::make_unique<RecordingMessages>();
    page_ = std::make_unique<CCPUCard>(theApp);
    port_->sim().ClearFrames();
}

void CpuPageTest::cleanup() {
    page_.reset();
    boxes_.reset();
}

void CpuPageTest::controlsAndPortCheck() {
    QWidget *p = page_.get();
    QCOMPARE(p->property("templateId").toInt(), 141);
    const QList<std::pair<int, QString>> buttons = {
        {1048, "COS激活"}, {1050, "COS停活"}, {1053, "发送命令"}, {1054, "复合外部认证"}};
    for (const auto &[id, text] : buttons) QCOMPARE(Ctl<QPushButton>(p, id)->text(), text);
    QCOMPARE(Ctl(p, 1051)->accessibleName(), QStringLiteral("COS命令"));
    QCOMPARE(Ctl(p, 1055)->accessibleName(), QStringLiteral("密钥"));
    QCOMPARE(Ctl(p, 1056)->accessibleName(), QStringLiteral("密钥标识号"));
    QVERIFY(Ctl<QPlainTextEdit>(p, 1051)->toPlainText().isEmpty());
    QVERIFY(Ctl<QLineEdit>(p, 1055)->text().isEmpty());
    QVERIFY(Ctl<QLineEdit>(p, 1056)->text().isEmpty());

    theApp.m_bPortOpen = false;
    for (const auto &[id, text] : buttons) {
        boxes_->clear();
        Click(p, id);
        QCOMPARE(boxes_->boxes.size(), 1);
        QCOMPARE(boxes_->boxes[0].text, QStringLiteral("请先打开读卡器串口"));
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("串口设置"));
        QCOMPARE(boxes_->boxes[0].icon, MessageService::Icon::Error);
        QCOMPARE(boxes_->boxes[0].owner, p);
    }
    QVERIFY(Frames().empty());

    Ctl<QPlainTextEdit>(p, 1051)->setPlainText(QStringLiteral("00 84 00 00 08"));
    Ctl<QLineEdit>(p, 1055)->setText(FormatHexBytes(kKey3.data(), 16));
    Ctl<QLineEdit>(p, 1056)->setText(QStringLiteral("3"));
    p->resize(p->sizeHint().expandedTo(QSize(420, 300)));
    QVERIFY(SaveScreenshot(p, QStringLiteral("cpu_page")));
}

void CpuPageTest::apduTexts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");  // empty: no message
    QTest::addColumn<int>("sent");         // APDU bytes sent, -1 nothing
    QTest::newRow("with blanks") << "00 A4 00 00 02 3F 00" << "" << 7;
    QTest::newRow("without blanks") << "00A40000023F00" << "" << 7;
    QTest::newRow("lower case") << "00 a4 00 00 02 3f 00" << "" << 7;
    QTest::newRow("blanks anywhere") << " 0 0A4 00 0002 3F0 0 " << "" << 7;
    QTest::newRow("line breaks as blanks") << "00 A4 00 00\n02 3F\r\n00\n" << "" << 7;
    QTest::newRow("empty: the library refuses 0") << "" << "" << -1;
    QTest::newRow("odd") << "00 84 00 00 0" << "不完整的十六进制数,请检查数据是否完整" << -1;
    QTest::newRow("not hex") << "00 84 00 00 0Z" << HexTextErrorMessage(HexTextError::kNotHex, 89, 0) << -1;
    QTest::newRow("89 bytes") << QString(178, QLatin1Char('1')) << "" << 89;
    QTest::newRow("90 bytes") << QString(180, QLatin1Char('1')) << "数据过长,最多89个字节,请检查数据" << -1;
}

void CpuPageTest::apduTexts() {
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(int, sent);
    Ctl<QPlainTextEdit>(page_.get(), 1051)->setPlainText(text);
    if (sent > 0) port_->sim().Enqueue(sim::Answer(0, Bytes({0x90, 0x00})));
    Click(page_.get(), 1053);
    if (message.isEmpty()) {
        QVERIFY(boxes_->boxes.isEmpty());
    } else {
        QCOMPARE(boxes_->boxes.size(), 1);
        QCOMPARE(boxes_->boxes[0].text, message);
        QCOMPARE(boxes_->boxes[0].caption, QStringLiteral("数据检查"));
    }
    if (sent < 0) {
        QVERIFY(Frames().empty());
        return;
    }
    QCOMPARE(Frames().size(), size_t(1));
    const sim::Bytes frame = Frames()[0];
    QCOMPARE(frame.size(), size_t(sent + 9));
    if (sent == 7) QCOMPARE(Body(frame), Bytes({0x07, 0x03, 0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x00}));
}

void CpuPageTest::keyIdentifiers_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("id");
    QTest::newRow("3") << "3" << 3;
    QTest::newRow("259 keeps the low 8 bits") << "259" << 3;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("no digits") << "abc" << 0;
    QTest::newRow("leading blanks and trailing text") << "  7x" << 7;
    QTest::newRow("-1") << "-1" << 255;
    QTest::newRow("huge saturates") << "99999999999999999999" << 255;
}

void CpuPageTest::keyIdentifiers() {
    QFETCH(QString, text);
    QFETCH(int, id);
    Ctl<QLineEdit>(page_.get(), 1055)->setText(QStringLiteral("01 02"));
    Ctl<QLineEdit>(page_.get(), 1056)->setText(text);
    port_->sim().Enqueue(sim::Answer(0));
    Click(page_.get(), 1054);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(Frames().size(), size_t(1));
    QCOMPARE(Body(Frames()[0]), Bytes({0x07, 0x04, 0x02, id, 0x01, 0x02}));
}

void CpuPageTest::keyTexts() {
    QWidget *p = page_.get();
    auto *key = Ctl<QLineEdit>(p, 1055);
    // A refused key is not sent as an empty one.
    key->setText(QStringLiteral("01 0"));
    Click(p, 1054);
    QCOMPARE(boxes_->lastText(), QStringLiteral("不完整的十六进制数,请检查数据是否完整"));
    key->setText(QString(34, QLatin1Char('A')));
    boxes_->clear();
    Click(p, 1054);
    QCOMPARE(boxes_->lastText(), QStringLiteral("数据过长,最多16个字节,请检查数据"));
    QVERIFY(Frames().empty());
    // An empty key goes out with length 0.
    key->clear();
    boxes_->clear();
    port_->sim().Enqueue(sim::Answer(0));
    Click(p, 1054);
    QVERIFY(boxes_->boxes.isEmpty());
    QCOMPARE(Body(Frames().at(0)), Bytes({0x07, 0x04, 0x00, 0x00}));
}

void CpuPageTest::sessionWithTheCard() {
    QWidget *p = page_.get();
    Click(p, 1048);
    QVERIFY(card_->cos_active());
    Ctl<QPlainTextEdit>(p, 1051)->setPlainText(QStringLiteral("00 84 00 00 08"));
    port_->sim().ClearFrames();
    Click(p, 1053);
    QCOMPARE(Frames().size(), size_t(1));
    QCOMPARE(Frames()[0], Bytes({0x55, 0x55, 0x00, 0x00, 0x00, 0x08, 0x07, 0x03, 0x00, 0x84, 0x00, 0x00, 0x08, 0x80}));
    // The card's answer is in the trace: eight challenge bytes and 90 00.
    unsigned char answer[1024] = {};
    const int n = GetReaderRecvData(answer);
    QCOMPARE(n, 18);
    QCOMPARE(answer[6], 0x00);
    QCOMPARE(answer[15], 0x90);
    QCOMPARE(answer[16], 0x00);

    // Key 3 of the demo card, named "259".
    Ctl<QLineEdit>(p, 1055)->setText(QStringLiteral("00112233445566778899aabbccddeeff"));
    Ctl<QLineEdit>(p, 1056)->setText(QStringLiteral("259"));
    Click(p, 1054);
    QVERIFY(card_->authenticated());
    Click(p, 1050);
    QVERIFY(!card_->cos_active());
    QVERIFY(boxes_->boxes.isEmpty());
}

QTEST_MAIN(CpuPageTest)
#include "cpu_page_test.moc"
