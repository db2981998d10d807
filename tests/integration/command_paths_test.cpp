// Arguments refused before anything is sent, and the commands whose answers
// need more than a plain success: cascade and repeated anticollision, the
// two answers of a manual search, reader serial numbers of any length, short
// answers, the trailer key-failure messages.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/reader_fixture.h"
#include "zelkor.h"

using namespace testing_support;

namespace {

unsigned char kKey[6] = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};
const char *KeyText() { return reinterpret_cast<const char *>(kKey); }

class CommandPathTest : public SimulatedReaderTest {};

TEST_F(CommandPathTest, RefusedArgumentsSendNothingPrintNothingWriteNothing) {
    unsigned char block[16];
    std::memset(block, 0xA5, sizeof block);
    unsigned char bytes[300] = {0x01, 0x04, 0x00};
    int amount = 7;
    int negative = -1;
    int length = -5;
    unsigned char access[4] = {0xA5, 0xA5, 0xA5, 0xA5};
    unsigned char good_access[4] = {0xFF, 0x07, 0x80, 0x69};
    const std::vector<std::pair<std::string, std::function<int()>>> refused = {
        {"SetBaudRate 7", [] { return SetBaudRate(7); }},
        {"SetBaudRate -1", [] { return SetBaudRate(-1); }},
        {"ReadReader -1", [] { return ReadReader(-1, 0); }},
        {"ReadReader 25600", [] { return ReadReader(25600, 0); }},
        {"SendM1Command null", [] { return SendM1Command(nullptr, 3); }},
        {"SendM1Command 0", [&] { return SendM1Command(bytes, 0); }},
        {"SendM1Command -1", [&] { return SendM1Command(bytes, -1); }},
        {"SendM1Command 250", [&] { return SendM1Command(bytes, 250); }},
        {"GetReaderId null id", [&] { return GetReaderId(nullptr, &length); }},
        {"GetReaderId null length", [&] { return GetReaderId(bytes, nullptr); }},
        {"GetCardInfo null", [] { return GetCardInfo(nullptr); }},
        {"ManualCard null", [] { return ManualCard(nullptr); }},
        {"CheckKey S50 block 64", [] { return CheckKey(11, 0, -1, 64, 0, kKey); }},
        {"CheckKey null key", [] { return CheckKey(11, 0, -1, 4, 0, nullptr); }},
        {"CheckKey block -1", [] { return CheckKey(13, 0, 0, -1, 0, kKey); }},
        {"CheckKey sector -1", [] { return CheckKey(11, 1, -1, 0, 0, kKey); }},
        {"ReadBlock S50 block 64", [&] { return ReadBlock(0, -1, 64, 11, block); }},
        {"ReadBlock S70 block 300", [&] { return ReadBlock(0, -1, 300, 12, block); }},
        {"ReadBlock block 256 other card", [&] { return ReadBlock(0, -1, 256, 13, block); }},
        {"ReadBlock null", [] { return ReadBlock(0, -1, 4, 11, nullptr); }},
        {"ReadBlock sector -1", [&] { return ReadBlock(1, -1, 0, 11, block); }},
        {"ReadBlock sector 256", [&] { return ReadBlock(1, 256, 0, 12, block); }},
        {"WriteBlock abs 3", [&] { return WriteBlock(0, -1, 3, 11, block); }},
        {"WriteBlock abs 7", [&] { return WriteBlock(0, -1, 7, 11, block); }},
        {"WriteBlock abs 127", [&] { return WriteBlock(0, -1, 127, 12, block); }},
        {"WriteBlock abs 143", [&] { return WriteBlock(0, -1, 143, 12, block); }},
        {"WriteBlock abs 255", [&] { return WriteBlock(0, -1, 255, 12, block); }},
        {"WriteBlock rel 5/3", [&] { return WriteBlock(1, 5, 3, 11, block); }},
        {"WriteBlock rel 5/15", [&] { return WriteBlock(1, 5, 15, 11, block); }},
        {"WriteBlock rel 32/15", [&] { return WriteBlock(1, 32, 15, 12, block); }},
        {"WriteBlock S50 block 64", [&] { return WriteBlock(0, -1, 64, 11, block); }},
        {"WriteBlock null", [] { return WriteBlock(0, -1, 4, 11, nullptr); }},
        {"WriteBlock block -2", [&] { return WriteBlock(0, -1, -2, 11, block); }},
        {"ComposeRead S50 block 64", [&] { return ComposeRead(0, -1, 64, 11, block, KeyA, KeyText()); }},
        {"ComposeRead null key", [&] { return ComposeRead(0, -1, 4, 11, block, KeyA, nullptr); }},
        {"ComposeRead null out", [] { return ComposeRead(0, -1, 4, 11, nullptr, KeyA, KeyText()); }},
        {"ComposeWrite trailer", [&] { return ComposeWrite(0, -1, 3, 11, block, KeyA, KeyText()); }},
        {"ComposeWrite S50 block 64", [&] { return ComposeWrite(0, -1, 64, 11, block, KeyA, KeyText()); }},
        {"ComposeWrite null key", [&] { return ComposeWrite(0, -1, 4, 11, block, KeyA, nullptr); }},
        {"WalletInit trailer", [&] { return WalletInit(0, -1, 3, 11, reinterpret_cast<unsigned char *>(&amount)); }},
        {"ReadWallet trailer", [&] { return ReadWallet(0, -1, 3, 11, reinterpret_cast<unsigned char *>(&amount)); }},
        {"WalletAdd trailer", [&] { return WalletAdd(0, -1, 3, 11, reinterpret_cast<unsigned char *>(&amount)); }},
        {"WalletDec trailer", [&] { return WalletDec(1, 2, 3, 11, reinterpret_cast<unsigned char *>(&amount)); }},
        {"ReadWallet S50 block 64", [&] { return ReadWallet(0, -1, 64, 11, reinterpret_cast<unsigned char *>(&amount)); }},
        {"ReadWallet block -1", [&] { return ReadWallet(0, -1, -1, 11, reinterpret_cast<unsigned char *>(&amount)); }},
        {"WalletInit negative", [&] { return WalletInit(0, -1, 5, 11, reinterpret_cast<unsigned char *>(&negative)); }},
        {"WalletAdd negative", [&] { return WalletAdd(0, -1, 5, 11, reinterpret_cast<unsigned char *>(&negative)); }},
        {"WalletDec negative", [&] { return WalletDec(0, -1, 5, 11, reinterpret_cast<unsigned char *>(&negative)); }},
        {"WalletAdd null", [] { return WalletAdd(0, -1, 5, 11, nullptr); }},
        {"ReadWallet null", [] { return ReadWallet(0, -1, 5, 11, nullptr); }},
        {"ReadCtrlWord null key", [&] { return ReadCtrlWord(1, nullptr, access); }},
        {"ReadCtrlWord null out", [] { return ReadCtrlWord(1, kKey, nullptr); }},
        {"ReadCtrlWord sector -1", [&] { return ReadCtrlWord(-1, kKey, access); }},
        {"CheckCtrlKey null key", [] { return CheckCtrlKey(true, 1, nullptr, 29); }},
        {"CheckCtrlKey sector -1", [] { return CheckCtrlKey(true, -1, kKey, 29); }},
        {"ModifyKey null new key", [] { return ModifyKey(1, nullptr, kKey, kKey); }},
        {"ModifyKey null key B", [] { return ModifyKey(1, kKey, kKey, nullptr); }},
        {"ModifyKey sector -1", [] { return ModifyKey(-1, kKey, kKey, kKey); }},
        {"ModifyControl null access", [] { return ModifyControl(1, kKey, kKey, nullptr); }},
        {"ModifyControl null key A", [&] { return ModifyControl(1, nullptr, kKey, good_access); }},
        {"ModifyControl sector 300", [&] { return ModifyControl(300, kKey, kKey, good_access); }},
        {"SendCosCommand null", [] { return SendCosCommand(nullptr, 5); }},
        {"SendCosCommand 0", [&] { return SendCosCommand(bytes, 0); }},
        {"SendCosCommand 90", [&] { return SendCosCommand(bytes, 90); }},
        {"Exauthentication 17", [] { return Exauthentication(kKey, 17, 0); }},
        {"Exauthentication -1", [] { return Exauthentication(kKey, -1, 0); }},
    };
    out_.Take();
    for (const auto &[name, call] : refused) EXPECT_EQ(call(), 0) << name;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(sim_.FrameCount(), 0u);
    EXPECT_EQ(out_.Take(), "");
    EXPECT_EQ(amount, 7);
    EXPECT_EQ(length, -5);
    EXPECT_EQ(block[0], 0xA5);
    EXPECT_EQ(access[0], 0xA5);
}

