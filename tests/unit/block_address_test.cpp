// Block addressing of the MIFARE Classic commands: address bytes, capacity
// check, trailer guard, key-type byte and the trailer's access number.
#include <cstring>

#include <gtest/gtest.h>

#include "reader/block_address.h"

using namespace zelkor;

namespace {

struct AddressCase {
    int mode, sector, block, card_type;
    bool sendable;  // passes address building and capacity check
    bool trailer;   // refused by the trailer guard of writes and wallets
};

// "Absolute_block63_type11", "Relative_sector5_block3_type11", "Mode5_...":
// negative numbers are written with an "m" (minus).
std::string CaseName(const AddressCase &c) {
    auto number = [](int n) { return n < 0 ? "m" + std::to_string(-n) : std::to_string(n); };
    std::string name = c.mode == 0 ? "Absolute" : c.mode == 1 ? "Relative" : "Mode" + number(c.mode);
    if (c.mode != 0 || c.sector != -1) name += "_sector" + number(c.sector);
    return name + "_block" + number(c.block) + "_type" + number(c.card_type);
}

void PrintTo(const AddressCase &c, std::ostream *os) { *os << CaseName(c); }

class BlockAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(BlockAddressTest, CapacityAndTrailerGuard) {
    const AddressCase &c = GetParam();
    BlockAddress address;
    ASSERT_EQ(MakeBlockAddress(c.mode, c.sector, c.block, c.card_type, &address), c.sendable);
    if (!c.sendable) return;
    EXPECT_EQ(IsTrailer(address), c.trailer);
    EXPECT_EQ(address.flag, c.mode == 0 ? 0x01 : 0x00);
    EXPECT_EQ(address.sector, c.mode == 0 ? 0 : c.sector);
    EXPECT_EQ(address.block, c.block);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockAddressTest,
    ::testing::Values(
        // Absolute addressing: the sector is ignored (the program passes -1).
        AddressCase{0, -1, 0, 11, true, false}, AddressCase{0, -1, 3, 11, true, true},
        AddressCase{0, 7, 4, 11, true, false}, AddressCase{0, -1, 7, 11, true, true},
        AddressCase{0, -1, 63, 11, true, true}, AddressCase{0, -1, 62, 11, true, false},
        AddressCase{0, -1, 64, 11, false, false}, AddressCase{0, -1, 64, 12, true, false},
        AddressCase{0, -1, 127, 12, true, true}, AddressCase{0, -1, 128, 12, true, false},
        AddressCase{0, -1, 131, 12, true, false}, AddressCase{0, -1, 143, 12, true, true},
        AddressCase{0, -1, 159, 12, true, true}, AddressCase{0, -1, 255, 12, true, true},
        AddressCase{0, -1, 254, 12, true, false}, AddressCase{0, -1, 256, 12, false, false},
        AddressCase{0, -1, 300, 12, false, false}, AddressCase{0, -1, 100, 13, true, false},
        AddressCase{0, -1, 200, 16, true, false},
        // Relative addressing: unchecked against the card, trailer by position.
        AddressCase{1, 5, 3, 11, true, true}, AddressCase{1, 5, 15, 11, true, true},
        AddressCase{1, 31, 3, 12, true, true}, AddressCase{1, 32, 3, 12, true, false},
        AddressCase{1, 32, 15, 12, true, true}, AddressCase{1, 39, 14, 12, true, false},
        AddressCase{1, 1, 0, 11, true, false}, AddressCase{1, 0, 70, 11, true, false},
        AddressCase{5, 2, 1, 11, true, false},
        // Refused: negative numbers, and numbers a byte cannot carry.
        AddressCase{0, -1, -1, 11, false, false}, AddressCase{0, 0, -4, 13, false, false},
        AddressCase{1, -1, 0, 11, false, false}, AddressCase{1, 2, -1, 11, false, false},
        AddressCase{1, 256, 0, 12, false, false}, AddressCase{0, -1, 259, 13, false, false}),
    [](const auto &instance) { return CaseName(instance.param); });

TEST(KeyTypeByteTest, KeyAKeyBAndAnythingElse) {
    EXPECT_EQ(KeyTypeByte(0), 0x60);
    EXPECT_EQ(KeyTypeByte(1), 0x61);
    EXPECT_EQ(KeyTypeByte(2), 0x00);
    EXPECT_EQ(KeyTypeByte(-1), 0x00);
}

TEST(TrailerBlockTest, SmallAndLargeSectors) {
    EXPECT_EQ(TrailerBlock(0), 3);
    EXPECT_EQ(TrailerBlock(31), 3);
    EXPECT_EQ(TrailerBlock(32), 15);
    EXPECT_EQ(TrailerBlock(39), 15);
}

// Access bytes with the trailer's bits C1 C2 C3 = n and the data blocks at
// 0 0 0, inverted copies consistent.
void AccessBytesFor(int n, unsigned char *access) {
    const unsigned c1 = (n >> 2) & 1, c2 = (n >> 1) & 1, c3 = n & 1;
    const unsigned byte7_high = c1 << 3, byte8 = (c3 << 7) | (c2 << 3);
    access[2] = static_cast<unsigned char>(byte8);
    access[1] = static_cast<unsigned char>((byte7_high << 4) | ((~byte8 >> 4) & 0x0F));
    access[0] = static_cast<unsigned char>(~((byte8 << 4) | byte7_high) & 0xFF);
    access[3] = 0x69;
}

TEST(AccessNumberTest, EveryTrailerConditionAndTheKeysItAllows) {
    // n: key-type byte for writing keys, for writing access bytes.
    const unsigned char keys[8] = {0x60, 0x60, 0x00, 0x61, 0x61, 0x00, 0x00, 0x00};
    const unsigned char access_bits[8] = {0x00, 0x60, 0x00, 0x61, 0x00, 0x61, 0x00, 0x00};
    for (int n = 0; n < 8; ++n) {
        unsigned char access[4];
        AccessBytesFor(n, access);
        EXPECT_TRUE(AccessBytesConsistent(access)) << n;
        EXPECT_EQ(TrailerAccessNumber(access), n);
        EXPECT_EQ(KeyWriteKeyType(n), keys[n]) << n;
        EXPECT_EQ(AccessWriteKeyType(n), access_bits[n]) << n;
    }
    const unsigned char transport[4] = {0xFF, 0x07, 0x80, 0x69};
    EXPECT_EQ(TrailerAccessNumber(transport), 1);
    unsigned char n1[4];
    AccessBytesFor(1, n1);
    EXPECT_EQ(0, std::memcmp(n1, transport, 4));
}

TEST(AccessBytesConsistentTest, AnyFlippedBitIsCaught) {
    const unsigned char good[4] = {0x78, 0x77, 0x88, 0x00};  // trailer 011, data blocks 100
    ASSERT_TRUE(AccessBytesConsistent(good));
    for (int byte = 0; byte < 3; ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            unsigned char bad[4] = {good[0], good[1], good[2], good[3]};
            bad[byte] = static_cast<unsigned char>(bad[byte] ^ (1 << bit));
            EXPECT_FALSE(AccessBytesConsistent(bad)) << byte << ":" << bit;
        }
    }
    // The user byte is free.
    const unsigned char user[4] = {0xFF, 0x07, 0x80, 0x00};
    EXPECT_TRUE(AccessBytesConsistent(user));
    const unsigned char zeros[4] = {0, 0, 0, 0};
    EXPECT_FALSE(AccessBytesConsistent(zeros));
}

}  // namespace
