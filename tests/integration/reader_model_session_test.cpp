// Scripted sessions against the simulated reader with its card models: every
// command runs against something that behaves like the real thing, and the
// log reads exactly as an operator would see it.
#include <cstring>
#include <memory>
#include <string>

#include "tests/support/reader_fixture.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "zelkor.h"

using namespace testing_support;

namespace {

const sim::Bytes kDemoKey = Hex("5A 3C 96 E1 0F 7B");
const sim::Bytes kNewKeyA = Hex("A1 A2 A3 A4 A5 A6");

sim::Bytes Join(std::initializer_list<sim::Bytes> parts) {
    sim::Bytes out;
    for (const sim::Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

sim::Bytes Text(const char *text) { return sim::Bytes(text, text + std::strlen(text)); }

sim::Bytes Cmd(std::uint8_t group, std::uint8_t code, const sim::Bytes &data = {}) {
    return sim::EncodeCommand(group, code, data);
}

// One exchange in the log: the frame sent, the good answer and its message.
std::string Line(const sim::Bytes &frame, const sim::Bytes &answer_data, const std::string &message) {
    return "发送数据：" + ToHex(frame) + "\n收到数据：" + ToHex(sim::EncodeAnswer(0x00, answer_data)) + message;
}

// One exchange the reader refuses with `status`.
std::string Refused(const sim::Bytes &frame, std::uint8_t status, const std::string &message) {
    return "发送数据：" + ToHex(frame) + "\n收到数据：" + ToHex(sim::EncodeAnswer(status)) + message;
}

class ReaderModelSessionTest : public SimulatedReaderTest {
protected:
    void SetUp() override {
        SimulatedReaderTest::SetUp();
        model_ = std::make_shared<sim::ReaderModel>();
        model_->PutCard(sim::MakeDemoS50());
        sim_.SetModel(model_);
        out_.Take();
    }
    std::shared_ptr<sim::ReaderModel> model_;
};

TEST_F(ReaderModelSessionTest, MifareCardFromSearchToWallet) {
    const sim::Bytes uid = Hex("3A 7C 51 E2");
    card_info info{};
    EXPECT_EQ(FindCard(), 1);
    EXPECT_EQ(Conflict(&info), 1);
    EXPECT_EQ(SelectCard(147), 1);
    EXPECT_EQ(sim::Bytes(info.uid, info.uid + 4), uid);
    EXPECT_EQ(out_.Take(), Gbk(Line(Hex("55 55 00 00 00 04 02 01 26 21"), Hex("04 00"), "寻卡成功\n") +
                               Line(Hex("55 55 00 00 00 04 02 02 93 97"), Hex("3A 7C 51 E2 F5"), "防冲突成功\n") +
                               Line(Hex("55 55 00 00 00 04 02 03 93 96"), Hex("08"), "选卡成功\n")));

    // Sector 1 with key A: block 4 holds the demo text, block 5 a wallet of 1000.
    sim::Bytes key = kDemoKey;
    unsigned char block[16] = {};
    EXPECT_EQ(CheckKey(11, 1, 1, 0, 0, key.data()), 1);
    EXPECT_EQ(ReadBlock(1, 1, 0, 11, block), 1);
    EXPECT_EQ(sim::Bytes(block, block + 16), Text("Zelkor demo card"));
    sim::Bytes data = Hex("00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF");
    EXPECT_EQ(WriteBlock(1, 1, 2, 11, data.data()), 1);
    EXPECT_EQ(ReadBlock(0, -1, 6, 11, block), 1);
    EXPECT_EQ(sim::Bytes(block, block + 16), data);
    EXPECT_EQ(out_.Take(),
              Gbk(Line(Cmd(0x03, 0x01, Join({Hex("00 01 00 60"), kDemoKey})), {}, "密钥校验成功\n") +
                  Line(Cmd(0x03, 0x02, Hex("00 01 00")), Text("Zelkor demo card"), "读块成功\n") +
                  Line(Cmd(0x03, 0x03, Join({Hex("00 01 02"), data})), {}, "写块成功\n") +
                  Line(Cmd(0x03, 0x02, Hex("01 00 06")), data, "读块成功\n")));

    int amount = 0;
    const auto amount_ptr = reinterpret_cast<unsigned char *>(&amount);
    EXPECT_EQ(ReadWallet(1, 1, 1, 11, amount_ptr), 1);
    EXPECT_EQ(amount, 1000);
    amount = 500;
    EXPECT_EQ(WalletInit(1, 1, 2, 11, amount_ptr), 1);
    amount = 250;
    EXPECT_EQ(WalletAdd(1, 1, 2, 11, amount_ptr), 1);
    amount = 100;
    EXPECT_EQ(WalletDec(1, 1, 2, 11, amount_ptr), 1);
    EXPECT_EQ(ReadWallet(1, 1, 2, 11, amount_ptr), 1);
    EXPECT_EQ(amount, 650);
    EXPECT_EQ(out_.Take(), Gbk(Line(Cmd(0x03, 0x05, Hex("00 01 01")), Hex("E8 03 00 00"), "钱包读取成功\n") +
                               Line(Cmd(0x03, 0x04, Hex("00 01 02 F4 01 00 00")), {}, "钱包初始化成功\n") +
                               Line(Cmd(0x03, 0x06, Hex("01 00 01 02 FA 00 00 00")), {}, "钱包增值成功\n") +
                               Line(Cmd(0x03, 0x06, Hex("02 00 01 02 64 00 00 00")), {}, "钱包减值成功\n") +
                               Line(Cmd(0x03, 0x05, Hex("00 01 02")), Hex("8A 02 00 00"), "钱包读取成功\n")));

    // The combined commands authenticate on their own, here in sector 2 (key B
    // is readable under the transport condition, so only key A may be used).
    EXPECT_EQ(ComposeWrite(0, -1, 9, 11, data.data(), KeyA, reinterpret_cast<const char *>(key.data())), 1);
    std::memset(block, 0, sizeof block);
    EXPECT_EQ(ComposeRead(1, 2, 1, 11, block, KeyA, reinterpret_cast<const char *>(key.data())), 1);
    EXPECT_EQ(sim::Bytes(block, block + 16), data);
    EXPECT_EQ(out_.Take(),
              Gbk(Line(Cmd(0x03, 0x07, Join({Hex("01 01 00 09 60"), kDemoKey, data})), {}, "复合写块成功\n") +
                  Line(Cmd(0x03, 0x07, Join({Hex("00 00 02 01 60"), kDemoKey})), data, "复合读块成功\n")));

    // A wrong key: the card refuses and the command fails after its wait.
    sim::Bytes wrong = Hex("00 00 00 00 00 00");
    EXPECT_EQ(CheckKey(11, 0, -1, 12, 1, wrong.data()), 0);
    EXPECT_EQ(out_.Take(), Gbk(Refused(Cmd(0x03, 0x01, Join({Hex("01 00 0C 61"), wrong})), 0x06,
                                       "  #↑M1卡密钥认证出错\n")));
}

TEST_F(ReaderModelSessionTest, TrailerKeysAndAccessBytesChange) {
    sim::Bytes key_a = kDemoKey, key_b = kDemoKey, new_a = kNewKeyA;
    unsigned char access[4] = {};
    ASSERT_EQ(FindCard(), 1);
    ASSERT_EQ(SelectCard(147), 1);
    out_.Take();

    // Transport condition (n = 1): key B is readable, keys are written with key A.
    const auto checks = [](const sim::Bytes &a, const sim::Bytes &b) {
        return Line(Cmd(0x03, 0x01, Join({Hex("00 01 03 60"), a})), {}, "控制字校验成功\n") +
               Line(Cmd(0x03, 0x01, Join({Hex("00 01 03 61"), b})), {}, "控制字校验成功\n");
    };
    const auto read = [](const sim::Bytes &a, const sim::Bytes &trailer) {
        return Line(Cmd(0x03, 0x07, Join({Hex("00 00 01 03 60"), a})), trailer, "控制字读取成功\n");
    };
    EXPECT_EQ(ModifyKey(1, new_a.data(), key_a.data(), key_b.data()), 1);
    const sim::Bytes transport = Hex("FF 07 80 69");
    EXPECT_EQ(out_.Take(),
              Gbk(checks(kDemoKey, kDemoKey) + read(kDemoKey, Join({sim::Bytes(6, 0), transport, kDemoKey})) +
                  Line(Cmd(0x03, 0x07, Join({Hex("01 00 01 03 60"), kDemoKey, kNewKeyA, transport, kDemoKey})),
                       {}, "密钥修改成功\n")));

    // Access bytes to n = 3 (keys and access bytes written with key B only).
    sim::Bytes key_b_only = Hex("7F 07 88 69");
    EXPECT_EQ(ModifyControl(1, new_a.data(), key_b.data(), key_b_only.data()), 1);
    EXPECT_EQ(ReadCtrlWord(1, new_a.data(), access), 1);
    EXPECT_EQ(sim::Bytes(access, access + 4), key_b_only);
    EXPECT_EQ(out_.Take(),
              Gbk(checks(kNewKeyA, kDemoKey) + read(kNewKeyA, Join({sim::Bytes(6, 0), transport, kDemoKey})) +
                  Line(Cmd(0x03, 0x07, Join({Hex("01 00 01 03 60"), kNewKeyA, kNewKeyA, key_b_only, kDemoKey})),
                       {}, "密钥修改成功\n") +
                  read(kNewKeyA, Join({sim::Bytes(6, 0), key_b_only, sim::Bytes(6, 0)}))));

    // Under n = 3 the card only lets key B write the keys: the old key A comes back.
    EXPECT_EQ(ModifyKey(1, key_a.data(), new_a.data(), key_b.data()), 1);
    EXPECT_EQ(out_.Take(),
              Gbk(checks(kNewKeyA, kDemoKey) + read(kNewKeyA, Join({sim::Bytes(6, 0), key_b_only, sim::Bytes(6, 0)})) +
                  Line(Cmd(0x03, 0x07, Join({Hex("01 00 01 03 61"), kDemoKey, kDemoKey, key_b_only, kDemoKey})),
                       {}, "密钥修改成功\n")));
    EXPECT_EQ(CheckCtrlKey(true, 1, key_a.data(), 16), 1);
    out_.Take();

    // Access bytes whose inverted copies disagree never reach the card.
    sim::Bytes broken = Hex("FF 07 88 69");
    const std::size_t frames = sim_.FrameCount();
    EXPECT_EQ(ModifyControl(1, key_a.data(), key_b.data(), broken.data()), 0);
    EXPECT_EQ(out_.Take(), Gbk("  #↑控制字无效，未写入\n"));
    EXPECT_EQ(sim_.FrameCount(), frames);
}

TEST_F(ReaderModelSessionTest, CpuCardCosSession) {
    model_->PutCard(sim::MakeDemoCpuCard());
    EXPECT_EQ(CosActivation(), 1);
    unsigned char select_ef[] = {0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x15};
    unsigned char read_binary[] = {0x00, 0xB0, 0x00, 0x00, 0x04};
    unsigned char unknown[] = {0x00, 0xCA, 0x00, 0x00, 0x00};
    EXPECT_EQ(SendCosCommand(select_ef, sizeof select_ef), 1);
    EXPECT_EQ(SendCosCommand(read_binary, sizeof read_binary), 1);
    EXPECT_EQ(SendCosCommand(unknown, sizeof unknown), 1);
    EXPECT_EQ(Exauthentication(nullptr, 5, 9), 1);
    unsigned char key3[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                              0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(Exauthentication(key3, 16, 3), 1);
    EXPECT_EQ(CosDeactive(), 1);
    EXPECT_EQ(out_.Take(),
              Gbk(Line(Hex("55 55 00 00 00 04 07 01 52 50"), Hex("05 78 80 70 02"), "COS指令激活成功\n") +
                  Line(Cmd(0x07, 0x03, Hex("00 A4 00 00 02 00 15")), Hex("90 00"), "COS指令执行成功\n") +
                  Line(Cmd(0x07, 0x03, Hex("00 B0 00 00 04")), Hex("10 20 30 40 90 00"), "COS指令执行成功\n") +
                  Line(Cmd(0x07, 0x03, Hex("00 CA 00 00 00")), Hex("6D 00"), "COS指令执行成功\n") +
                  Line(Cmd(0x07, 0x04, Hex("08 00 FF FF FF FF FF FF FF FF")), {}, "外部认证成功\n") +
                  Line(Cmd(0x07, 0x04, Join({Hex("10 03"), sim::Bytes(key3, key3 + 16)})), {}, "外部认证成功\n") +
                  Line(Hex("55 55 00 00 00 03 07 02 06"), {}, "COS指令停活成功\n")));
}

TEST_F(ReaderModelSessionTest, CosOrderIsEnforcedByTheReader) {
    model_->PutCard(sim::MakeDemoCpuCard());
    ASSERT_EQ(CosActivation(), 1);
    out_.Take();
    EXPECT_EQ(CosActivation(), 0);
    EXPECT_EQ(out_.Take(), Gbk(Refused(Hex("55 55 00 00 00 04 07 01 52 50"), 0x3F, "  #↑连续两次激活COS\n")));
    ASSERT_EQ(CosDeactive(), 1);
    out_.Take();
    unsigned char challenge[] = {0x00, 0x84, 0x00, 0x00, 0x08};
    EXPECT_EQ(SendCosCommand(challenge, sizeof challenge), 0);
    EXPECT_EQ(out_.Take(), Gbk(Refused(Cmd(0x07, 0x03, Hex("00 84 00 00 08")), 0x40,
                                       "  #↑未激活COS的情况下执行COS指令\n")));
}

TEST_F(ReaderModelSessionTest, ReaderControlsAndCardInformation) {
    unsigned char id[128] = {};
    int length = 0;
    card_info info{};
    EXPECT_EQ(BuzzerOn(1), 1);
    EXPECT_TRUE(model_->buzzer_on());
    EXPECT_EQ(AutoFindCard(1), 1);
    EXPECT_TRUE(model_->auto_search());
    EXPECT_EQ(GetReaderId(id, &length), 1);
    EXPECT_EQ(sim::Bytes(id, id + length), Hex("20 26 12 07 00 00 31 5A"));
    EXPECT_EQ(ReadReader(1, 2), 1);
    EXPECT_EQ(AntennaOff(), 1);
    EXPECT_FALSE(model_->antenna_on());
    EXPECT_EQ(GetCardInfo(&info), 1);
    EXPECT_EQ(info.card_type, 11);
    EXPECT_EQ(sim::Bytes(info.uid, info.uid + 4), Hex("3A 7C 51 E2"));
    EXPECT_EQ(out_.Take(),
              Gbk(Line(Hex("55 55 00 00 00 03 01 04 06"), {}, "命令执行成功\n") +
                  Line(Hex("55 55 00 00 00 03 01 01 03"), {}, "命令执行成功\n") +
                  Line(Hex("55 55 00 00 00 03 01 0A 08"), Hex("20 26 12 07 00 00 31 5A"), "获取读卡器序号成功\n") +
                  Line(Hex("55 55 00 00 00 06 01 07 00 01 02 03"), Hex("4E"), "读卡器内部寄存器读取成功\n") +
                  Line(Hex("55 55 00 00 00 04 01 06 00 03"), {}, "关闭天线成功\n") +
                  Line(Hex("55 55 00 00 00 03 01 02 00"), Hex("04 3A 7C 51 E2"), "获取卡片信息成功\n")));

    // UltraLight: a seven-byte serial number, cascade on anticollision.
    model_->PutCard(sim::MakeDemoUltraLight());
    ASSERT_EQ(FindCard(), 1);
    out_.Take();
    EXPECT_EQ(Conflict(&info), 0);
    EXPECT_EQ(GetCardInfo(&info), 1);
    EXPECT_EQ(info.card_type, 10);
    EXPECT_EQ(sim::Bytes(info.uid, info.uid + 6), Hex("04 6E 21 8A 33 5F"));
    EXPECT_EQ(out_.Take(), Gbk(Line(Hex("55 55 00 00 00 04 02 02 93 97"), Hex("88 04 6E 21 C3"), "") +
                               Line(Hex("55 55 00 00 00 04 02 03 93 96"), Hex("00"), "选卡成功\n") +
                               Line(Hex("55 55 00 00 00 03 01 02 00"), Hex("00 04 6E 21 8A 33 5F 80"),
                                    "获取卡片信息成功\n")));

    EXPECT_EQ(SetBaudRate(6), 1);
    EXPECT_EQ(model_->baud(), 115200);
}

TEST_F(ReaderModelSessionTest, SearchHaltWakeUpAndManualSearch) {
    card_info info{};
    EXPECT_EQ(ComposeFindCard(), 1);
    EXPECT_EQ(PauseCard(), 1);
    EXPECT_EQ(out_.Take(), Gbk(Line(Hex("55 55 00 00 00 03 02 04 05"), Hex("04 3A 7C 51 E2 08"), "复合寻卡成功\n") +
                               Line(Hex("55 55 00 00 00 03 02 05 04"), {}, "暂停卡成功\n")));
    // A halted card answers a wake-up, not a request.
    EXPECT_EQ(FindCard(), 0);
    EXPECT_EQ(out_.Take(), Gbk(Refused(Hex("55 55 00 00 00 04 02 01 26 21"), 0x01, "  #↑读卡器周围无卡\n")));
    EXPECT_EQ(WakeUp(), 11);
    EXPECT_EQ(Conflict(&info), 1);
    EXPECT_EQ(SelectCard(0x93), 1);
    out_.Take();

    model_->PutCard(sim::MakeDemoS70());
    EXPECT_EQ(ManualCard(&info), 1);
    EXPECT_EQ(info.card_type, 12);
    EXPECT_EQ(sim::Bytes(info.uid, info.uid + 4), Hex("9D 42 0B 76"));
    EXPECT_EQ(out_.Take(), Gbk("发送数据：55 55 00 00 00 03 01 09 0B \n收到数据：" + ToHex(sim::EncodeAnswer(0x00)) +
                               "收到数据：" + ToHex(sim::EncodeAnswer(0x00, Hex("02 9D 42 0B 76"))) +
                               "手动寻卡成功\n"));
}

}  // namespace
