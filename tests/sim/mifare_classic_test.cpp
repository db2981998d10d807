#include <gtest/gtest.h>

#include "sim/sample_cards.h"

namespace {

using sim::Block;
using sim::IsoState;
using sim::Key;
using sim::MifareClassic;
namespace st = sim::status;

const Key kKeyA = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};
const Key kKeyB = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
const Key kWrong = {0, 0, 0, 0, 0, 0};
constexpr std::uint8_t A = MifareClassic::kKeyTypeA;
constexpr std::uint8_t B = MifareClassic::kKeyTypeB;

std::array<std::uint8_t, 4> Access(sim::Condition data, sim::Condition trailer, std::uint8_t user = 0x69) {
    const auto b = sim::EncodeAccessBytes({data, data, data, trailer});
    return {b[0], b[1], b[2], user};
}

struct ClassicTest : ::testing::Test {
    std::shared_ptr<MifareClassic> card = std::make_shared<MifareClassic>(
        MifareClassic::Model::S50, std::array<std::uint8_t, 4>{1, 2, 3, 4}, kKeyA, kKeyB, sim::kTransportAccess);

    void Activate() {
        if (card->state() == IsoState::Active) return;
        if (card->state() != IsoState::Ready) {
            ASSERT_TRUE(card->Request(true));
        }
        ASSERT_TRUE(card->Select());
    }
    std::uint8_t Auth(int block, std::uint8_t type, const Key &key) {
        Activate();
        return card->Authenticate(block, type, key.data());
    }
    Block ReadOk(int block) {
        Block out{};
        EXPECT_EQ(card->Read(block, out), st::kOk);
        return out;
    }
};

TEST_F(ClassicTest, Layouts) {
    auto s70 = sim::MakeDemoS70();
    struct Case {
        MifareClassic *c;
        int block, sector, trailer;
    } cases[] = {{card.get(), 0, 0, 3},     {card.get(), 63, 15, 63}, {s70.get(), 127, 31, 127},
                 {s70.get(), 128, 32, 143}, {s70.get(), 143, 32, 143}, {s70.get(), 255, 39, 255}};
    for (const Case &c : cases) {
        EXPECT_EQ(c.c->SectorOf(c.block), c.sector) << c.block;
        EXPECT_EQ(c.c->TrailerOf(c.sector), c.trailer) << c.block;
    }
    EXPECT_EQ(card->Resolve(0x01, 9, 63), 63);
    EXPECT_EQ(card->Resolve(0x01, 0, 64), std::nullopt);
    EXPECT_EQ(card->Resolve(0x00, 1, 2), 6);
    EXPECT_EQ(card->Resolve(0x00, 1, 4), std::nullopt);
    EXPECT_EQ(card->Resolve(0x00, 16, 0), std::nullopt);
    EXPECT_EQ(card->Resolve(0x02, 0, 1), std::nullopt);
    EXPECT_EQ(s70->Resolve(0x00, 32, 15), 143);
    EXPECT_EQ(s70->Resolve(0x00, 39, 16), std::nullopt);
    EXPECT_EQ(s70->Resolve(0x00, 40, 0), std::nullopt);
}

TEST_F(ClassicTest, ManufacturerBlockHoldsUidAndIsReadOnly) {
    ASSERT_EQ(Auth(0, A, kKeyA), st::kOk);
    const Block b = ReadOk(0);
    EXPECT_EQ((std::vector<std::uint8_t>(b.begin(), b.begin() + 8)),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 1 ^ 2 ^ 3 ^ 4, 0x08, 0x04, 0x00}));
    EXPECT_EQ(card->Write(0, Block{}), st::kCardRefused);
    ASSERT_EQ(Auth(0, A, kKeyA), st::kOk);
    EXPECT_EQ(ReadOk(0), b);
}

TEST_F(ClassicTest, AuthenticationStateOneSectorAtATime) {
    Block out{};
    Activate();
    EXPECT_EQ(card->Read(4, out), st::kNotAuthenticated);

    ASSERT_EQ(Auth(4, A, kKeyA), st::kOk);
    EXPECT_EQ(card->authenticated_sector(), 1);
    ReadOk(7);
    ASSERT_EQ(Auth(9, A, kKeyA), st::kOk);  // sector 2 replaces sector 1
    EXPECT_EQ(card->authenticated_sector(), 2);
    EXPECT_EQ(card->Read(4, out), st::kNotAuthenticated);
}

