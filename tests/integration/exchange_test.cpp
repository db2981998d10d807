// The exchange as a caller sees it: frames on the wire, answers in one piece
// or several, status messages, time-outs, late answers and upload data.
#include <algorithm>
#include <thread>
#include <vector>

#include "reader_fixture.h"
#include "zelkor.h"

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

const std::string kFindFrame = "55 55 00 00 00 04 02 01 26 21 ";

std::string Sent(const std::string &hex) { return Gbk("发送数据：") + hex + "\n"; }
std::string Received(const sim::Bytes &bytes) { return Gbk("收到数据：") + ToHex(bytes); }

class ExchangeTest : public SimulatedReaderTest {};

TEST_F(ExchangeTest, GoodAnswerTracesBothFramesAndSucceedsQuickly) {
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 1);
    EXPECT_LT(ElapsedMs(start), 50 * kSlack);
    ASSERT_EQ(sim_.Frames().size(), 1u);
    EXPECT_EQ(sim_.Frames()[0], Hex(kFindFrame));
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(Hex("55 55 00 00 00 04 00 04 00 00")) + Gbk("寻卡成功\n"));

    unsigned char sent[256] = {};
    ASSERT_EQ(GetReaderSendCmd(sent), 10);
    EXPECT_EQ(sim::Bytes(sent, sent + 10), Hex(kFindFrame));
}

TEST_F(ExchangeTest, CommandAnsweredAtOnceReturnsWithinFiveMilliseconds) {
    std::vector<long> micros;
    for (int i = 0; i < 30; ++i) {
        sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(FindCard(), 1);
        micros.push_back(static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                               std::chrono::steady_clock::now() - start)
                                               .count()));
    }
    std::sort(micros.begin(), micros.end());
    EXPECT_LT(micros[micros.size() / 2], 5000 * kSlack) << "median in microseconds";
}

TEST_F(ExchangeTest, AnswerSplitIntoPiecesArrivesWhole) {
    const sim::Bytes answer = sim::EncodeAnswer(0x00, Hex("04 00 11 22 33 44 55 66"));
    for (const std::vector<std::size_t> &cuts : std::vector<std::vector<std::size_t>>{
             {3}, {1}, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, {6}, {7, 12}}) {
        sim_.Enqueue(sim::Split(answer, cuts, 15));
        out_.Take();
        ASSERT_EQ(FindCard(), 1);
        EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(answer) + Gbk("寻卡成功\n"));
        unsigned char received[1024] = {};
        ASSERT_EQ(GetReaderRecvData(received), static_cast<int>(answer.size()));
        EXPECT_EQ(sim::Bytes(received, received + answer.size()), answer);
    }
}

struct StatusCase {
    unsigned char status;
    const char *message;
};

class StatusMessageTest : public SimulatedReaderTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusMessageTest, ErrorStatusPrintsItsMessageAtOnceAndFailsAfterTheWait) {
    const StatusCase c = GetParam();
    const sim::Bytes answer = sim::EncodeAnswer(c.status, Hex("00"));
    sim_.Enqueue(sim::Raw(answer));
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    std::thread caller([&] { EXPECT_EQ(FindCard(), 0); });
    // The message is there long before the command gives up.
    EXPECT_TRUE(out_.WaitFor(Gbk(c.message), 500));
    EXPECT_LT(ElapsedMs(start), 500 * kSlack);
    caller.join();
    EXPECT_GE(ElapsedMs(start), 990);
    EXPECT_LT(ElapsedMs(start), 1000 + 300 * kSlack);
}

INSTANTIATE_TEST_SUITE_P(
    AllStatuses, StatusMessageTest,
    ::testing::Values(StatusCase{0x01, "  #↑读卡器周围无卡\n"}, StatusCase{0x06, "  #↑M1卡密钥认证出错\n"},
                      StatusCase{0x0B, "  #↑M1卡读写操作前未经过密钥认证\n"},
                      StatusCase{0x0D, "  #↑读卡器接受卡片数据异常\n"},
                      StatusCase{0x1D, "  #↑读卡器与卡片通信超时\n"}, StatusCase{0x3C, "  #↑读卡器异常\n"},
                      StatusCase{0x3D, "  #↑读卡器不支持该命令\n"}, StatusCase{0x3E, "  #↑命令参数错误\n"},
                      StatusCase{0x3F, "  #↑连续两次激活COS\n"},
                      StatusCase{0x40, "  #↑未激活COS的情况下执行COS指令\n"},
                      StatusCase{0x41, "  #↑卡片不支持该命令\n"}, StatusCase{0x02, "  #↑未定义错误代码\n"},
                      StatusCase{0x99, "  #↑未定义错误代码\n"}));