TEST_F(CommandPathTest, ModifyControlRefusesInconsistentAccessBytesBeforeAnyExchange) {
    unsigned char key_b[6] = {1, 2, 3, 4, 5, 6};
    const unsigned char cases[][4] = {
        {0xFE, 0x07, 0x80, 0x69},  // byte 6 does not invert C1/C2
        {0xFF, 0x06, 0x80, 0x69},  // low half of byte 7 does not invert C3
        {0xFF, 0x0F, 0x80, 0x69},  // C1 of the trailer set without its copy
        {0x00, 0x00, 0x00, 0x00},
    };
    for (const auto &c : cases) {
        unsigned char access[4] = {c[0], c[1], c[2], c[3]};
        out_.Take();
        EXPECT_EQ(ModifyControl(1, kKey, key_b, access), 0);
        EXPECT_EQ(out_.Take(), Gbk("  #↑控制字无效，未写入\n"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim_.FrameCount(), 0u);
}

TEST_F(CommandPathTest, ConflictWithCascadeTagSelectsAndReportsFailure) {
    const sim::Bytes first = sim::EncodeAnswer(0x00, Hex("88 04 6E 21 C3"));
    const sim::Bytes select = sim::EncodeAnswer(0x00, Hex("04"));
    sim_.Enqueue(sim::Raw(first));
    sim_.Enqueue(sim::Raw(select));
    card_info info;
    std::memset(&info, 0xA5, sizeof info);
    out_.Take();
    EXPECT_EQ(Conflict(&info), 0);
    ASSERT_EQ(sim_.Frames().size(), 2u);
    EXPECT_EQ(sim_.Frames()[1], Hex("55 55 00 00 00 04 02 03 93 96"));
    EXPECT_EQ(out_.Take(), Gbk("发送数据：55 55 00 00 00 04 02 02 93 97 \n收到数据：" + ToHex(first) +
                               "发送数据：55 55 00 00 00 04 02 03 93 96 \n收到数据：" + ToHex(select) +
                               "选卡成功\n"));
    EXPECT_EQ(info.uid[0], 0xA5);
    EXPECT_EQ(info.card_type, static_cast<int>(0xA5A5A5A5));
}

TEST_F(CommandPathTest, ConflictWithAOneByteAnswerAsksAgainAndTakesTheSecond) {
    const sim::Bytes first = sim::EncodeAnswer(0x00, Hex("04"));
    const sim::Bytes second = sim::EncodeAnswer(0x00, Hex("3A 7C 51 E2 F7"));
    ASSERT_EQ(first[5], 3);
    sim_.Enqueue(sim::Raw(first));
    sim_.Enqueue(sim::Raw(second));
    card_info info{};
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Conflict(&info), 1);
    EXPECT_GE(ElapsedMs(start), 80);
    EXPECT_LT(ElapsedMs(start), 900);
    ASSERT_EQ(sim_.Frames().size(), 2u);
    EXPECT_EQ(sim_.Frames()[0], sim_.Frames()[1]);
    EXPECT_EQ(sim::Bytes(info.uid, info.uid + 4), Hex("3A 7C 51 E2"));
    const std::string frame = "发送数据：55 55 00 00 00 04 02 02 93 97 \n";
    EXPECT_EQ(out_.Take(), Gbk(frame + "收到数据：" + ToHex(first) + frame + "收到数据：" +
                               ToHex(second) + "防冲突成功\n"));
}

TEST_F(CommandPathTest, ConflictWhoseRepeatedAskingGetsNoAnswerFails) {
    sim_.Enqueue(sim::Answer(0x00, Hex("04")));
    sim_.Enqueue(sim::Silence());
    card_info info{};
    out_.Take();
    EXPECT_EQ(Conflict(&info), 0);
    EXPECT_EQ(sim_.FrameCount(), 2u);
    EXPECT_EQ(out_.Take().find(Gbk("防冲突成功")), std::string::npos);
    EXPECT_EQ(info.uid[0], 0);
}

sim::Reaction TwoAnswers(const sim::Bytes &first, const sim::Bytes &second, int gap_ms) {
    sim::Reaction r;
    if (!first.empty()) r.pieces.push_back({0, first});
    r.pieces.push_back({gap_ms, second});
    return r;
}

TEST_F(CommandPathTest, ManualCardTakesTheSecondAnswer) {
    const sim::Bytes ack = sim::EncodeAnswer(0x00);
    const sim::Bytes card = sim::EncodeAnswer(0x00, Hex("02 9D 42 0B 76"));
    sim_.Enqueue(TwoAnswers(ack, card, 150));
    card_info info{};
    out_.Take();
    EXPECT_EQ(ManualCard(&info), 1);
    EXPECT_EQ(info.card_type, 12);
    EXPECT_EQ(sim::Bytes(info.uid, info.uid + 5), Hex("9D 42 0B 76 00"));
    EXPECT_EQ(out_.Take(), Gbk("发送数据：55 55 00 00 00 03 01 09 0B \n收到数据：" + ToHex(ack) +
                               "收到数据：" + ToHex(card) + "手动寻卡成功\n"));
}

TEST_F(CommandPathTest, ManualCardWaitsOutAMissingFirstAnswer) {
    sim_.Enqueue(TwoAnswers({}, sim::EncodeAnswer(0x00, Hex("04 3A 7C 51 E2")), 1300));
    card_info info{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ManualCard(&info), 1);
    EXPECT_GE(ElapsedMs(start), 1250);
    EXPECT_EQ(info.card_type, 11);
}

TEST_F(CommandPathTest, ManualCardWithoutACardFailsAtTheRefusal) {
    sim_.Enqueue(TwoAnswers(sim::EncodeAnswer(0x00), sim::EncodeAnswer(0x01), 100));
    card_info info;
    std::memset(&info, 0xA5, sizeof info);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ManualCard(&info), 0);
    EXPECT_LT(ElapsedMs(start), 900);  // the refusal ends the second wait
    EXPECT_EQ(info.uid[0], 0xA5);
    EXPECT_EQ(info.card_type, static_cast<int>(0xA5A5A5A5));
}