TEST_F(ClassicTest, AuthenticationLostOnHaltSelectAndFailure) {
    Block out{};
    // Halt.
    ASSERT_EQ(Auth(4, A, kKeyA), st::kOk);
    ASSERT_TRUE(card->Halt());
    EXPECT_FALSE(card->authenticated_sector());
    // A new select.
    ASSERT_EQ(Auth(4, A, kKeyA), st::kOk);
    card->PowerOff();
    ASSERT_TRUE(card->Request(false));
    ASSERT_TRUE(card->Select());
    EXPECT_EQ(card->Read(4, out), st::kNotAuthenticated);
    // A failed authentication, even to another sector; the card drops to IDLE.
    ASSERT_EQ(Auth(4, A, kKeyA), st::kOk);
    EXPECT_EQ(card->Authenticate(8, A, kWrong.data()), st::kAuthFailed);
    EXPECT_EQ(card->state(), IsoState::Idle);
    Activate();
    EXPECT_EQ(card->Read(4, out), st::kNotAuthenticated);
    // Key-type bytes other than 0x60 and 0x61 fail.
    EXPECT_EQ(Auth(4, 0x00, kKeyA), st::kAuthFailed);
    EXPECT_EQ(Auth(4, B, kKeyA), st::kAuthFailed);
}

TEST_F(ClassicTest, KeyANeverReadableKeyBOnlyWhereAllowed) {
    struct Case {
        sim::Condition trailer;
        std::uint8_t key_type;
        bool readable_b;
    } cases[] = {{1, A, true}, {0, A, true}, {2, A, true}, {3, B, false}, {4, A, false}, {4, B, false}, {7, B, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.trailer));
        const auto access = Access(0, c.trailer);
        card->SetTrailer(1, kKeyA, access, kKeyB);
        ASSERT_EQ(Auth(5, c.key_type, c.key_type == A ? kKeyA : kKeyB), st::kOk);
        const Block t = ReadOk(7);
        Block expected{};
        std::copy(access.begin(), access.end(), expected.begin() + 6);
        if (c.readable_b) std::copy(kKeyB.begin(), kKeyB.end(), expected.begin() + 10);
        EXPECT_EQ(t, expected);
    }
}

// Where key B can be read it authenticates but opens nothing.
TEST_F(ClassicTest, ReadableKeyBGrantsNoAccess) {
    Block out{};
    ASSERT_EQ(Auth(4, B, kKeyB), st::kOk);
    EXPECT_EQ(card->Read(4, out), st::kCardRefused);
    EXPECT_EQ(card->state(), IsoState::Idle);
    ASSERT_EQ(Auth(4, B, kKeyB), st::kOk);
    EXPECT_EQ(card->Write(4, Block{}), st::kCardRefused);
    ASSERT_EQ(Auth(7, B, kKeyB), st::kOk);
    EXPECT_EQ(card->Read(7, out), st::kCardRefused);
}

TEST_F(ClassicTest, DataBlockAccessEnforced) {
    // Condition 100: read A|B, write B only.
    card->SetTrailer(1, kKeyA, Access(4, 3), kKeyB);
    Block data{};
    data.fill(0x42);
    ASSERT_EQ(Auth(4, A, kKeyA), st::kOk);
    ReadOk(4);
    EXPECT_EQ(card->Write(4, data), st::kCardRefused);
    ASSERT_EQ(Auth(4, B, kKeyB), st::kOk);
    EXPECT_EQ(card->Write(4, data), st::kOk);
    EXPECT_EQ(ReadOk(4), data);
    // Condition 111: nothing.
    card->SetTrailer(1, kKeyA, Access(7, 3), kKeyB);
    ASSERT_EQ(Auth(4, B, kKeyB), st::kOk);
    Block out{};
    EXPECT_EQ(card->Read(4, out), st::kCardRefused);
}

TEST_F(ClassicTest, S70LargeSectorUsesBlockGroups) {
    auto s70 = sim::MakeDemoS70(kKeyA);
    // Group 0 (blocks 0-4) read only, group 1 (5-9) free, group 2 (10-14) nothing.
    const auto b = sim::EncodeAccessBytes({2, 0, 7, 1});
    s70->SetTrailer(32, kKeyA, {b[0], b[1], b[2], 0}, kKeyB);
    ASSERT_TRUE(s70->Request(false));
    ASSERT_TRUE(s70->Select());
    Block data{};
    data.fill(7);
    const struct {
        int block;
        std::uint8_t write_status;
    } cases[] = {{128, st::kCardRefused}, {132, st::kCardRefused}, {133, st::kOk}, {137, st::kOk},
                 {138, st::kCardRefused}, {142, st::kCardRefused}};
    for (const auto &c : cases) {
        if (s70->state() != IsoState::Active) {
            ASSERT_TRUE(s70->Request(false));
            ASSERT_TRUE(s70->Select());
        }
        ASSERT_EQ(s70->Authenticate(c.block, A, kKeyA.data()), st::kOk);
        EXPECT_EQ(s70->Write(c.block, data), c.write_status) << c.block;
    }
}

