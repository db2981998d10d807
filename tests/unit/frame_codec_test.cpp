// Command frames, answer assembly and answer evaluation: the pure code at the
// heart of every exchange.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "answer_assembly.h"
#include "frame.h"
#include "messages.h"
#include "reader_fixture.h"
#include "status.h"

using namespace zelkor;
using testing_support::Hex;

namespace {

sim::Bytes FrameBytes(const CommandFrame &frame) {
    return sim::Bytes(frame.data(), frame.data() + frame.size());
}

TEST(CommandFrameTest, LengthFieldCountsBodyAndChecksum) {
    CommandFrame empty(0x01, 0x02);
    ASSERT_TRUE(empty.Finish());
    EXPECT_EQ(FrameBytes(empty), Hex("55 55 00 00 00 03 01 02 00"));

    CommandFrame one(0x02, 0x03);
    one.Add(0x93);
    ASSERT_TRUE(one.Finish());
    EXPECT_EQ(FrameBytes(one), Hex("55 55 00 00 00 04 02 03 93 96"));
}

TEST(CommandFrameTest, LargestFrameFitsAndOneMoreByteIsRefused) {
    CommandFrame largest;
    for (int i = 0; i < kFrameCapacity - kFrameHeaderSize - 1; ++i) largest.Add(static_cast<unsigned char>(i));
    ASSERT_TRUE(largest.Finish());
    EXPECT_EQ(largest.size(), kFrameCapacity);
    EXPECT_EQ(largest.data()[4] * 256 + largest.data()[5], kFrameCapacity - kFrameHeaderSize);
    EXPECT_EQ(largest.data()[kFrameCapacity - 1], Checksum(largest.data(), kFrameCapacity - 1));

    CommandFrame too_long;
    for (int i = 0; i < kFrameCapacity; ++i) too_long.Add(0xAA);
    EXPECT_FALSE(too_long.Finish());
    EXPECT_EQ(too_long.size(), 0);
}

// Feeds the pieces one by one; returns after which piece the assembly
// reported completion (-1: never).
int CompletesAfter(AnswerAssembly &assembly, const std::vector<sim::Bytes> &pieces) {
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (assembly.Append(pieces[i].data(), static_cast<int>(pieces[i].size()))) return static_cast<int>(i);
    }
    return -1;
}

TEST(AnswerAssemblyTest, CompletesExactlyWhenTheAnnouncedLengthArrived) {
    struct Case {
        const char *name;
        std::vector<sim::Bytes> pieces;
        int completes_after;
    } cases[] = {
        {"one piece", {Hex("55 55 00 00 00 03 00 11 22")}, 0},
        {"split after the third byte", {Hex("55 55 00"), Hex("00 00 03 00 11 22")}, 1},
        {"byte by byte", {Hex("55"), Hex("55"), Hex("00"), Hex("00"), Hex("00"), Hex("03"), Hex("00"), Hex("11"), Hex("22")}, 8},
        {"header only", {Hex("55 55 00 00")}, -1},
        {"one start byte waits", {Hex("55")}, -1},
        {"upload data at once", {Hex("41")}, 0},
        {"55 then other byte is upload data", {Hex("55"), Hex("41")}, 1},
        {"more bytes than announced never complete", {Hex("55 55 00 00 00 03 00 11 22 33")}, -1},
        {"length field of zero", {Hex("55 55 00 00 00 00")}, 0},
    };
    for (const Case &c : cases) {
        AnswerAssembly assembly;
        EXPECT_EQ(CompletesAfter(assembly, c.pieces), c.completes_after) << c.name;
    }
}

