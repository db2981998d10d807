// Control word <-> access conditions in words.
#include <QtTest>

#include <string_view>

#include "app/access_bits.h"

using namespace access_bits;

class AccessBitsTest : public QObject {
    Q_OBJECT
private slots:
    void knownWords_data();
    void knownWords();
    void everyCombinationRoundTrips();
    void wordsRoundTrip();
    void tableWordsAreListItems();
    void unknownCombination();
    void accessBitsWritable_data();
    void accessBitsWritable();
};

void AccessBitsTest::knownWords_data() {
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QByteArray>("generated");
    QTest::newRow("transport") << QByteArray("\xFF\x07\x80\x69", 4) << QList<int>{0, 0, 0, 1}
                               << QByteArray("\xFF\x07\x80\x69", 4);
    QTest::newRow("all never, trailer 110") << QByteArray("\x00\xF8\x7F\x69", 4) << QList<int>{7, 7, 7, 6}
                                            << QByteArray("\x00\xF8\x7F\x69", 4);
    // 111 in the trailer reads as the words of 110 and is generated as 110.
    QTest::newRow("every row 111") << QByteArray("\x00\xF0\xFF\x69", 4) << QList<int>{7, 7, 7, 7}
                                   << QByteArray("\x00\xF8\x7F\x69", 4);
    // Block 1 read-only (010), block 2 value block (110), trailer 011, user byte kept out.
    QTest::newRow("mixed") << QByteArray("\x1B\x47\x8E\x00", 4) << QList<int>{0, 2, 6, 3}
                           << QByteArray("\x1B\x47\x8E\x69", 4);
}

void AccessBitsTest::knownWords() {
    QFETCH(QByteArray, word);
    QFETCH(QList<int>, numbers);
    QFETCH(QByteArray, generated);
    const auto *bytes = reinterpret_cast<const unsigned char *>(word.constData());
    const Numbers decoded = DecodeAccessNumbers(bytes);
    for (int r = 0; r < kRows; ++r) QCOMPARE(decoded[static_cast<size_t>(r)], numbers[r]);

    // Through the words, as the editor does it.
    Numbers again{};
    for (int r = 0; r < 3; ++r) again[static_cast<size_t>(r)] = MatchDataRow(DataConditions(decoded[static_cast<size_t>(r)]));
    again[3] = MatchTrailerRow(TrailerConditions(decoded[3]));
    const Word out = EncodeControlWord(again);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data()), 4), generated);
}

void AccessBitsTest::everyCombinationRoundTrips() {
    for (int combo = 0; combo < 4096; ++combo) {
        const Numbers numbers = {combo & 7, (combo >> 3) & 7, (combo >> 6) & 7, (combo >> 9) & 7};
        const Word word = EncodeControlWord(numbers);
        QCOMPARE(DecodeAccessNumbers(word.data()), numbers);
        // The inverted copies agree with the plain bits.
        QCOMPARE(static_cast<unsigned>(word[0] & 0x0F), (~static_cast<unsigned>(word[1]) >> 4) & 0x0FU);
        QCOMPARE(static_cast<unsigned>(word[0] >> 4), ~static_cast<unsigned>(word[2]) & 0x0FU);
        QCOMPARE(static_cast<unsigned>(word[1] & 0x0F), (~static_cast<unsigned>(word[2]) >> 4) & 0x0FU);
        QCOMPARE(word[3], kUserByte);
    }
}

void AccessBitsTest::wordsRoundTrip() {
    for (int n = 0; n < 8; ++n) {
        QCOMPARE(MatchDataRow(DataConditions(n)), n);
        QCOMPARE(MatchTrailerRow(TrailerConditions(n)), n == 7 ? 6 : n);
    }
}

void AccessBitsTest::tableWordsAreListItems() {
    for (int n = 0; n < 8; ++n)
        for (size_t c = 0; c < 4; ++c) {
            QVERIFY(ItemIndex(kDataColumns[c], DataConditions(n)[c]) >= 0);
            QVERIFY(ItemIndex(kTrailerColumns[c], TrailerConditions(n)[c]) >= 0);
        }
    QCOMPARE(ItemIndex(kDataColumns[3], "KeyB"), -1);
    QCOMPARE(ItemIndex(kTrailerColumns[2], "KeyB"), -1);
}

void AccessBitsTest::unknownCombination() {
    QCOMPARE(MatchDataRow({"KeyB", "KeyB", "KeyB", "KeyA|B"}), -1);
    QCOMPARE(MatchDataRow({"KeyA|B", "KeyA|B", "KeyA|B", ""}), -1);
    QCOMPARE(MatchDataRow({"keya|b", "KeyA|B", "KeyA|B", "KeyA|B"}), -1);
    QCOMPARE(MatchTrailerRow({"KeyA", "KeyB", "KeyA", "KeyA"}), -1);
}

void AccessBitsTest::accessBitsWritable_data() {
    QTest::addColumn<int>("trailer");
    QTest::addColumn<bool>("writable");
    const bool expected[8] = {false, true, false, true, false, true, false, false};
    for (int n = 0; n < 8; ++n) QTest::addRow("trailer %d", n) << n << expected[n];
}

void AccessBitsTest::accessBitsWritable() {
    QFETCH(int, trailer);
    QFETCH(bool, writable);
    const Word word = EncodeControlWord({0, 0, 0, trailer});
    QCOMPARE(AccessBitsWritable(word.data()), writable);
}

QTEST_MAIN(AccessBitsTest)
#include "access_bits_test.moc"
