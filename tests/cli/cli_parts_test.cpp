// Parts of the command-line program that a run against the simulator does
// not show: the trace's GBK conversion across chunk borders, the progress
// line's time estimate, and the port argument.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "card/hex.h"
#include "cli/decode_text.h"

#include "capture/gbk_decoder.h"
#include "cli/progress_display.h"
#include "cli/reader_access.h"

namespace {

using namespace std::chrono_literals;
using zelkor::capture::GbkToUtf8;

const std::string kGbkSent = "\xB7\xA2\xCB\xCD\xCA\xFD\xBE\xDD";  // 发送数据
const std::string kUtf8Sent = "发送数据";

TEST(TraceConversion, ACharacterSplitBetweenChunksIsJoined) {
    for (std::size_t split = 0; split <= kGbkSent.size(); ++split) {
        GbkToUtf8 decoder;
        std::string out = decoder.Convert(kGbkSent.substr(0, split));
        out += decoder.Convert(kGbkSent.substr(split));
        out += decoder.Finish();
        EXPECT_EQ(out, kUtf8Sent) << "split at " << split;
    }
}

TEST(TraceConversion, BytesThatAreNotGbkBecomeReplacementCharacters) {
    GbkToUtf8 decoder;
    EXPECT_EQ(decoder.Convert("ok\xFF!"), "ok\xEF\xBF\xBD!");
    EXPECT_EQ(decoder.Convert("\xB7"), "");  // a lead byte waits for its partner
    EXPECT_EQ(decoder.Finish(), "\xEF\xBF\xBD");
}

TEST(ProgressLine, EstimatesTheTimeLeftFromThePaceSoFar) {
    struct Case {
        int done;
        int total;
        std::chrono::milliseconds elapsed;
        std::string expected;
    };
    const Case cases[] = {
        {0, 64, 0ms, "dump: 0/64, 0 %"},
        {16, 64, 4000ms, "dump: 16/64, 25 %, about 12 s left"},
        {1, 4, 30000ms, "dump: 1/4, 25 %, about 1 min 30 s left"},
        {1, 100, 60000ms, "dump: 1/100, 1 %, about 1 h 39 min left"},
        {64, 64, 9000ms, "dump: 64/64, 100 %"},
        {70, 64, 9000ms, "dump: 70/64, 100 %"},
        {3, 0, 1000ms, "dump: 3/0"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(zelkor::cli::FormatProgress(zelkor::card::Stage::Dump, c.done, c.total, c.elapsed), c.expected);
    }
}

TEST(ProgressLine, InChineseNamesTheStageAndTheTimeLeftInParvexsWords) {
    using zelkor::words::Language;
    const struct {
        zelkor::card::Stage stage;
        int done;
        std::chrono::milliseconds elapsed;
        std::string expected;
    } cases[] = {
        {zelkor::card::Stage::KeySearch, 0, 0ms, "搜索密钥：0/64，0 %"},
        {zelkor::card::Stage::Dump, 16, 4000ms, "读整卡：16/64，25 %，大约还需 12 秒"},
        {zelkor::card::Stage::Restore, 1, 120000ms, "写整卡：1/64，1 %，大约还需 2 小时 06 分"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(zelkor::cli::FormatProgress(c.stage, c.done, 64, c.elapsed, Language::Chinese), c.expected);
    }
}

TEST(PortArgument, NumbersAndDevicePaths) {
    using zelkor::cli::ParsePortArgument;
    EXPECT_EQ(ParsePortArgument("7").number, 7);
    EXPECT_EQ(ParsePortArgument("COM12").number, 12);
    EXPECT_EQ(ParsePortArgument("ttyUSB0").device, "/dev/ttyUSB0");
    EXPECT_EQ(ParsePortArgument("/dev/serial/by-id/usb-x").device, "/dev/serial/by-id/usb-x");
    EXPECT_THROW(ParsePortArgument("0"), zelkor::cli::UsageError);
    EXPECT_THROW(ParsePortArgument(""), zelkor::cli::UsageError);
}

}  // namespace

TEST(DecodeTables, NameTransportInconsistentAndFrozenValuesInBothLanguages) {
    using zelkor::cli::AccessText;
    using zelkor::words::Language;
    namespace zc = zelkor::card;
    const auto decode = [](const char *hex) {
        return zc::DecodeAccessBytes(*zc::ParseHex(hex));
    };
    const std::string transport = AccessText(decode("FF078069"), false, Language::English);
    EXPECT_NE(transport.find("Transport configuration (FF0780)"), std::string::npos);
    EXPECT_NE(transport.find("User byte (GPB): 69"), std::string::npos);
    EXPECT_NE(transport.find("block 0"), std::string::npos);
    const std::string bad = AccessText(decode("FF0700"), true, Language::English);
    EXPECT_NE(bad.find("INCONSISTENT"), std::string::npos);
    EXPECT_NE(bad.find("(trailer)"), std::string::npos);
    EXPECT_EQ(bad.find("Consistent"), std::string::npos);
    const auto frozen = zc::DecodeAccessBytes(zc::EncodeAccessBytes({4, 4, 4, 6}));
    const std::string big = AccessText(frozen, true, Language::English);
    EXPECT_NE(big.find("blocks 5-9"), std::string::npos);
    EXPECT_NE(big.find("The access bits can never"), std::string::npos) << big;
    EXPECT_NE(AccessText(frozen, true, Language::Chinese).find("控制字再也不能修改"), std::string::npos);
    const zc::ValueBlockInfo broken = zc::DecodeValueBlock(zc::Block{});
    EXPECT_NE(zelkor::cli::ValueBlockText(broken, Language::English).find("NOT a valid"), std::string::npos);
    EXPECT_NE(zelkor::cli::ValueBlockText(broken, Language::Chinese).find("不是有效的数值块"), std::string::npos);
}
