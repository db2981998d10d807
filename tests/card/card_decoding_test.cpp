// Access conditions and value blocks decoded into words and numbers.
#include <gtest/gtest.h>

#include "card/access_conditions.h"
#include "card/card_layout.h"
#include "card/hex.h"
#include "card/value_block.h"

namespace zc = zelkor::card;
using zc::Access;

namespace {
zc::DecodedAccess Decode(const char *hex) { return zc::DecodeAccessBytes(*zc::ParseHex(hex)); }
}  // namespace

TEST(AccessConditions, DecodesConditionsPerPosition) {
    const struct {
        const char *bytes;
        zc::SectorConditions conditions;
        std::array<bool, 4> consistent;
        bool transport;
    } cases[] = {
        {"FF0780", {0, 0, 0, 1}, {true, true, true, true}, true},
        {"FF078069", {0, 0, 0, 1}, {true, true, true, true}, true},
        {"787788", {4, 4, 4, 3}, {true, true, true, true}, false},
        {"08778F", {6, 6, 6, 3}, {true, true, true, true}, false},
        {"7F0788", {0, 0, 0, 3}, {true, true, true, true}, false},
        {"FF0700", {0, 0, 0, 0}, {true, true, true, false}, false},
        {"FFFFFF", {7, 7, 7, 7}, {false, false, false, false}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        const zc::DecodedAccess d = Decode(c.bytes);
        EXPECT_EQ(d.conditions, c.conditions);
        EXPECT_EQ(d.position_consistent, c.consistent);
        EXPECT_EQ(d.transport, c.transport);
    }
    EXPECT_EQ(Decode("FF078069").user_byte, 0x69);
    EXPECT_FALSE(Decode("FF0780").user_byte.has_value());
    EXPECT_THROW(zc::DecodeAccessBytes(*zc::ParseHex("FF07")), std::invalid_argument);
    EXPECT_THROW(zc::DecodeAccessBytes(*zc::ParseHex("FF07806900")), std::invalid_argument);
}

TEST(AccessConditions, EveryEncodingDecodesBackConsistent) {
    for (int packed = 0; packed < 8 * 8 * 8 * 8; ++packed) {
        const zc::SectorConditions c = {static_cast<zc::Condition>(packed & 7), static_cast<zc::Condition>(packed >> 3 & 7),
                                        static_cast<zc::Condition>(packed >> 6 & 7), static_cast<zc::Condition>(packed >> 9 & 7)};
        const auto bytes = zc::EncodeAccessBytes(c);
        const zc::DecodedAccess d = zc::DecodeAccessBytes(bytes);
        ASSERT_TRUE(d.consistent()) << packed;
        ASSERT_EQ(d.conditions, c) << packed;
    }
}

TEST(AccessConditions, RightsInWords) {
    const struct {
        zc::Condition data, trailer;
        zc::DataRights rights;
    } data_cases[] = {
        {0, 3, {Access::KeyAOrB, Access::KeyAOrB, Access::KeyAOrB, Access::KeyAOrB}},
        // Key B readable (trailer 001): key B opens nothing.
        {0, 1, {Access::KeyA, Access::KeyA, Access::KeyA, Access::KeyA}},
        {3, 1, {Access::Never, Access::Never, Access::Never, Access::Never}},
        {4, 3, {Access::KeyAOrB, Access::KeyB, Access::Never, Access::Never}},
        {6, 3, {Access::KeyAOrB, Access::KeyB, Access::KeyB, Access::KeyAOrB}},
        {1, 3, {Access::KeyAOrB, Access::Never, Access::Never, Access::KeyAOrB}},
        {2, 3, {Access::KeyAOrB, Access::Never, Access::Never, Access::Never}},
        {5, 3, {Access::KeyB, Access::Never, Access::Never, Access::Never}},
        {7, 3, {Access::Never, Access::Never, Access::Never, Access::Never}},
    };
    for (const auto &c : data_cases) {
        SCOPED_TRACE(int(c.data) * 10 + c.trailer);
        const zc::DataRights r = zc::DataRightsOf(c.data, c.trailer);
        EXPECT_EQ(r.read, c.rights.read);
        EXPECT_EQ(r.write, c.rights.write);
        EXPECT_EQ(r.increment, c.rights.increment);
        EXPECT_EQ(r.decrement_transfer_restore, c.rights.decrement_transfer_restore);
    }
    // Trailer: key A write, access bits read and write, key B read and write;
    // key B readable; access bits writable again.
    const struct {
        zc::Condition trailer;
        Access key_a_write, bits_read, bits_write, key_b_read, key_b_write;
        bool key_b_readable, writable_again;
    } trailer_cases[] = {
        {0, Access::KeyA, Access::KeyA, Access::Never, Access::KeyA, Access::KeyA, true, false},
        {1, Access::KeyA, Access::KeyA, Access::KeyA, Access::KeyA, Access::KeyA, true, true},
        {2, Access::Never, Access::KeyA, Access::Never, Access::KeyA, Access::Never, true, false},
        {3, Access::KeyB, Access::KeyAOrB, Access::KeyB, Access::Never, Access::KeyB, false, true},
        {4, Access::KeyB, Access::KeyAOrB, Access::Never, Access::Never, Access::KeyB, false, false},
        {5, Access::Never, Access::KeyAOrB, Access::KeyB, Access::Never, Access::Never, false, true},
        {6, Access::Never, Access::KeyAOrB, Access::Never, Access::Never, Access::Never, false, false},
        {7, Access::Never, Access::KeyAOrB, Access::Never, Access::Never, Access::Never, false, false},
    };
    for (const auto &c : trailer_cases) {
        SCOPED_TRACE(int(c.trailer));
        const zc::TrailerRights r = zc::TrailerRightsOf(c.trailer);
        EXPECT_EQ(r.key_a_read, Access::Never);
        EXPECT_EQ(r.key_a_write, c.key_a_write);
        EXPECT_EQ(r.access_bits_read, c.bits_read);
        EXPECT_EQ(r.access_bits_write, c.bits_write);
        EXPECT_EQ(r.key_b_read, c.key_b_read);
        EXPECT_EQ(r.key_b_write, c.key_b_write);
        EXPECT_EQ(zc::KeyBReadable(c.trailer), c.key_b_readable);
        EXPECT_EQ(zc::AccessBitsWritableAgain(c.trailer), c.writable_again);
    }
    EXPECT_TRUE(zc::Allows(Access::KeyAOrB, zc::KeyType::B));
    EXPECT_FALSE(zc::Allows(Access::KeyA, zc::KeyType::B));
    EXPECT_FALSE(zc::Allows(Access::Never, zc::KeyType::A));
}

TEST(ValueBlock, DecodesValueAddressAndCopies) {
    const zc::Block thousand = {0xE8, 0x03, 0, 0, 0x17, 0xFC, 0xFF, 0xFF, 0xE8, 0x03, 0, 0, 5, 0xFA, 5, 0xFA};
    EXPECT_EQ(zc::EncodeValueBlock(1000, 5), thousand);
    const struct {
        int flip_byte;  // -1: none
        bool value_ok, address_ok;
    } cases[] = {{-1, true, true}, {0, false, true}, {4, false, true}, {11, false, true}, {12, true, false}, {15, true, false}};
    for (const auto &c : cases) {
        zc::Block b = thousand;
        if (c.flip_byte >= 0) b[static_cast<std::size_t>(c.flip_byte)] ^= 0x01;
        const zc::ValueBlockInfo info = zc::DecodeValueBlock(b);
        EXPECT_EQ(info.value_copies_match, c.value_ok) << c.flip_byte;
        EXPECT_EQ(info.address_copies_match, c.address_ok) << c.flip_byte;
        EXPECT_EQ(info.valid(), c.value_ok && c.address_ok) << c.flip_byte;
    }
    const zc::ValueBlockInfo negative = zc::DecodeValueBlock(zc::EncodeValueBlock(-7, 0x81));
    EXPECT_EQ(negative.value, -7);
    EXPECT_EQ(negative.address, 0x81);
    EXPECT_TRUE(negative.valid());
}

TEST(CardLayout, SectorsAndTrailersOfBothSizes) {
    const struct {
        int block, sector, position;
        bool trailer;
    } cases[] = {{0, 0, 0, false},   {3, 0, 3, true},    {127, 31, 3, true}, {128, 32, 0, false},
                 {133, 32, 1, false}, {142, 32, 2, false}, {143, 32, 3, true}, {255, 39, 3, true}};
    for (const auto &c : cases) {
        EXPECT_EQ(zc::SectorOfBlock(c.block), c.sector) << c.block;
        EXPECT_EQ(zc::AccessPositionOfBlock(c.block), c.position) << c.block;
        EXPECT_EQ(zc::IsTrailer(c.block), c.trailer) << c.block;
    }
    EXPECT_EQ(zc::TrailerBlock(39), 255);
    EXPECT_EQ(zc::FirstBlock(33), 144);
    EXPECT_EQ(zc::KindOfTypeCode(12), zc::CardKind::Classic4K);
    EXPECT_FALSE(zc::KindOfTypeCode(13).has_value());
}
