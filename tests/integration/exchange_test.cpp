// The exchange as a caller sees it: frames on the wire, answers in one piece
// or several, and the trace on standard output.
#include <thread>

#include "reader_fixture.h"
#include "zelkor.h"

using namespace testing_support;

namespace {

class ExchangeTest : public SimulatedReaderTest {};

TEST_F(ExchangeTest, GoodAnswerTracesBothFramesAndSucceedsQuickly) {
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 1);
    EXPECT_LT(ElapsedMs(start), 50);
    ASSERT_EQ(sim_.Frames().size(), 1u);
    EXPECT_EQ(sim_.Frames()[0], Hex("55 55 00 00 00 04 02 01 26 21"));
    EXPECT_EQ(out_.Take(), Gbk("发送数据：55 55 00 00 00 04 02 01 26 21 \n"
                               "收到数据：55 55 00 00 00 04 00 04 00 00 寻卡成功\n"));
}

}  // namespace
