#include <gtest/gtest.h>

#include "sim/access_conditions.h"

namespace {

using sim::DataOp;
using sim::KeyKind;
using sim::TrailerOp;

// "-", "A", "B" or "AB" for who may do `op`.
template <typename Op, typename F>
std::string Who(F allowed, sim::Condition c, Op op) {
    std::string s;
    if (allowed(c, op, KeyKind::A)) s += "A";
    if (allowed(c, op, KeyKind::B)) s += "B";
    return s.empty() ? "-" : s;
}

struct DataRow {
    const char *bits;  // C1 C2 C3
    const char *read, *write, *increment, *decrement;
};

int Number(const char *bits) { return (bits[0] - '0') * 4 + (bits[1] - '0') * 2 + (bits[2] - '0'); }

TEST(AccessConditions, DataBlockTable) {
    const DataRow rows[] = {
        {"000", "AB", "AB", "AB", "AB"}, {"010", "AB", "-", "-", "-"},  {"100", "AB", "B", "-", "-"},
        {"110", "AB", "B", "B", "AB"},   {"001", "AB", "-", "-", "AB"}, {"011", "B", "B", "-", "-"},
        {"101", "B", "-", "-", "-"},     {"111", "-", "-", "-", "-"},
    };
    for (const DataRow &row : rows) {
        const auto c = static_cast<sim::Condition>(Number(row.bits));
        SCOPED_TRACE(row.bits);
        EXPECT_EQ(Who(sim::DataAllowed, c, DataOp::Read), row.read);
        EXPECT_EQ(Who(sim::DataAllowed, c, DataOp::Write), row.write);
        EXPECT_EQ(Who(sim::DataAllowed, c, DataOp::Increment), row.increment);
        EXPECT_EQ(Who(sim::DataAllowed, c, DataOp::Decrement), row.decrement);
    }
}

struct TrailerRow {
    const char *bits;
    const char *key_a_write, *access_read, *access_write, *key_b_read, *key_b_write;
    bool key_b_readable;
};

TEST(AccessConditions, TrailerTable) {
    const TrailerRow rows[] = {
        {"000", "A", "A", "-", "A", "A", true},     {"010", "-", "A", "-", "A", "-", true},
        {"100", "B", "AB", "-", "-", "B", false},   {"110", "-", "AB", "-", "-", "-", false},
        {"001", "A", "A", "A", "A", "A", true},     {"011", "B", "AB", "B", "-", "B", false},
        {"101", "-", "AB", "B", "-", "-", false},   {"111", "-", "AB", "-", "-", "-", false},
    };
    for (const TrailerRow &row : rows) {
        const auto c = static_cast<sim::Condition>(Number(row.bits));
        SCOPED_TRACE(row.bits);
        EXPECT_EQ(Who(sim::TrailerAllowed, c, TrailerOp::ReadKeyA), "-");  // never readable
        EXPECT_EQ(Who(sim::TrailerAllowed, c, TrailerOp::WriteKeyA), row.key_a_write);
        EXPECT_EQ(Who(sim::TrailerAllowed, c, TrailerOp::ReadAccess), row.access_read);
        EXPECT_EQ(Who(sim::TrailerAllowed, c, TrailerOp::WriteAccess), row.access_write);
        EXPECT_EQ(Who(sim::TrailerAllowed, c, TrailerOp::ReadKeyB), row.key_b_read);
        EXPECT_EQ(Who(sim::TrailerAllowed, c, TrailerOp::WriteKeyB), row.key_b_write);
        EXPECT_EQ(sim::KeyBReadable(c), row.key_b_readable);
        EXPECT_TRUE(sim::KeyGrantsAccess(c, KeyKind::A));
        EXPECT_EQ(sim::KeyGrantsAccess(c, KeyKind::B), !row.key_b_readable);
    }
}

TEST(AccessConditions, TransportBytesDecode) {
    const std::uint8_t bytes[] = {0xFF, 0x07, 0x80};
    const auto c = sim::DecodeAccessBytes(bytes);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(*c, (sim::SectorConditions{0, 0, 0, 1}));
}

// Every combination of conditions survives encoding and decoding, and the
// trailer's own bits sit where the library reads them (C1 bit 7 of byte 7,
// C2 bit 3 and C3 bit 7 of byte 8).
TEST(AccessConditions, EncodeDecodeAllCombinations) {
    for (int n = 0; n < 4096; ++n) {
        const sim::SectorConditions c{static_cast<sim::Condition>(n & 7), static_cast<sim::Condition>(n >> 3 & 7),
                                      static_cast<sim::Condition>(n >> 6 & 7), static_cast<sim::Condition>(n >> 9 & 7)};
        const auto bytes = sim::EncodeAccessBytes(c);
        const auto back = sim::DecodeAccessBytes(bytes.data());
        ASSERT_TRUE(back.has_value()) << n;
        ASSERT_EQ(*back, c) << n;
        const int trailer = (bytes[1] >> 7 & 1) * 4 + (bytes[2] >> 3 & 1) * 2 + (bytes[2] >> 7 & 1);
        ASSERT_EQ(trailer, c[3]) << n;
    }
}

TEST(AccessConditions, AnyFlippedBitIsInconsistent) {
    const auto good = sim::EncodeAccessBytes({0, 2, 6, 3});
    for (int byte = 0; byte < 3; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            auto bad = good;
            bad[static_cast<std::size_t>(byte)] ^= static_cast<std::uint8_t>(1 << bit);
            EXPECT_FALSE(sim::DecodeAccessBytes(bad.data()).has_value()) << byte << ":" << bit;
        }
    }
}

}  // namespace