TEST(AnswerAssemblyTest, NeverHoldsMoreThanItsBuffer) {
    AnswerAssembly assembly;
    std::vector<unsigned char> header = {0x55, 0x55, 0x00, 0x00, 0x03, 0xFF};  // announces 1023 bytes
    EXPECT_FALSE(assembly.Append(header.data(), 6));
    std::vector<unsigned char> chunk(1000, 0xAB);
    EXPECT_FALSE(assembly.Append(chunk.data(), 1000));
    EXPECT_EQ(assembly.size(), 1006);
    // A piece that would reach 1024 bytes is dropped whole.
    EXPECT_FALSE(assembly.Append(chunk.data(), 18));
    EXPECT_EQ(assembly.size(), 1006);
    EXPECT_FALSE(assembly.Append(chunk.data(), 17));
    EXPECT_EQ(assembly.size(), 1023);

    // A single read of a whole buffer fits in an empty assembly.
    AnswerAssembly full;
    std::vector<unsigned char> upload(kAssemblyCapacity, 0x01);
    EXPECT_TRUE(full.Append(upload.data(), kAssemblyCapacity));
    EXPECT_EQ(full.size(), kAssemblyCapacity);
    full.Clear();
    EXPECT_EQ(full.size(), 0);
    EXPECT_EQ(full.data()[0], 0);
}

TEST(EvaluateAnswerTest, StatusByteChoosesTheMessage) {
    struct Case {
        unsigned char status;
        int pending;
        bool success;
        Message message;
    } cases[] = {
        {0x00, 0x01, true, Message::kCount},
        {0x00, 0x1A, true, Message::kCount},
        {0x01, 0x01, false, Message::kStatusNoCard},
        {0x06, 0x10, false, Message::kStatusAuthError},
        {0x0B, 0x11, false, Message::kStatusNotAuthenticated},
        {0x0D, 0x11, false, Message::kStatusBadCardData},
        {0x1D, 0x11, false, Message::kStatusCardTimeout},
        {0x3C, 0x11, false, Message::kStatusReaderFault},
        {0x3D, 0x11, false, Message::kStatusUnsupportedByReader},
        {0x3E, 0x11, false, Message::kStatusBadParameters},
        {0x3F, 0x23, false, Message::kStatusCosActiveTwice},
        {0x40, 0x25, false, Message::kStatusCosNotActive},
        {0x41, 0x25, false, Message::kStatusUnsupportedByCard},
        {0x02, 0x01, false, Message::kStatusUndefined},
        {0xFF, 0x01, false, Message::kStatusUndefined},
        {0x06, 0x1A, false, Message::kKeyAFailed},
        {0x01, 0x1D, false, Message::kKeyAFailed},
        {0x06, 0x1B, false, Message::kKeyBFailed},
        {0x3E, 0x1E, false, Message::kKeyBFailed},
        {0x06, 0x10, false, Message::kStatusAuthError},
    };
    for (const Case &c : cases) {
        const sim::Bytes answer = sim::EncodeAnswer(c.status, Hex("11 22"));
        const AnswerVerdict v = EvaluateAnswer(answer.data(), static_cast<int>(answer.size()), c.pending);
        EXPECT_TRUE(v.is_frame);
        EXPECT_EQ(v.success, c.success) << int(c.status) << " pending " << c.pending;
        EXPECT_EQ(v.has_message, !c.success);
        if (!c.success) {
            EXPECT_EQ(v.message, c.message) << int(c.status) << " pending " << c.pending;
        }
    }
}

TEST(EvaluateAnswerTest, NonFramesAreUploadDataAndShortFramesFail) {
    const sim::Bytes upload = Hex("01 02 03");
    AnswerVerdict v = EvaluateAnswer(upload.data(), 3, 0x01);
    EXPECT_FALSE(v.is_frame);
    EXPECT_EQ(v.message, Message::kUploadData);

    const sim::Bytes no_status = Hex("55 55 00 00 00 00");
    v = EvaluateAnswer(no_status.data(), 6, 0x01);
    EXPECT_TRUE(v.is_frame);
    EXPECT_FALSE(v.success);
}

TEST(MessagesTest, EveryMessageIsTheGbkEncodingOfItsText) {
    for (int i = 0; i < static_cast<int>(Message::kCount); ++i) {
        const MessageText &text = Text(static_cast<Message>(i));
        const std::string expected = testing_support::Gbk(std::string(text.utf8));
        ASSERT_FALSE(expected.empty()) << text.utf8;
        EXPECT_EQ(std::string(text.gbk), expected) << text.utf8;
    }
}

}  // namespace