TEST_F(ClassicTest, TrailerWriteChangesOnlyPermittedParts) {
    Block t{};
    std::fill(t.begin(), t.begin() + 6, 0x11);
    const auto transport = sim::kTransportAccess;
    std::copy(transport.begin(), transport.end(), t.begin() + 6);
    std::fill(t.begin() + 10, t.end(), 0x22);

    // 100: key B writes both keys but not the access bytes.
    const auto access = Access(0, 4);
    card->SetTrailer(1, kKeyA, access, kKeyB);
    ASSERT_EQ(Auth(7, B, kKeyB), st::kOk);
    EXPECT_EQ(card->Write(7, t), st::kOk);
    Block expected = t;
    std::copy(access.begin(), access.end(), expected.begin() + 6);
    EXPECT_EQ(card->raw(7), expected);
    // 100 with key A: nothing may be written.
    ASSERT_EQ(Auth(7, A, Key{0x11, 0x11, 0x11, 0x11, 0x11, 0x11}), st::kOk);
    EXPECT_EQ(card->Write(7, Block{}), st::kCardRefused);
    EXPECT_EQ(card->raw(7), expected);
}

TEST_F(ClassicTest, InconsistentAccessBitsBlockTheSector) {
    Block t{};
    std::copy(kKeyA.begin(), kKeyA.end(), t.begin());
    t[6] = 0xFF;  // inverted copies do not match
    t[7] = 0x07;
    t[8] = 0x00;
    std::copy(kKeyB.begin(), kKeyB.end(), t.begin() + 10);
    ASSERT_EQ(Auth(7, A, kKeyA), st::kOk);
    ASSERT_EQ(card->Write(7, t), st::kOk);  // transport: key A writes everything
    EXPECT_EQ(Auth(4, A, kKeyA), st::kAuthFailed);
    EXPECT_EQ(Auth(7, B, kKeyB), st::kAuthFailed);
    EXPECT_EQ(Auth(8, A, kKeyA), st::kOk);  // other sectors still work
}

TEST_F(ClassicTest, ValueBlockFormat) {
    const Block b = MifareClassic::ValueBlock(1000, 5);
    EXPECT_EQ(b, (Block{0xE8, 0x03, 0, 0, 0x17, 0xFC, 0xFF, 0xFF, 0xE8, 0x03, 0, 0, 5, 0xFA, 5, 0xFA}));
    EXPECT_EQ(MifareClassic::ParseValue(b), 1000);
    EXPECT_EQ(MifareClassic::ParseValue(MifareClassic::ValueBlock(-7, 9)), -7);
    for (std::size_t i = 0; i < 16; ++i) {
        Block bad = b;
        bad[i] ^= 0x01;
        EXPECT_FALSE(MifareClassic::ParseValue(bad).has_value()) << i;
    }
}

TEST_F(ClassicTest, ValueArithmetic) {
    ASSERT_EQ(Auth(5, A, kKeyA), st::kOk);
    ASSERT_EQ(card->WriteValue(5, 1000), st::kOk);
    EXPECT_EQ(card->raw(5), MifareClassic::ValueBlock(1000, 5));
    EXPECT_EQ(card->ChangeValue(5, true, 100), st::kOk);
    EXPECT_EQ(card->ChangeValue(5, false, 10000), st::kOk);
    std::int32_t value = 0;
    EXPECT_EQ(card->ReadValue(5, value), st::kOk);
    EXPECT_EQ(value, 1000 + 100 - 10000);
    EXPECT_EQ(card->raw(5)[12], 5);

    // Overflow is refused and leaves the value.
    ASSERT_EQ(card->WriteValue(5, 2147483600), st::kOk);
    EXPECT_EQ(card->ChangeValue(5, true, 100), st::kBadParameter);
    EXPECT_EQ(card->ReadValue(5, value), st::kOk);
    EXPECT_EQ(value, 2147483600);

    // A block not in value format.
    ASSERT_EQ(card->Write(6, Block{1, 2, 3}), st::kOk);
    EXPECT_EQ(card->ReadValue(6, value), st::kBadCardData);
    ASSERT_EQ(Auth(6, A, kKeyA), st::kOk);
    EXPECT_EQ(card->ChangeValue(6, true, 1), st::kBadCardData);
    ASSERT_EQ(Auth(6, A, kKeyA), st::kOk);
    EXPECT_EQ(card->ChangeValue(6, false, 1), st::kBadCardData);
    // Never on a trailer.
    ASSERT_EQ(Auth(7, A, kKeyA), st::kOk);
    EXPECT_EQ(card->WriteValue(7, 1), st::kCardRefused);
}

