// The exchange as a caller sees it: frames on the wire, answers in one piece
// or several, status messages, time-outs, late answers and upload data.
#include <algorithm>
#include <cctype>
#include <thread>
#include <vector>

#include "tests/support/reader_fixture.h"
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
    EXPECT_LT(ElapsedMs(start), 900);
    ASSERT_EQ(sim_.Frames().size(), 1u);
    EXPECT_EQ(sim_.Frames()[0], Hex(kFindFrame));
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(Hex("55 55 00 00 00 04 00 04 00 00")) + Gbk("寻卡成功\n"));

    unsigned char sent[256] = {};
    ASSERT_EQ(GetReaderSendCmd(sent), 10);
    EXPECT_EQ(sim::Bytes(sent, sent + 10), Hex(kFindFrame));
}

// The receive thread waits on the port rather than polling it every 50 ms.
// Polling would put a quarter of the calls above 12 ms; on a busy machine some
// calls are slow anyway, so the lower quarter is what tells the two apart.
TEST_F(ExchangeTest, CommandAnsweredAtOnceReturnsWellWithinAPollPeriod) {
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
    EXPECT_LT(micros[micros.size() / 4], 6000 * kSlack) << "lower quartile in microseconds";
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

std::string StatusName(unsigned char status) {
    char name[16];
    std::snprintf(name, sizeof name, "Status%02X", status);
    return name;
}

void PrintTo(const StatusCase &c, std::ostream *os) { *os << StatusName(c.status); }

class StatusMessageTest : public SimulatedReaderTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusMessageTest, ErrorStatusPrintsItsMessageAndFailsAtOnce) {
    const StatusCase c = GetParam();
    const sim::Bytes answer = sim::EncodeAnswer(c.status, Hex("00"));
    sim_.Enqueue(sim::Raw(answer));
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 0);
    // The refusal ends the wait: the command does not sit out its 1000 ms,
    // and its answer's line is complete when it returns.
    EXPECT_LT(ElapsedMs(start), 900);
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(answer) + Gbk(c.message));
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
                      StatusCase{0x99, "  #↑未定义错误代码\n"}),
    [](const auto &instance) { return StatusName(instance.param.status); });

TEST_F(ExchangeTest, ErrorStatusTraceIsOneLineAndNoNoAnswerNoticeFollows) {
    const sim::Bytes answer = sim::EncodeAnswer(0x01);
    sim_.Enqueue(sim::Raw(answer));
    out_.Take();
    EXPECT_EQ(FindCard(), 0);
    std::this_thread::sleep_for(2200ms);  // past the 2000 ms notice
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(answer) + Gbk("  #↑读卡器周围无卡\n"));
}

TEST_F(ExchangeTest, MissingAnswerFailsAfterOneSecondAndIsNoticedOnceAfterTwo) {
    sim_.Enqueue(sim::Silence());
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_GE(ElapsedMs(start), 990);
    EXPECT_LT(ElapsedMs(start), 1000 + kBusyMarginMs);
    unsigned char received[1024];
    EXPECT_EQ(GetReaderRecvData(received), 0);
    EXPECT_EQ(out_.Take(), Sent(kFindFrame));
    ASSERT_TRUE(out_.WaitFor(Gbk("超时未收到数据\n"), 3000));
    const long noticed = ElapsedMs(start);
    EXPECT_GE(noticed, 1990);
    EXPECT_LT(noticed, 2000 + kBusyMarginMs);
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(out_.Take(), "");
}

TEST_F(ExchangeTest, LateAnswerIsTracedBeforeTheNextSendAndNeverTakenForItsAnswer) {
    // The first answer comes after its command gave up; the next command
    // sends only once it was traced, and gets its own answer.
    const sim::Bytes late = sim::EncodeAnswer(0x00, Hex("04 00"));
    const sim::Bytes own = sim::EncodeAnswer(0x00, Hex("02 00"));
    sim_.Enqueue(sim::Raw(late, 1300));
    sim_.Enqueue(sim::Raw(own));
    out_.Take();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_EQ(FindCard(), 1);
    unsigned char received[1024];
    ASSERT_EQ(GetReaderRecvData(received), 10);
    EXPECT_EQ(received[7], 0x02);
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Received(late) + Sent(kFindFrame) + Received(own) +
                               Gbk("寻卡成功\n"));
}

// A command that gave up, then another command whose answer differs: the
// second one must see its own answer, whatever the first one's brings.
TEST_F(ExchangeTest, LateAnswersOfAnotherCommandAreDropped) {
    const sim::Bytes block4 = sim::EncodeAnswer(0x00, Hex("44444444444444444444444444444444"));
    const sim::Bytes block8 = sim::EncodeAnswer(0x00, Hex("88888888888888888888888888888888"));
    unsigned char data[16] = {};
    sim_.Enqueue(sim::Raw(block4, 1300));
    sim_.Enqueue(sim::Raw(block8));
    EXPECT_EQ(ReadBlock(0, 0, 4, 11, data), 0);
    ASSERT_EQ(ReadBlock(0, 0, 8, 11, data), 1);
    EXPECT_EQ(data[0], 0x88);

    // A refused write after a write whose good answer came late.
    unsigned char block[16] = {};
    sim_.Enqueue(sim::Answer(0x00, {}, 1300));
    sim_.Enqueue(sim::Answer(0x0B));
    EXPECT_EQ(WriteBlock(0, 0, 4, 11, block), 0);
    EXPECT_EQ(WriteBlock(0, 0, 4, 11, block), 0);

    // An answer that never comes: the next send waits out the no-answer
    // window once, then the session goes on.
    sim_.Enqueue(sim::Silence());
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    out_.Take();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_EQ(FindCard(), 1);
    EXPECT_EQ(out_.Take(), Sent(kFindFrame) + Gbk("超时未收到数据\n") + Sent(kFindFrame) +
                               Received(sim::EncodeAnswer(0x00, Hex("04 00"))) + Gbk("寻卡成功\n"));
}