// GetReaderId copies what the answer holds, never past 120 bytes, whatever
// its length field claims.
struct ReaderIdCase {
    const char *name;
    sim::Bytes answer;
    int expected_length;
};

void PrintTo(const ReaderIdCase &c, std::ostream *os) { *os << c.name; }

class ReaderIdTest : public SimulatedReaderTest, public ::testing::WithParamInterface<ReaderIdCase> {};

TEST_P(ReaderIdTest, CopiesOnlyTheBytesTheAnswerHolds) {
    const ReaderIdCase &c = GetParam();
    sim_.Enqueue(sim::Raw(c.answer));
    unsigned char id[200];
    std::memset(id, 0xA5, sizeof id);
    int length = -1;
    EXPECT_EQ(GetReaderId(id, &length), c.expected_length < 0 ? 0 : 1);
    EXPECT_EQ(length, c.expected_length);
    for (int i = 0; i < c.expected_length; ++i) ASSERT_EQ(id[i], c.answer[7 + static_cast<std::size_t>(i)]) << i;
    for (int i = std::max(c.expected_length, 0); i < 200; ++i) ASSERT_EQ(id[i], 0xA5) << i;
}

sim::Bytes Counting(std::size_t n) {
    sim::Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i + 1);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReaderIdTest,
    ::testing::Values(ReaderIdCase{"Eight", sim::EncodeAnswer(0, Counting(8)), 8},
                      ReaderIdCase{"Empty", sim::EncodeAnswer(0), 0},
                      ReaderIdCase{"LengthFieldOne", Hex("55 55 00 00 00 01 00"), 0},
                      ReaderIdCase{"ExactlyFull", sim::EncodeAnswer(0, Counting(120)), 120},
                      ReaderIdCase{"LongerThanTheBuffer", sim::EncodeAnswer(0, Counting(150)), 120},
                      // Upload data is no answer: the command fails and copies
                      // nothing, whatever its bytes 4 and 5 claim (-1: length untouched).
                      ReaderIdCase{"UploadDataClaimingMore", Hex("01 02 03 04 00 40 00 11 22 33"), -1}),
    [](const auto &instance) { return std::string(instance.param.name); });