TEST_F(ClassicTest, ValueOperationsFollowAccessConditions) {
    // 001: decrement with A or B, no increment, no write. 110: increment B only.
    struct Case {
        sim::Condition data;
        std::uint8_t key;
        std::uint8_t inc, dec, write;
    } cases[] = {{1, A, st::kCardRefused, st::kOk, st::kCardRefused},
                 {6, A, st::kCardRefused, st::kOk, st::kCardRefused},
                 {6, B, st::kOk, st::kOk, st::kOk},
                 {2, B, st::kCardRefused, st::kCardRefused, st::kCardRefused}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.data) << "/" << int(c.key));
        card->SetTrailer(1, kKeyA, Access(c.data, 3), kKeyB);
        card->raw(5) = MifareClassic::ValueBlock(50, 5);
        const Key &key = c.key == A ? kKeyA : kKeyB;
        ASSERT_EQ(Auth(5, c.key, key), st::kOk);
        EXPECT_EQ(card->ChangeValue(5, true, 1), c.inc);
        ASSERT_EQ(Auth(5, c.key, key), st::kOk);
        EXPECT_EQ(card->ChangeValue(5, false, 1), c.dec);
        ASSERT_EQ(Auth(5, c.key, key), st::kOk);
        EXPECT_EQ(card->WriteValue(5, 9), c.write);
    }
}

TEST(IsoState, HaltedCardAnswersWakeUpNotRequest) {
    auto card = sim::MakeDemoS50();
    EXPECT_TRUE(card->Request(false));
    EXPECT_TRUE(card->Select());
    EXPECT_TRUE(card->Halt());
    EXPECT_FALSE(card->Request(false));
    EXPECT_EQ(card->state(), IsoState::Halt);
    EXPECT_TRUE(card->Request(true));
    EXPECT_TRUE(card->woken_from_halt());
    EXPECT_TRUE(card->Select());
    // A card woken from HALT falls back to HALT on an error, not to IDLE.
    card->Fail();
    EXPECT_EQ(card->state(), IsoState::Halt);
    card->PowerOff();
    EXPECT_TRUE(card->Request(false));
}

TEST(IsoState, AnticollisionCascade) {
    auto ul = sim::MakeDemoUltraLight();
    EXPECT_FALSE(ul->Anticollision(0x93).has_value());  // IDLE: silent
    ASSERT_TRUE(ul->Request(false));
    const auto cl1 = ul->Anticollision(0x93);
    ASSERT_TRUE(cl1.has_value());
    EXPECT_EQ(*cl1, (sim::Bytes{0x88, 0x04, 0x6E, 0x21, static_cast<std::uint8_t>(0x88 ^ 0x04 ^ 0x6E ^ 0x21)}));
    const auto cl2 = ul->Anticollision(0x95);
    ASSERT_TRUE(cl2.has_value());
    EXPECT_EQ(*cl2, (sim::Bytes{0x8A, 0x33, 0x5F, 0x80, static_cast<std::uint8_t>(0x8A ^ 0x33 ^ 0x5F ^ 0x80)}));
    auto s50 = sim::MakeDemoS50();
    ASSERT_TRUE(s50->Request(false));
    EXPECT_EQ(*s50->Anticollision(0x93), (sim::Bytes{0x3A, 0x7C, 0x51, 0xE2, 0x3A ^ 0x7C ^ 0x51 ^ 0xE2}));
    EXPECT_FALSE(s50->Anticollision(0x95).has_value());
}

TEST(UltraLightCard, PagesLocksAndOtp) {
    auto ul = sim::MakeDemoUltraLight();
    std::array<std::uint8_t, 16> out{};
    ASSERT_EQ(ul->Read(14, out), sim::status::kOk);  // wraps to pages 0 and 1
    EXPECT_EQ(out[8], 0x04);
    EXPECT_EQ(out[12], 0x8A);
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(ul->WritePage(1, data), sim::status::kCardRefused);
    EXPECT_EQ(ul->WritePage(16, data), sim::status::kBadParameter);
    EXPECT_EQ(ul->WritePage(9, data), sim::status::kOk);
    const std::uint8_t otp1[4] = {0x01, 0, 0, 0}, otp2[4] = {0x02, 0, 0, 0};
    ul->WritePage(3, otp1);
    ul->WritePage(3, otp2);
    EXPECT_EQ(ul->page(3)[0], 0x03);  // OTP bits only ever set
    const std::uint8_t lock[4] = {0, 0, 0x00, 0x02};  // locks page 9
    ASSERT_EQ(ul->WritePage(2, lock), sim::status::kOk);
    EXPECT_EQ(ul->WritePage(9, data), sim::status::kCardRefused);
    EXPECT_EQ(ul->WritePage(10, data), sim::status::kOk);
}

}  // namespace
