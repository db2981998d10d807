// Every command as a caller sees it: the frame on the wire byte for byte, the
// trace and success message, the data handed back, the failure path and the
// arguments refused before anything is sent.
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/reader_fixture.h"
#include "zelkor.h"

using namespace testing_support;

namespace {

constexpr unsigned char kSentinel = 0xA5;

// Caller-owned buffers the commands write into, pre-filled with a sentinel.
struct Buffers {
    Buffers() {
        std::memset(block, kSentinel, sizeof block);
        std::memset(id, kSentinel, sizeof id);
        std::memset(access, kSentinel, sizeof access);
        std::memset(&info, kSentinel, sizeof info);
        amount = -12345;
    }
    bool operator==(const Buffers &o) const {
        return std::memcmp(block, o.block, sizeof block) == 0 &&
               std::memcmp(id, o.id, sizeof id) == 0 &&
               std::memcmp(access, o.access, sizeof access) == 0 &&
               std::memcmp(&info, &o.info, sizeof info) == 0 && amount == o.amount &&
               id_length == o.id_length;
    }
    unsigned char block[16];
    unsigned char id[200];
    int id_length = -1;
    unsigned char access[4];
    card_info info;
    int amount;
};

unsigned char kKey[6] = {0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B};
unsigned char kKeyB[6] = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
unsigned char kData[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                           0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
const char *KeyText() { return reinterpret_cast<const char *>(kKey); }

unsigned char *Int(int &value) { return reinterpret_cast<unsigned char *>(&value); }

sim::Bytes Concat(const std::string &a, const unsigned char *b, std::size_t n) {
    sim::Bytes out = Hex(a);
    out.insert(out.end(), b, b + n);
    return out;
}

sim::Bytes Cmd(std::uint8_t group, std::uint8_t code, const sim::Bytes &data) {
    return sim::EncodeCommand(group, code, data);
}

sim::Bytes operator+(sim::Bytes a, const sim::Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

using Call = std::function<int(Buffers &)>;
using Check = std::function<void(const Buffers &)>;

struct FrameCase {
    std::string name;
    Call call;
    sim::Bytes frame;   // expected on the wire
    sim::Bytes answer;  // data of the good answer
    int result;
    std::string message;  // success message (UTF-8)
    Check check = nullptr;
};

void PrintTo(const FrameCase &c, std::ostream *os) { *os << c.name; }

const sim::Bytes kTrailer = Hex("5A 3C 96 E1 0F 7B FF 07 80 69 B0 B1 B2 B3 B4 B5");

std::vector<FrameCase> FrameCases() {
    std::vector<FrameCase> c;
    // Card detection.
    c.push_back({"FindCard", [](Buffers &) { return FindCard(); },
                 Hex("55 55 00 00 00 04 02 01 26 21"), Hex("04 00"), 1, "寻卡成功\n"});
    c.push_back({"WakeUpS50", [](Buffers &) { return WakeUp(); },
                 Hex("55 55 00 00 00 04 02 01 52 55"), Hex("04 00"), 11, "唤醒卡成功\n"});
    c.push_back({"WakeUpUltraLight", [](Buffers &) { return WakeUp(); },
                 Hex("55 55 00 00 00 04 02 01 52 55"), Hex("00"), 10, "唤醒卡成功\n"});
    c.push_back({"WakeUpUnknown", [](Buffers &) { return WakeUp(); },
                 Hex("55 55 00 00 00 04 02 01 52 55"), Hex("45"), 16, "唤醒卡成功\n"});
    c.push_back({"SelectCard", [](Buffers &) { return SelectCard(147); },
                 Hex("55 55 00 00 00 04 02 03 93 96"), Hex("08"), 1, "选卡成功\n"});
    c.push_back({"SelectCardLowByte", [](Buffers &) { return SelectCard(0x193); },
                 Hex("55 55 00 00 00 04 02 03 93 96"), Hex("08"), 1, "选卡成功\n"});
    c.push_back({"Conflict", [](Buffers &b) { return Conflict(&b.info); },
                 Hex("55 55 00 00 00 04 02 02 93 97"), Hex("DE AD BE EF"), 1, "防冲突成功\n",
                 [](const Buffers &b) {
                     EXPECT_EQ(sim::Bytes(b.info.uid, b.info.uid + 5), Hex("DE AD BE EF A5"));
                     EXPECT_EQ(b.info.card_type, static_cast<int>(0xA5A5A5A5));
                 }});
    c.push_back({"ConflictNullRecord", [](Buffers &) { return Conflict(nullptr); },
                 Hex("55 55 00 00 00 04 02 02 93 97"), Hex("DE AD BE EF"), 1, "防冲突成功\n"});
    c.push_back({"GetCardInfoS50", [](Buffers &b) { return GetCardInfo(&b.info); },
                 Hex("55 55 00 00 00 03 01 02 00"), Hex("04 01 02 03 04 05 06 07"), 1,
                 "获取卡片信息成功\n", [](const Buffers &b) {
                     EXPECT_EQ(b.info.card_type, 11);
                     EXPECT_EQ(sim::Bytes(b.info.uid, b.info.uid + 6), Hex("01 02 03 04 A5 A5"));
                 }});
    c.push_back({"GetCardInfoUltraLight", [](Buffers &b) { return GetCardInfo(&b.info); },
                 Hex("55 55 00 00 00 03 01 02 00"), Hex("00 01 02 03 04 05 06 07"), 1,
                 "获取卡片信息成功\n", [](const Buffers &b) {
                     EXPECT_EQ(b.info.card_type, 10);
                     EXPECT_EQ(sim::Bytes(b.info.uid, b.info.uid + 7), Hex("01 02 03 04 05 06 A5"));
                 }});
    c.push_back({"ComposeFindCard", [](Buffers &) { return ComposeFindCard(); },
                 Hex("55 55 00 00 00 03 02 04 05"), Hex("04 00 08 01 02 03 04"), 1, "复合寻卡成功\n"});
    c.push_back({"PauseCard", [](Buffers &) { return PauseCard(); },
                 Hex("55 55 00 00 00 03 02 05 04"), {}, 1, "暂停卡成功\n"});
    c.push_back({"AutoFindCardOn", [](Buffers &) { return AutoFindCard(1); },
                 Hex("55 55 00 00 00 03 01 01 03"), {}, 1, "命令执行成功\n"});
    c.push_back({"AutoFindCardFive", [](Buffers &) { return AutoFindCard(5); },
                 Hex("55 55 00 00 00 03 01 01 03"), {}, 1, "命令执行成功\n"});
    c.push_back({"AutoFindCardOff", [](Buffers &) { return AutoFindCard(0); },
                 Hex("55 55 00 00 00 03 01 03 01"), {}, 1, "命令执行成功\n"});
    // Reader control.
    c.push_back({"BuzzerOn", [](Buffers &) { return BuzzerOn(3); },
                 Hex("55 55 00 00 00 03 01 04 06"), {}, 1, "命令执行成功\n"});
    c.push_back({"BuzzerOff", [](Buffers &) { return BuzzerOn(0); },
                 Hex("55 55 00 00 00 03 01 05 07"), {}, 1, "命令执行成功\n"});
    c.push_back({"AntennaOff", [](Buffers &) { return AntennaOff(); },
                 Hex("55 55 00 00 00 04 01 06 00 03"), {}, 1, "关闭天线成功\n"});
    c.push_back({"GetReaderId", [](Buffers &b) { return GetReaderId(b.id, &b.id_length); },
                 Hex("55 55 00 00 00 03 01 0A 08"), Hex("11 22 33 44 55 66 77 88"), 1,
                 "获取读卡器序号成功\n", [](const Buffers &b) {
                     EXPECT_EQ(b.id_length, 8);
                     EXPECT_EQ(sim::Bytes(b.id, b.id + 9), Hex("11 22 33 44 55 66 77 88 A5"));
                 }});
    c.push_back({"SetBaudRate2400", [](Buffers &) { return SetBaudRate(0); },
                 Hex("55 55 00 00 00 04 BD 01 01 B9"), {}, 1, "波特率设置成功\n"});
    c.push_back({"SetBaudRate115200", [](Buffers &) { return SetBaudRate(6); },
                 Hex("55 55 00 00 00 04 BD 01 07 BF"), {}, 1, "波特率设置成功\n"});
    c.push_back({"ReadReader", [](Buffers &) { return ReadReader(1, 2); },
                 Hex("55 55 00 00 00 06 01 07 00 01 02 03"), Hex("3F"), 1, "读卡器内部寄存器读取成功\n"});
    c.push_back({"ReadReader512", [](Buffers &) { return ReadReader(512, 5); },
                 Hex("55 55 00 00 00 06 01 07 05 0C 05 0C"), Hex("3F"), 1, "读卡器内部寄存器读取成功\n"});
    c.push_back({"SendM1Command", [](Buffers &) {
                     unsigned char bytes[] = {0x01, 0x04, 0x00};
                     return SendM1Command(bytes, 3);
                 },
                 Hex("55 55 00 00 00 04 01 04 00 01"), {}, 1, "命令执行成功\n"});
    // MIFARE Classic blocks.
    c.push_back({"CheckKeyAbsoluteKeyA", [](Buffers &) { return CheckKey(11, 0, -1, 4, 0, kKey); },
                 Concat("55 55 00 00 00 0D 03 01 01 00 04 60", kKey, 6) + Hex("0F"), {}, 1,
                 "密钥校验成功\n"});
    c.push_back({"CheckKeyRelativeKeyB", [](Buffers &) { return CheckKey(11, 1, 1, 0, 1, kKey); },
                 Cmd(0x03, 0x01, Concat("00 01 00 61", kKey, 6)), {}, 1, "密钥校验成功\n"});
    c.push_back({"CheckKeyOtherKeyType", [](Buffers &) { return CheckKey(12, 0, -1, 64, 2, kKey); },
                 Cmd(0x03, 0x01, Concat("01 00 40 00", kKey, 6)), {}, 1, "密钥校验成功\n"});
    c.push_back({"CheckKeyOfTrailer", [](Buffers &) { return CheckKey(11, 0, -1, 3, 0, kKey); },
                 Cmd(0x03, 0x01, Concat("01 00 03 60", kKey, 6)), {}, 1, "密钥校验成功\n"});
    c.push_back({"ReadBlockAbsolute", [](Buffers &b) { return ReadBlock(0, -1, 4, 11, b.block); },
                 Hex("55 55 00 00 00 06 03 02 01 00 04 02"), sim::Bytes(kData, kData + 16), 1,
                 "读块成功\n", [](const Buffers &b) { EXPECT_EQ(0, std::memcmp(b.block, kData, 16)); }});
    c.push_back({"ReadBlockRelative", [](Buffers &b) { return ReadBlock(1, 1, 0, 11, b.block); },
                 Hex("55 55 00 00 00 06 03 02 00 01 00 06"), sim::Bytes(kData, kData + 16), 1,
                 "读块成功\n"});
    c.push_back({"ReadBlockOfTrailer", [](Buffers &b) { return ReadBlock(0, -1, 3, 11, b.block); },
                 Cmd(0x03, 0x02, Hex("01 00 03")), kTrailer, 1, "读块成功\n"});
    c.push_back({"ReadBlockRelativeUnchecked", [](Buffers &b) { return ReadBlock(5, 0, 70, 11, b.block); },
                 Cmd(0x03, 0x02, Hex("00 00 46")), sim::Bytes(kData, kData + 16), 1, "读块成功\n"});
    c.push_back({"WriteBlockS70Block128", [](Buffers &) { return WriteBlock(0, -1, 128, 12, kData); },
                 Cmd(0x03, 0x03, Concat("01 00 80", kData, 16)), {}, 1, "写块成功\n"});
    c.push_back({"WriteBlockSector32Block3", [](Buffers &) { return WriteBlock(1, 32, 3, 12, kData); },
                 Cmd(0x03, 0x03, Concat("00 20 03", kData, 16)), {}, 1, "写块成功\n"});
    c.push_back({"ComposeRead", [](Buffers &b) { return ComposeRead(1, 2, 1, 11, b.block, KeyB, KeyText()); },
                 Cmd(0x03, 0x07, Concat("00 00 02 01 61", kKey, 6)), sim::Bytes(kData, kData + 16), 1,
                 "复合读块成功\n", [](const Buffers &b) { EXPECT_EQ(0, std::memcmp(b.block, kData, 16)); }});
    c.push_back({"ComposeWrite", [](Buffers &) { return ComposeWrite(0, -1, 4, 11, kData, KeyA, KeyText()); },
                 Cmd(0x03, 0x07, Concat("01 01 00 04 60", kKey, 6) + sim::Bytes(kData, kData + 16)), {},
                 1, "复合写块成功\n"});
    // Wallets.
    c.push_back({"WalletInit", [](Buffers &) { int v = 1000; return WalletInit(0, -1, 5, 11, Int(v)); },
                 Hex("55 55 00 00 00 0A 03 04 01 00 05 E8 03 00 00 E2"), {}, 1, "钱包初始化成功\n"});
    c.push_back({"WalletInitHighByte", [](Buffers &) { int v = 16777216; return WalletInit(1, 32, 3, 12, Int(v)); },
                 Cmd(0x03, 0x04, Hex("00 20 03 00 00 00 01")), {}, 1, "钱包初始化成功\n"});
    c.push_back({"WalletInitZero", [](Buffers &) { int v = 0; return WalletInit(0, -1, 1, 11, Int(v)); },
                 Cmd(0x03, 0x04, Hex("01 00 01 00 00 00 00")), {}, 1, "钱包初始化成功\n"});
    c.push_back({"WalletAdd", [](Buffers &) { int v = 100; return WalletAdd(0, -1, 5, 11, Int(v)); },
                 Hex("55 55 00 00 00 0B 03 06 01 01 00 05 64 00 00 00 6F"), {}, 1, "钱包增值成功\n"});
    c.push_back({"WalletDec", [](Buffers &) { int v = 10000; return WalletDec(1, 1, 2, 11, Int(v)); },
                 Hex("55 55 00 00 00 0B 03 06 02 00 01 02 10 27 00 00 38"), {}, 1, "钱包减值成功\n"});
    c.push_back({"WalletDecMaximum", [](Buffers &) { int v = 2147483647; return WalletDec(0, -1, 1, 11, Int(v)); },
                 Cmd(0x03, 0x06, Hex("02 01 00 01 FF FF FF 7F")), {}, 1, "钱包减值成功\n"});
    c.push_back({"ReadWallet", [](Buffers &b) { return ReadWallet(1, 2, 1, 11, Int(b.amount)); },
                 Hex("55 55 00 00 00 06 03 05 00 02 01 03"), Hex("10 27 00 00"), 1, "钱包读取成功\n",
                 [](const Buffers &b) { EXPECT_EQ(b.amount, 10000); }});
    c.push_back({"ReadWalletLarge", [](Buffers &b) { return ReadWallet(0, -1, 1, 11, Int(b.amount)); },
                 Cmd(0x03, 0x05, Hex("01 00 01")), Hex("01 02 03 04"), 1, "钱包读取成功\n",
                 [](const Buffers &b) { EXPECT_EQ(b.amount, 0x04030201); }});
    // Trailers.
    c.push_back({"ReadCtrlWordSector31", [](Buffers &b) { return ReadCtrlWord(31, kKey, b.access); },
                 Cmd(0x03, 0x07, Concat("00 00 1F 03 60", kKey, 6)), kTrailer, 1, "控制字读取成功\n",
                 [](const Buffers &b) { EXPECT_EQ(sim::Bytes(b.access, b.access + 4), Hex("FF 07 80 69")); }});
    c.push_back({"ReadCtrlWordSector32", [](Buffers &b) { return ReadCtrlWord(32, kKey, b.access); },
                 Cmd(0x03, 0x07, Concat("00 00 20 0F 60", kKey, 6)), kTrailer, 1, "控制字读取成功\n"});
    c.push_back({"CheckCtrlKeyA", [](Buffers &) { return CheckCtrlKey(true, 5, kKey, 29); },
                 Cmd(0x03, 0x01, Concat("00 05 03 60", kKey, 6)), {}, 1, "控制字校验成功\n"});
    c.push_back({"CheckCtrlKeyB", [](Buffers &) { return CheckCtrlKey(false, 33, kKeyB, 16); },
                 Cmd(0x03, 0x01, Concat("00 21 0F 61", kKeyB, 6)), {}, 1, "控制字校验成功\n"});
    // COS.
    c.push_back({"CosActivation", [](Buffers &) { return CosActivation(); },
                 Hex("55 55 00 00 00 04 07 01 52 50"), Hex("3B 00"), 1, "COS指令激活成功\n"});
    c.push_back({"CosDeactive", [](Buffers &) { return CosDeactive(); },
                 Hex("55 55 00 00 00 03 07 02 06"), {}, 1, "COS指令停活成功\n"});
    c.push_back({"SendCosCommand", [](Buffers &) {
                     unsigned char apdu[] = {0x00, 0x84, 0x00, 0x00, 0x08};
                     return SendCosCommand(apdu, 5);
                 },
                 Hex("55 55 00 00 00 08 07 03 00 84 00 00 08 80"), Hex("01 02 03 04 05 06 07 08 90 00"),
                 1, "COS指令执行成功\n"});
    {
        sim::Bytes apdu(89);
        for (std::size_t i = 0; i < apdu.size(); ++i) apdu[i] = static_cast<std::uint8_t>(i * 7);
        sim::Bytes frame = Cmd(0x07, 0x03, apdu);
        c.push_back({"SendCosCommandLongest", [apdu](Buffers &) mutable {
                         return SendCosCommand(apdu.data(), 89);
                     },
                     frame, Hex("90 00"), 1, "COS指令执行成功\n"});
    }
    c.push_back({"ExauthenticationDefaultKey", [](Buffers &) { return Exauthentication(nullptr, 3, 7); },
                 Hex("55 55 00 00 00 0D 07 04 08 00 FF FF FF FF FF FF FF FF 06"), {}, 1, "外部认证成功\n"});
    c.push_back({"ExauthenticationEmptyKey", [](Buffers &) { return Exauthentication(kKey, 0, 1); },
                 Hex("55 55 00 00 00 05 07 04 00 01 07"), {}, 1, "外部认证成功\n"});
    c.push_back({"ExauthenticationLongestKey", [](Buffers &) {
                     unsigned char key[16];
                     for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(0x10 + i);
                     return Exauthentication(key, 16, 2);
                 },
                 Cmd(0x07, 0x04, Hex("10 02 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F")), {}, 1,
                 "外部认证成功\n"});
    return c;
}

class CommandFrameTest : public SimulatedReaderTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(CommandFrameTest, SendsItsFrameAndReportsSuccess) {
    const FrameCase &c = GetParam();
    // Frames written out by hand must carry the right length and checksum.
    ASSERT_EQ(c.frame, Cmd(c.frame[6], c.frame[7], sim::Bytes(c.frame.begin() + 8, c.frame.end() - 1)));
    const sim::Bytes answer = sim::EncodeAnswer(0x00, c.answer);
    sim_.Enqueue(sim::Raw(answer));
    out_.Take();
    Buffers buffers;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.call(buffers), c.result);
    EXPECT_LT(ElapsedMs(start), 900);  // returned at its answer, not after the wait
    ASSERT_EQ(sim_.Frames().size(), 1u);
    EXPECT_EQ(ToHex(sim_.Frames()[0]), ToHex(c.frame));
    EXPECT_EQ(out_.Take(), Gbk("发送数据：" + ToHex(c.frame) + "\n收到数据：" + ToHex(answer) + c.message));
    if (c.check) c.check(buffers);
}

INSTANTIATE_TEST_SUITE_P(All, CommandFrameTest, ::testing::ValuesIn(FrameCases()),
                         [](const auto &instance) { return instance.param.name; });


// One failure path per command: the reader reports "no card"; the command
// returns 0 after its wait, prints no success message and writes nothing.
std::vector<FrameCase> FailureCases() {
    const std::vector<std::string> names = {
        "FindCard", "WakeUpS50", "SelectCard", "Conflict", "GetCardInfoS50", "ComposeFindCard",
        "PauseCard", "AutoFindCardOn", "AutoFindCardOff", "BuzzerOn", "AntennaOff", "GetReaderId",
        "SetBaudRate2400", "ReadReader", "SendM1Command", "CheckKeyAbsoluteKeyA",
        "ReadBlockAbsolute", "WriteBlockS70Block128", "ComposeRead", "ComposeWrite", "WalletInit",
        "WalletAdd", "WalletDec", "ReadWallet", "ReadCtrlWordSector31", "CheckCtrlKeyB",
        "CosActivation", "CosDeactive", "SendCosCommand", "ExauthenticationDefaultKey"};
    std::vector<FrameCase> out;
    for (const FrameCase &c : FrameCases()) {
        for (const std::string &n : names) {
            if (c.name == n) out.push_back(c);
        }
    }
    return out;
}

class CommandFailureTest : public SimulatedReaderTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(CommandFailureTest, ErrorStatusGivesZeroAtOnceAndLeavesBuffers) {
    const FrameCase &c = GetParam();
    const sim::Bytes answer = sim::EncodeAnswer(0x01);
    sim_.Enqueue(sim::Raw(answer));
    out_.Take();
    Buffers buffers;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.call(buffers), 0);
    EXPECT_LT(ElapsedMs(start), 900);  // not the 1000 ms answer wait
    EXPECT_EQ(out_.Take(), Gbk("发送数据：" + ToHex(c.frame) + "\n收到数据：" + ToHex(answer) +
                               "  #↑读卡器周围无卡\n"));
    Buffers untouched;
    if (c.name == "ReadWallet") untouched.amount = 0;  // a failed read clears the amount
    EXPECT_TRUE(buffers == untouched);
}

INSTANTIATE_TEST_SUITE_P(All, CommandFailureTest, ::testing::ValuesIn(FailureCases()),
                         [](const auto &instance) { return instance.param.name; });

}  // namespace
