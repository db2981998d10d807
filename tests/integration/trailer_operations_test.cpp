// The composite trailer operations: two key checks, the read of the current
// access bytes, the pauses between them, and the write with the key that the
// trailer's access condition allows, for every condition n = 0..7.
#include <array>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/reader_fixture.h"
#include "zelkor.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

const sim::Bytes kKeyA = Hex("5A 3C 96 E1 0F 7B");
const sim::Bytes kKeyB = Hex("B0 B1 B2 B3 B4 B5");
const sim::Bytes kNewKeyA = Hex("11 22 33 44 55 66");
const sim::Bytes kNewAccess = Hex("FF 07 80 69");

sim::Bytes Join(std::initializer_list<sim::Bytes> parts) {
    sim::Bytes out;
    for (const sim::Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Consistent access bytes whose trailer bits C1 C2 C3 spell n; data blocks
// keep the transport condition 000.
sim::Bytes AccessFor(int n) {
    const unsigned c1 = (n >> 2) & 1, c2 = (n >> 1) & 1, c3 = n & 1;
    const unsigned b7_high = c1 << 3, b8 = (c3 << 7) | (c2 << 3);
    return {static_cast<std::uint8_t>(~((b8 << 4) | b7_high) & 0xFF),
            static_cast<std::uint8_t>((b7_high << 4) | ((~b8 >> 4) & 0x0F)),
            static_cast<std::uint8_t>(b8), 0x69};
}

enum class Op { kModifyKey, kModifyControl };

void PrintTo(Op op, std::ostream *os) { *os << (op == Op::kModifyKey ? "ModifyKey" : "ModifyControl"); }

struct Expected {
    std::uint8_t key_type;
    sim::Bytes auth_key;
};

Expected KeyFor(Op op, int n) {
    const sim::Bytes zeros(6, 0);
    if (op == Op::kModifyKey) {
        if (n == 0 || n == 1) return {0x60, kKeyA};
        if (n == 3 || n == 4) return {0x61, kKeyB};
        return {0x00, kKeyA};
    }
    if (n == 1) return {0x60, kKeyA};
    if (n == 3 || n == 5) return {0x61, kKeyB};
    return {0x00, zeros};
}

struct Scenario {
    Op op;
    int sector;
    sim::Bytes check_a, check_b, read, write;
};

Scenario Build(Op op, int n) {
    Scenario s{op, n % 2 == 0 ? 2 : 33, {}, {}, {}, {}};
    const std::uint8_t sec = static_cast<std::uint8_t>(s.sector);
    const std::uint8_t tb = s.sector < 32 ? 3 : 15;
    s.check_a = sim::EncodeCommand(0x03, 0x01, Join({{0x00, sec, tb, 0x60}, kKeyA}));
    s.check_b = sim::EncodeCommand(0x03, 0x01, Join({{0x00, sec, tb, 0x61}, kKeyB}));
    s.read = sim::EncodeCommand(0x03, 0x07, Join({{0x00, 0x00, sec, tb, 0x60}, kKeyA}));
    const Expected key = KeyFor(op, n);
    const sim::Bytes trailer = op == Op::kModifyKey ? Join({kNewKeyA, AccessFor(n), kKeyB})
                                                    : Join({kKeyA, kNewAccess, kKeyB});
    s.write = sim::EncodeCommand(0x03, 0x07, Join({{0x01, 0x00, sec, tb, key.key_type}, key.auth_key, trailer}));
    return s;
}

int RunOperation(Op op, int sector) {
    sim::Bytes new_a = kNewKeyA, a = kKeyA, b = kKeyB, access = kNewAccess;
    return op == Op::kModifyKey ? ModifyKey(sector, new_a.data(), a.data(), b.data())
                                : ModifyControl(sector, a.data(), b.data(), access.data());
}

class TrailerOperationTest : public SimulatedReaderTest,
                             public ::testing::WithParamInterface<std::tuple<Op, int>> {};

TEST_P(TrailerOperationTest, ChecksReadsPausesAndWritesWithTheAllowedKey) {
    const auto [op, n] = GetParam();
    const Scenario s = Build(op, n);
    // Key A is never readable: the card answers it as zeros.
    const sim::Bytes trailer_read = Join({sim::Bytes(6, 0), AccessFor(n), kKeyB});
    const sim::Bytes ok = sim::EncodeAnswer(0x00);
    const sim::Bytes read_answer = sim::EncodeAnswer(0x00, trailer_read);
    sim_.Enqueue(sim::Raw(ok));
    sim_.Enqueue(sim::Raw(ok));
    sim_.Enqueue(sim::Raw(read_answer));
    sim_.Enqueue(sim::Raw(ok));
    out_.Take();

    std::array<Clock::time_point, 4> arrived{};
    std::thread watcher([&] {
        for (std::size_t k = 0; k < arrived.size(); ++k) {
            if (!sim_.WaitForFrames(k + 1, 3000)) return;
            arrived[k] = Clock::now();
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(RunOperation(op, s.sector), 1);
    watcher.join();

    const std::vector<sim::Bytes> frames = sim_.Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(ToHex(frames[0]), ToHex(s.check_a));
    EXPECT_EQ(ToHex(frames[1]), ToHex(s.check_b));
    EXPECT_EQ(ToHex(frames[2]), ToHex(s.read));
    EXPECT_EQ(ToHex(frames[3]), ToHex(s.write));

    // Stamps are taken when the watcher wakes, never before a frame arrived:
    // only lower bounds on the time since the start are exact.
    const auto since_start = [&](std::size_t k) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(arrived[k] - start).count();
    };
    if (op == Op::kModifyKey) {
        EXPECT_GE(since_start(1), 50);
        EXPECT_GE(since_start(2), 100);
        EXPECT_GE(since_start(3), 150);
    } else {
        EXPECT_GE(since_start(1), 100);
        EXPECT_GE(since_start(2), 200);
        // No pause after the read: the write follows within one round trip.
        EXPECT_LT(since_start(3) - since_start(2), 95 * kSlack);
    }

    const auto sent = [](const sim::Bytes &f) { return "发送数据：" + ToHex(f) + "\n"; };
    const std::string got = "收到数据：" + ToHex(ok);
    EXPECT_EQ(out_.Take(),
              Gbk(sent(s.check_a) + got + "控制字校验成功\n" + sent(s.check_b) + got + "控制字校验成功\n" +
                  sent(s.read) + "收到数据：" + ToHex(read_answer) + "控制字读取成功\n" + sent(s.write) +
                  got + "密钥修改成功\n"));
}

INSTANTIATE_TEST_SUITE_P(AllConditions, TrailerOperationTest,
                         ::testing::Combine(::testing::Values(Op::kModifyKey, Op::kModifyControl),
                                            ::testing::Range(0, 8)),
                         [](const auto &instance) {
                             return std::string(std::get<0>(instance.param) == Op::kModifyKey ? "ModifyKey"
                                                                                           : "ModifyControl") +
                                    "_n" + std::to_string(std::get<1>(instance.param));
                         });

// A failing step ends the operation there: nothing further is sent or written.
class TrailerOperationFailureTest : public SimulatedReaderTest,
                                    public ::testing::WithParamInterface<std::tuple<Op, int>> {};

TEST_P(TrailerOperationFailureTest, StopsAtTheFailedStep) {
    const auto [op, failing] = GetParam();
    const Scenario s = Build(op, 1);
    const sim::Bytes answers[4] = {sim::EncodeAnswer(0x00), sim::EncodeAnswer(0x00),
                                   sim::EncodeAnswer(0x00, Join({sim::Bytes(6, 0), AccessFor(1), kKeyB})),
                                   sim::EncodeAnswer(0x00)};
    for (int k = 0; k < failing; ++k) sim_.Enqueue(sim::Raw(answers[k]));
    sim_.Enqueue(sim::Answer(0x06));
    out_.Take();
    EXPECT_EQ(RunOperation(op, s.sector), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(sim_.FrameCount(), static_cast<std::size_t>(failing + 1));
    const std::string out = out_.Take();
    static const char *const kMessages[4] = {"  #↑密钥A验证失败！\n", "  #↑密钥B验证失败！\n",
                                             "  #↑M1卡密钥认证出错\n", "  #↑M1卡密钥认证出错\n"};
    EXPECT_NE(out.find(Gbk(kMessages[failing])), std::string::npos);
    EXPECT_EQ(out.find(Gbk("密钥修改成功")), std::string::npos);
}

std::string StepName(const ::testing::TestParamInfo<std::tuple<Op, int>> &instance) {
    static const char *const kSteps[4] = {"CheckA", "CheckB", "Read", "Write"};
    return std::string(std::get<0>(instance.param) == Op::kModifyKey ? "ModifyKey" : "ModifyControl") + "_" +
           kSteps[std::get<1>(instance.param)];
}

INSTANTIATE_TEST_SUITE_P(EachStep, TrailerOperationFailureTest,
                         ::testing::Combine(::testing::Values(Op::kModifyKey, Op::kModifyControl),
                                            ::testing::Range(0, 4)),
                         StepName);

}  // namespace