TEST_F(CommandPathTest, AnswersTooShortForTheirDataAreNotTakenAsSuccess) {
    unsigned char block[16];
    std::memset(block, 0xA5, sizeof block);
    sim_.Enqueue(sim::Answer(0x00, Hex("01 02 03 04")));
    out_.Take();
    EXPECT_EQ(ReadBlock(0, -1, 4, 11, block), 0);
    EXPECT_EQ(block[0], 0xA5);
    int amount = 5;
    sim_.Enqueue(sim::Answer(0x00, Hex("01 02")));
    EXPECT_EQ(ReadWallet(0, -1, 5, 11, reinterpret_cast<unsigned char *>(&amount)), 0);
    EXPECT_EQ(amount, 0);
    card_info info{};
    sim_.Enqueue(sim::Answer(0x00, Hex("00 01 02 03 04")));  // UltraLight needs six bytes
    EXPECT_EQ(GetCardInfo(&info), 0);
    EXPECT_EQ(info.card_type, 0);
    sim_.Enqueue(sim::Answer(0x00));
    EXPECT_EQ(WakeUp(), 0);
    const std::string out = out_.Take();
    EXPECT_EQ(out.find(Gbk("成功")), std::string::npos) << out;
}

TEST_F(CommandPathTest, ReadWalletThatGetsNoAnswerClearsTheAmount) {
    sim_.Enqueue(sim::Silence());
    int amount = 77;
    EXPECT_EQ(ReadWallet(1, 1, 1, 11, reinterpret_cast<unsigned char *>(&amount)), 0);
    EXPECT_EQ(amount, 0);
}

