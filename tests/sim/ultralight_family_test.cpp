// The simulated UltraLight family: each kind's size, the refusal of a start
// page past the end, the wrap-round of a read near it, lock bits, OTP bits
// and the password's read protection.
#include <gtest/gtest.h>

#include "sim/sample_cards.h"

namespace {

using Model = sim::UltraLight::Model;
namespace st = sim::status;

struct KindCase {
    Model model;
    int pages;
    bool capability_container;
};

class UltraLightKinds : public ::testing::TestWithParam<KindCase> {};

TEST_P(UltraLightKinds, SizeEndAndWrapRound) {
    const KindCase c = GetParam();
    auto card = sim::MakeDemoUltraLight(c.model);
    ASSERT_EQ(card->page_count(), c.pages);
    std::array<std::uint8_t, 16> out{};
    EXPECT_EQ(card->Read(c.pages, out), st::kBadParameter);
    // The last page, then pages 0, 1 and 2 again.
    ASSERT_EQ(card->Read(c.pages - 1, out), st::kOk);
    EXPECT_EQ(out[4], card->page(0)[0]);
    EXPECT_EQ(out[8], card->page(1)[0]);
    EXPECT_EQ(card->page(3)[0] == 0xE1, c.capability_container);
    // The UID pages refuse, page 3 only takes more bits.
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(card->WritePage(0, data), st::kCardRefused);
    const auto page3 = card->page(3);
    ASSERT_EQ(card->WritePage(3, data), st::kOk);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(card->page(3)[i], page3[i] | data[i]);
    EXPECT_EQ(card->WritePage(c.pages, data), st::kBadParameter);
}

INSTANTIATE_TEST_SUITE_P(Sim, UltraLightKinds,
                         ::testing::Values(KindCase{Model::UltraLight, 16, false}, KindCase{Model::Ev1Small, 20, false},
                                           KindCase{Model::Ev1Large, 41, false}, KindCase{Model::Ntag213, 45, true},
                                           KindCase{Model::Ntag215, 135, true}, KindCase{Model::Ntag216, 231, true}),
                         [](const auto &instance) { return "Pages" + std::to_string(instance.param.pages); });

TEST(UltraLightFamily, DynamicLockBitsMakePagesReadOnly) {
    auto ntag = sim::MakeDemoUltraLight(Model::Ntag213);
    const std::uint8_t data[4] = {9, 9, 9, 9};
    ASSERT_EQ(ntag->WritePage(17, data), st::kOk);
    const std::uint8_t lock_16_17[4] = {0x01, 0, 0, 0};
    ASSERT_EQ(ntag->WritePage(40, lock_16_17), st::kOk);
    EXPECT_EQ(ntag->WritePage(16, data), st::kCardRefused);
    EXPECT_EQ(ntag->WritePage(17, data), st::kCardRefused);
    EXPECT_EQ(ntag->WritePage(18, data), st::kOk);
    const std::uint8_t unlock[4] = {0, 0, 0, 0};
    ASSERT_EQ(ntag->WritePage(40, unlock), st::kOk);  // lock bits never clear
    EXPECT_EQ(ntag->WritePage(16, data), st::kCardRefused);
}

TEST(UltraLightFamily, PasswordHidesPagesFromAuth0AndPwdReadsAsZeros) {
    auto ntag = sim::MakeProtectedNtag();
    std::array<std::uint8_t, 16> out{};
    EXPECT_EQ(ntag->Read(16, out), st::kCardRefused);
    ASSERT_EQ(ntag->Read(12, out), st::kOk);  // 12-15 free
    ASSERT_EQ(ntag->Read(14, out), st::kOk);  // 16 and 17 in the read come as zeros
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 8, out.end()), std::vector<std::uint8_t>(8, 0));
    const std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(ntag->WritePage(20, data), st::kCardRefused);
    EXPECT_EQ(ntag->WritePage(5, data), st::kOk);

    auto open = sim::MakeDemoUltraLight(Model::Ntag213);
    ASSERT_EQ(open->WritePage(43, data), st::kOk);  // PWD
    ASSERT_EQ(open->Read(42, out), st::kOk);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 4, out.begin() + 12), std::vector<std::uint8_t>(8, 0));
}

}  // namespace
