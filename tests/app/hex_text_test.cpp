// Hexadecimal and decimal text of the card pages, as one table of inputs.
#include <QtTest>

#include <climits>
#include <vector>

#include "tests/app/support/app_test_support.h"
#include "app/hex_text.h"

using Bytes = std::vector<unsigned char>;
Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(HexTextError)

class HexTextTest : public QObject {
    Q_OBJECT
private slots:
    void convert_data();
    void convert();
    void parseShowsTheMessage_data();
    void parseShowsTheMessage();
    void format();
    void decimal_data();
    void decimal();
    void withoutGbkDecoder();
};

void HexTextTest::convert_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("min");
    QTest::addColumn<HexTextError>("error");
    QTest::addColumn<Bytes>("bytes");
    const Bytes key = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};
    using E = HexTextError;
    QTest::newRow("key with blanks") << "5A 3C 96 E1 0F 7B" << 6 << 6 << E::kNone << key;
    QTest::newRow("key lower case, no blanks") << "5a3c96e10f7b" << 6 << 6 << E::kNone << key;
    QTest::newRow("blanks anywhere") << "  5 A3C 96E1 0F7B  " << 6 << 6 << E::kNone << key;
    QTest::newRow("odd digit count") << "5A 3C 96 E1 0F 7" << 6 << 6 << E::kOddDigits << Bytes{};
    QTest::newRow("tab takes part in pairing") << "5A\t3C" << 6 << 0 << E::kOddDigits << Bytes{};
    QTest::newRow("line break pair") << "5A\n\n3C" << 6 << 0 << E::kNotHex << Bytes{};
    QTest::newRow("letter beyond F") << "5A 3C 96 E1 0F 7G" << 6 << 6 << E::kNotHex << Bytes{};
    QTest::newRow("0x prefix is not a byte") << "0x12" << 6 << 0 << E::kNotHex << Bytes{};
    QTest::newRow("sign") << "+1 02" << 6 << 0 << E::kNotHex << Bytes{};
    QTest::newRow("full-width digits") << QStringLiteral("１２") << 6 << 0 << E::kNotHex << Bytes{};
    QTest::newRow("comma") << "01,2" << 6 << 0 << E::kNotHex << Bytes{};
    QTest::newRow("one byte too many") << "5A 3C 96 E1 0F 7B 00" << 6 << 6 << E::kTooLong << Bytes{};
    QTest::newRow("46 digits into a block") << QString(46, QLatin1Char('1')) << 16 << 16 << E::kTooLong << Bytes{};
    QTest::newRow("fewer key bytes than sent") << "5A 3C" << 6 << 6 << E::kTooShort << Bytes{};
    QTest::newRow("fewer block bytes") << "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E" << 16 << 16
                                       << E::kTooShort << Bytes{};
    QTest::newRow("empty text") << "" << 6 << 0 << E::kNone << Bytes{};
    QTest::newRow("blanks only") << "     " << 6 << 0 << E::kNone << Bytes{};
    QTest::newRow("empty raw command") << "" << 249 << 1 << E::kTooShort << Bytes{};
    QTest::newRow("249 bytes fill a raw command") << QString(498, QLatin1Char('A')) << 249 << 1 << E::kNone
                                                  << Bytes(249, 0xAA);
    QTest::newRow("250 bytes do not") << QString(500, QLatin1Char('A')) << 249 << 1 << E::kTooLong << Bytes{};
    QTest::newRow("89-byte APDU") << QString(178, QLatin1Char('0')) << 89 << 0 << E::kNone << Bytes(89, 0);
    QTest::newRow("90-byte APDU") << QString(180, QLatin1Char('0')) << 89 << 0 << E::kTooLong << Bytes{};
    QTest::newRow("control word") << "FF 07 80 69 " << 4 << 4 << E::kNone << Bytes{0xFF, 0x07, 0x80, 0x69};
}