TEST_F(ExchangeTest, UploadDataAfterAGoodAnswerIsReportedButAnswersNoCommand) {
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    ASSERT_EQ(FindCard(), 1);
    out_.Take();
    sim_.SendUnprompted(Hex("01 02 03"));
    ASSERT_TRUE(out_.WaitFor(Received(Hex("01 02 03")) + Gbk("  #↑收到上传数据\n"), 3000));
    // Upload data is the only thing that arrives: the command fails.
    sim_.Enqueue(sim::Raw(Hex("0A 0B")));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_GE(ElapsedMs(start), 990);
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

TEST_F(ExchangeTest, UploadDataBeforeAnyAnswerAnswersNoCommand) {
    sim_.Enqueue(sim::Raw(Hex("41")));
    EXPECT_EQ(FindCard(), 0);
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
    // The next send waits for the no-answer notice, which empties the assembly.
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(FindCard(), 1);
}

// Stray bytes around answers, and answers glued together in one read: each
// answer frame is judged on its own and upload data decides nothing.
struct StreamCase {
    const char *name;
    std::vector<sim::Bytes> pieces;  // written 20 ms apart
    int result;                      // FindCard's
    const char *upload;              // upload data reported, or ""
};

void PrintTo(const StreamCase &c, std::ostream *os) { *os << c.name; }

class StreamTest : public SimulatedReaderTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamTest, EachAnswerFrameIsJudgedOnItsOwn) {
    const StreamCase c = GetParam();
    sim::Reaction r;
    for (const sim::Bytes &p : c.pieces) r.pieces.push_back({r.pieces.empty() ? 0 : 20, p});
    sim_.Enqueue(r);
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), c.result);
    // Every case ends in a frame, so no case waits out the 1000 ms.
    EXPECT_LT(ElapsedMs(start), 900);
    if (*c.upload != 0) {
        EXPECT_TRUE(out_.WaitFor(Received(Hex(c.upload)) + Gbk("  #↑收到上传数据\n"), 3000));
    }
    // The session goes on with the next answer, once the line is quiet:
    // bytes still on their way when the next send flushes the input can be
    // held back by the pseudo-terminal until its next write.
    for (int i = 0; i < 400 && sim_.PendingOutgoing() > 0; ++i) std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(30ms);
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(FindCard(), 1);
}

const sim::Bytes kGood = sim::EncodeAnswer(0x00, Hex("04 00"));
const sim::Bytes kRefusal = Hex("55 55 00 00 00 02 0B 09");

sim::Bytes Cat(std::initializer_list<sim::Bytes> parts) {
    sim::Bytes out;
    for (const sim::Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    StrayAndGlued, StreamTest,
    ::testing::Values(
        StreamCase{"stray byte then refusal, one read", {Cat({Hex("00"), kRefusal})}, 0, "00"},
        StreamCase{"stray byte then refusal, two reads", {Hex("00"), kRefusal}, 0, "00"},
        StreamCase{"stray bytes then good answer, one read", {Cat({Hex("A5 5A 13 37"), kGood})}, 1, "A5 5A 13 37"},
        StreamCase{"stray 55 then good answer", {Cat({Hex("55"), kGood})}, 1, "55"},
        StreamCase{"good answer with a stray byte after it", {Cat({kGood, Hex("77")})}, 1, "77"},
        StreamCase{"refusal with a stray byte after it", {Cat({kRefusal, Hex("77")})}, 0, "77"},
        StreamCase{"good answer glued to a refusal", {Cat({kGood, kRefusal})}, 1, ""},
        StreamCase{"refusal glued to a good answer", {Cat({kRefusal, kGood})}, 0, ""},
        StreamCase{"good answer with the first byte of the next", {Cat({kGood, Hex("55")}), Hex("55 00 00 00 02 0B 09")}, 1, ""},
        StreamCase{"garbage between glued frames", {Cat({Hex("13"), kRefusal, Hex("A5 5A"), kGood})}, 0, "13"}),
    [](const auto &instance) {
        std::string name;
        for (const char *p = instance.param.name; *p != 0; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST_F(ExchangeTest, ManualCardTakesBothOfItsAnswersFromOneRead) {
    const sim::Bytes ack = sim::EncodeAnswer(0x00, Hex("00"));
    const sim::Bytes card = sim::EncodeAnswer(0x00, Hex("04 E1 E2 E3 E4"));
    for (const sim::Bytes &glued : {Cat({ack, card}), Cat({Hex("A5"), ack, Hex("5A"), card})}) {
        sim_.Enqueue(sim::Raw(glued));
        card_info info{};
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(ManualCard(&info), 1);
        EXPECT_LT(ElapsedMs(start), 900);
        EXPECT_EQ(info.card_type, 11);
        EXPECT_EQ(info.uid[0], 0xE1);
        EXPECT_EQ(info.uid[3], 0xE4);
    }
    // A refused search ends ManualCard at once.
    sim_.Enqueue(sim::Answer(0x01));
    card_info info{};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ManualCard(&info), 0);
    EXPECT_LT(ElapsedMs(start), 900);
}

}  // namespace
