// Command frames, answer assembly and answer evaluation: the pure code at the
// heart of every exchange.
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "reader/answer_assembly.h"
#include "reader/frame.h"
#include "reader/messages.h"
#include "tests/support/reader_fixture.h"
#include "reader/status.h"

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

// Feeds the reads one by one and lists every piece the assembly hands out as
// "F:<hex>" (frame) or "U:<hex>" (upload data), then "held:<hex>" for what it
// keeps for the next read.
std::vector<std::string> PiecesOf(AnswerAssembly &assembly, const std::vector<sim::Bytes> &reads) {
    std::vector<std::string> out;
    for (const sim::Bytes &read : reads) {
        int offset = 0;
        const int count = static_cast<int>(read.size());
        for (;;) {
            Piece piece;
            while (assembly.Next(&piece)) {
                out.push_back((piece.kind == PieceKind::kFrame ? "F:" : "U:") +
                              testing_support::ToHex(sim::Bytes(piece.bytes, piece.bytes + piece.length)));
            }
            if (offset == count) break;
            const int taken = assembly.Append(read.data() + offset, count - offset);
            offset = taken == 0 ? count : offset + taken;
        }
    }
    out.push_back("held:" + testing_support::ToHex(sim::Bytes(assembly.data(), assembly.data() + assembly.size())));
    return out;
}

TEST(AnswerAssemblyTest, SplitsTheStreamIntoFramesAndUploadData) {
    using V = std::vector<std::string>;
    const std::string ok = "55 55 00 00 00 03 00 11 22 ";
    const std::string refused = "55 55 00 00 00 02 0B 09 ";
    struct Case {
        const char *name;
        std::vector<sim::Bytes> reads;
        V pieces;
    } cases[] = {
        {"one piece", {Hex(ok)}, {"F:" + ok, "held:"}},
        {"split after the third byte", {Hex("55 55 00"), Hex("00 00 03 00 11 22")}, {"F:" + ok, "held:"}},
        {"byte by byte",
         {Hex("55"), Hex("55"), Hex("00"), Hex("00"), Hex("00"), Hex("03"), Hex("00"), Hex("11"), Hex("22")},
         {"F:" + ok, "held:"}},
        {"header only", {Hex("55 55 00 00")}, {"held:55 55 00 00 "}},
        {"one start byte waits", {Hex("55")}, {"held:55 "}},
        {"upload data at once", {Hex("41")}, {"U:41 ", "held:"}},
        {"55 then other byte is upload data", {Hex("55"), Hex("41")}, {"U:55 41 ", "held:"}},
        {"length field of zero", {Hex("55 55 00 00 00 00")}, {"F:55 55 00 00 00 00 ", "held:"}},
        {"bytes after a frame stay for the next piece", {Hex(ok + "33")}, {"F:" + ok, "U:33 ", "held:"}},
        {"a stray byte before a refusal", {Hex("00 " + refused)}, {"U:00 ", "F:" + refused, "held:"}},
        {"a stray byte after an answer, then a refusal", {Hex(ok + "00"), Hex(refused)},
         {"F:" + ok, "U:00 ", "F:" + refused, "held:"}},
        {"stray 55 before a frame", {Hex("55 " + ok)}, {"U:55 ", "F:" + ok, "held:"}},
        {"stray 55s split before a frame", {Hex("55 55"), Hex("55 " + ok)}, {"U:55 55 55 ", "F:" + ok, "held:"}},
        {"two frames in one read", {Hex(ok + refused)}, {"F:" + ok, "F:" + refused, "held:"}},
        {"a frame with the first byte of the next", {Hex(ok + "55"), Hex(refused.substr(3))},
         {"F:" + ok, "F:" + refused, "held:"}},
        {"garbage between glued frames", {Hex(ok + "A5 5A 13 " + refused)},
         {"F:" + ok, "U:A5 5A 13 ", "F:" + refused, "held:"}},
        {"upload data ending in a start byte", {Hex("A5 55"), Hex("55 00 00 00 02 0B 09")},
         {"U:A5 ", "F:" + refused, "held:"}},
    };
    for (const Case &c : cases) {
        AnswerAssembly assembly;
        EXPECT_EQ(PiecesOf(assembly, c.reads), c.pieces) << c.name;
    }
}

TEST(AnswerAssemblyTest, EverySplitOfTwoGluedFramesGivesBothFrames) {
    const sim::Bytes glued = Hex("55 55 00 00 00 03 00 11 22 55 55 00 00 00 07 00 04 E1 E2 E3 E4 F0");
    for (std::size_t cut = 0; cut <= glued.size(); ++cut) {
        AnswerAssembly assembly;
        const std::vector<std::string> pieces =
            PiecesOf(assembly, {sim::Bytes(glued.begin(), glued.begin() + static_cast<long>(cut)),
                                sim::Bytes(glued.begin() + static_cast<long>(cut), glued.end())});
        EXPECT_EQ(pieces, (std::vector<std::string>{"F:55 55 00 00 00 03 00 11 22 ",
                                                     "F:55 55 00 00 00 07 00 04 E1 E2 E3 E4 F0 ", "held:"}))
            << "cut at " << cut;
    }
}

TEST(AnswerAssemblyTest, NeverHoldsMoreThanItsBuffer) {
    AnswerAssembly assembly;
    std::vector<unsigned char> header = {0x55, 0x55, 0x00, 0x00, 0x0B, 0xB8};  // announces 3000 bytes
    EXPECT_EQ(assembly.Append(header.data(), 6), 6);
    std::vector<unsigned char> chunk(1000, 0xAB);
    EXPECT_EQ(assembly.Append(chunk.data(), 1000), 1000);
    EXPECT_EQ(assembly.size(), 1006);
    // Only what fits is taken; the frame can never complete.
    EXPECT_EQ(assembly.Append(chunk.data(), 1000), kAssemblyCapacity - 1006);
    EXPECT_EQ(assembly.Append(chunk.data(), 1000), 0);
    EXPECT_EQ(assembly.size(), kAssemblyCapacity);
    Piece piece;
    EXPECT_FALSE(assembly.Next(&piece));

    // A whole buffer of upload data comes out as one piece, and room is back.
    AnswerAssembly full;
    std::vector<unsigned char> upload(kAssemblyCapacity, 0x01);
    EXPECT_EQ(full.Append(upload.data(), kAssemblyCapacity), kAssemblyCapacity);
    ASSERT_TRUE(full.Next(&piece));
    EXPECT_EQ(piece.kind, PieceKind::kUpload);
    EXPECT_EQ(piece.length, kAssemblyCapacity);
    EXPECT_EQ(full.size(), 0);
    EXPECT_EQ(full.Append(upload.data(), 10), 10);
    full.Clear();
    EXPECT_EQ(full.size(), 0);
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