void HexTextTest::convert() {
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(int, min);
    QFETCH(HexTextError, error);
    QFETCH(Bytes, bytes);
    // One guard byte past the destination shows nothing is written beyond it.
    std::vector<unsigned char> dest(static_cast<size_t>(size) + 1, 0xEE);
    const HexParse parsed = ConvertHexText(text, dest.data(), size, min);
    QCOMPARE(parsed.error, error);
    QCOMPARE(parsed.count, static_cast<int>(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i) QCOMPARE(dest[i], bytes[i]);
    for (size_t i = bytes.size(); i < dest.size(); ++i) QCOMPARE(dest[i], static_cast<unsigned char>(0xEE));
}

void HexTextTest::parseShowsTheMessage_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("min");
    QTest::addColumn<QString>("message");
    QTest::newRow("odd") << "5A 3" << 6 << 6 << QStringLiteral("不完整的十六进制数,请检查数据是否完整");
    QTest::newRow("not hex") << "5A 3X" << 6 << 6 << HexTextErrorMessage(HexTextError::kNotHex, 6, 6);
    QTest::newRow("too long") << "00 11 22 33 44" << 4 << 4 << QStringLiteral("数据过长,最多4个字节,请检查数据");
    QTest::newRow("too short") << "00" << 6 << 6 << QStringLiteral("数据不足,需要6个字节,请检查数据");
    QTest::newRow("too short, at least") << "" << 249 << 1 << QStringLiteral("数据不足,至少需要1个字节,请检查数据");
}

void HexTextTest::parseShowsTheMessage() {
    QFETCH(QString, text);
    QFETCH(int, size);
    QFETCH(int, min);
    QFETCH(QString, message);
    RecordingMessages boxes;
    QWidget owner;
    unsigned char dest[256] = {};
    QCOMPARE(ParseHexText(&owner, text, dest, size, min), -1);
    QCOMPARE(boxes.boxes.size(), 1);
    QCOMPARE(boxes.boxes[0].text, message);
    QCOMPARE(boxes.boxes[0].caption, QStringLiteral("数据检查"));
    QCOMPARE(boxes.boxes[0].icon, MessageService::Icon::Error);
    QCOMPARE(boxes.boxes[0].owner, &owner);
    QVERIFY(HexTextErrorMessage(HexTextError::kNotHex, 6, 6).contains(QStringLiteral("十六进制")));

    boxes.clear();
    QCOMPARE(ParseHexText(&owner, QStringLiteral("0a 0B"), dest, 2, 2), 2);
    QVERIFY(boxes.boxes.isEmpty());
}

void HexTextTest::format() {
    const unsigned char bytes[16] = {0x00, 0x0A, 0xFF, 0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B, 1, 2, 3, 4, 5, 6, 0x80};
    QCOMPARE(FormatHexBytes(bytes, 3), QStringLiteral("00 0A FF "));
    const QString block = FormatHexBytes(bytes, 16);
    QCOMPARE(block.size(), 48);
    unsigned char back[16] = {};
    QCOMPARE(ConvertHexText(block, back, 16, 16).count, 16);
    QVERIFY(std::equal(bytes, bytes + 16, back));
    QCOMPARE(FormatHexBytes(bytes, 0), QString());
}

void HexTextTest::decimal_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value");
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("plain") << "45" << 45;
    QTest::newRow("key id 259") << "259" << 259;
    QTest::newRow("leading blanks, sign, trailing text") << "  -12abc" << -12;
    QTest::newRow("plus") << "+7" << 7;
    QTest::newRow("no digits") << "abc" << 0;
    QTest::newRow("digits after text") << "a12" << 0;
    QTest::newRow("50 digits saturate") << QString(50, QLatin1Char('9')) << INT_MAX;
    QTest::newRow("int max") << "2147483647" << INT_MAX;
    QTest::newRow("one past int max") << "2147483648" << INT_MAX;
    QTest::newRow("int min") << "-2147483648" << INT_MIN;
    QTest::newRow("far below int min") << "-99999999999999" << INT_MIN;
}

void HexTextTest::decimal() {
    QFETCH(QString, text);
    QFETCH(int, value);
    QCOMPARE(DecimalTextValue(text), value);
}

// What the log shows when Qt has no GBK decoder.
void HexTextTest::withoutGbkDecoder() {
    const struct {
        QByteArray bytes;
        QString shown;
    } cases[] = {
        {QByteArray("\xB7\xA2\xCB\xCD\xCA\xFD\xBE\xDD\xA3\xBA" "55 55\n"), QStringLiteral("[B7 A2 CB CD CA FD BE DD A3 BA]55 55\n")},
        {QByteArray("a\x00" "b\xFF", 4), QStringLiteral("ab[FF]")},
        {QByteArray(), QString()},
    };
    for (const auto &c : cases) QCOMPARE(AsciiWithHexBytes(c.bytes), c.shown);
}

QTEST_MAIN(HexTextTest)
#include "hex_text_test.moc"