TEST_F(CommandPathTest, SendM1CommandOfTheLongestFrame) {
    unsigned char bytes[249];
    for (int i = 0; i < 249; ++i) bytes[i] = static_cast<unsigned char>(i);
    sim_.Enqueue(sim::Answer(0x00));
    EXPECT_EQ(SendM1Command(bytes, 249), 1);
    ASSERT_EQ(sim_.Frames().size(), 1u);
    EXPECT_EQ(sim_.Frames()[0], sim::EncodeCommand(0x00, 0x01, sim::Bytes(bytes + 2, bytes + 249)));
    EXPECT_EQ(sim_.Frames()[0].size(), 256u);
}

// A key check under the trailer codes reports which key failed.
struct KeyMessageCase {
    const char *name;
    bool key_a;
    int pending;
    const char *message;
};

void PrintTo(const KeyMessageCase &c, std::ostream *os) {
    *os << (c.key_a ? "key A" : "key B") << ", pending code " << c.pending;
}

class KeyMessageTest : public SimulatedReaderTest, public ::testing::WithParamInterface<KeyMessageCase> {};

TEST_P(KeyMessageTest, FailedCheckPrintsTheMessageOfItsCode) {
    const KeyMessageCase &c = GetParam();
    const sim::Bytes answer = sim::EncodeAnswer(0x06);
    sim_.Enqueue(sim::Raw(answer));
    out_.Take();
    EXPECT_EQ(CheckCtrlKey(c.key_a, 2, kKey, c.pending), 0);
    const sim::Bytes frame = sim::EncodeCommand(
        0x03, 0x01, sim::Bytes{0x00, 0x02, 0x03, static_cast<std::uint8_t>(c.key_a ? 0x60 : 0x61),
                               0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B});
    EXPECT_EQ(out_.Take(), Gbk("发送数据：" + ToHex(frame) + "\n收到数据：" + ToHex(answer) + c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeyMessageTest,
    ::testing::Values(KeyMessageCase{"A29", true, 29, "  #↑密钥A验证失败！\n"},
                      KeyMessageCase{"A26", true, 26, "  #↑密钥A验证失败！\n"},
                      KeyMessageCase{"B30", false, 30, "  #↑密钥B验证失败！\n"},
                      KeyMessageCase{"B27", false, 27, "  #↑密钥B验证失败！\n"},
                      KeyMessageCase{"Plain16", true, 16, "  #↑M1卡密钥认证出错\n"}),
    [](const auto &instance) { return std::string(instance.param.name); });

}  // namespace