TEST_F(ExchangeTest, ErrorStatusTraceIsOneLineAndNoNoAnswerNoticeFollows) {
    const sim::Bytes answer = sim::EncodeAnswer(0x01);
    sim_.Enqueue(sim::Raw(answer));
    out_.Take();
    EXPECT_EQ(FindCard(), 0);
    std::this_thread::sleep_for(1200ms);  // past the 2000 ms notice
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(answer) + Gbk("  #↑读卡器周围无卡\n"));
}

TEST_F(ExchangeTest, MissingAnswerFailsAfterOneSecondAndIsNoticedOnceAfterTwo) {
    sim_.Enqueue(sim::Silence());
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_GE(ElapsedMs(start), 990);
    EXPECT_LT(ElapsedMs(start), 1000 + 300 * kSlack);
    unsigned char received[1024];
    EXPECT_EQ(GetReaderRecvData(received), 0);
    EXPECT_EQ(out_.Take(), Sent(kFindFrame));
    ASSERT_TRUE(out_.WaitFor(Gbk("超时未收到数据\n"), 1500));
    const long noticed = ElapsedMs(start);
    EXPECT_GE(noticed, 1990);
    EXPECT_LT(noticed, 2000 + 100 * kSlack);
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(out_.Take(), "");
}

TEST_F(ExchangeTest, LateAnswerDoesNotSatisfyTheNextCommand) {
    // The first answer comes after its command gave up, just after the
    // second command got its own answer.
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00"), 1080));
    sim_.Enqueue(sim::Answer(0x00, Hex("02 00")));
    sim_.Enqueue(sim::Answer(0x00, Hex("08 00"), 300));
    EXPECT_EQ(FindCard(), 0);
    EXPECT_EQ(FindCard(), 1);
    std::this_thread::sleep_for(200ms);  // the late answer arrives now
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 1);
    EXPECT_GE(ElapsedMs(start), 290) << "a left-over release woke the third command";
    unsigned char received[1024];
    ASSERT_EQ(GetReaderRecvData(received), 10);
    EXPECT_EQ(received[7], 0x08);
}

TEST_F(ExchangeTest, UploadDataAfterAGoodAnswerIsReportedAndWakesAWaitingCommand) {
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    ASSERT_EQ(FindCard(), 1);
    out_.Take();
    sim_.SendUnprompted(Hex("01 02 03"));
    ASSERT_TRUE(out_.WaitFor(Received(Hex("01 02 03")) + Gbk("  #↑收到上传数据\n"), 500));
    // Upload data is the only thing that arrives: it wakes the command.
    sim_.Enqueue(sim::Raw(Hex("0A 0B")));
    EXPECT_EQ(FindCard(), 1);
}

TEST_F(ExchangeTest, UploadDataAfterAFailedAnswerWakesNobody) {
    sim_.Enqueue(sim::Answer(0x01));
    EXPECT_EQ(FindCard(), 0);
    sim_.Enqueue(sim::Raw(Hex("01 02 03")));
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_GE(ElapsedMs(start), 990);
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(Hex("01 02 03")) + Gbk("  #↑收到上传数据\n"));
}

TEST_F(ExchangeTest, UploadDataBeforeAnyAnswerWakesTheFirstCommand) {
    sim_.Enqueue(sim::Raw(Hex("41")));
    EXPECT_EQ(FindCard(), 1);
}

TEST_F(ExchangeTest, IncompleteFrameIsDiscardedAndTheSessionGoesOn) {
    sim_.Enqueue(sim::Raw(Hex("55 55 00 00")));
    EXPECT_EQ(FindCard(), 0);
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(FindCard(), 1);
}

TEST_F(ExchangeTest, OverLongInputNeverOverrunsAndTheSessionRecovers) {
    sim::Bytes flood = Hex("55 55 00 00 FF FF 00");
    flood.resize(3000, 0xEE);
    sim_.Enqueue(sim::Raw(flood));
    EXPECT_EQ(FindCard(), 0);
    std::this_thread::sleep_for(1100ms);  // the no-answer notice empties the assembly
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(FindCard(), 1);
}

TEST_F(ExchangeTest, TooLongFrameDoesNotCompleteAndTheNextCommandWorks) {
    sim::Bytes over_long = sim::EncodeAnswer(0x00, Hex("04 00"));
    over_long.push_back(0x77);
    sim_.Enqueue(sim::Raw(over_long));
    EXPECT_EQ(FindCard(), 0);
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(FindCard(), 1);
}

}  // namespace
