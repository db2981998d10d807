// The restore pre-check, one rule a row: a factory-fresh card image (keys
// known, transport access bits) and a file that differs from it in one place.
#include <gtest/gtest.h>

#include <functional>

#include "card/access_conditions.h"
#include "card/hex.h"
#include "card/restore.h"
#include "words/toolkit_words.h"

namespace zc = zelkor::card;

namespace {

const zc::Key kFactory = *zc::ParseKey("FFFFFFFFFFFF");
const zc::Key kOther = *zc::ParseKey("A0A1A2A3A4A5");

zc::Block Trailer(const zc::Key &a, std::array<std::uint8_t, 4> access, const zc::Key &b) {
    zc::Block t{};
    std::copy(a.begin(), a.end(), t.begin());
    std::copy(access.begin(), access.end(), t.begin() + 6);
    std::copy(b.begin(), b.end(), t.begin() + 10);
    return t;
}

std::array<std::uint8_t, 4> Access(zc::SectorConditions conditions) {
    const auto three = zc::EncodeAccessBytes(conditions);
    return {three[0], three[1], three[2], 0x69};
}

zc::CardImage FreshCard() {
    zc::CardImage card = zc::CardImage::Blank(zc::CardKind::Classic1K);
    card.uid = {0x11, 0x22, 0x33, 0x44};
    for (int block = 0; block < card.block_count(); ++block) card.SetBlock(block, zc::Block{});
    for (int sector = 0; sector < card.sector_count(); ++sector) {
        card.SetBlock(zc::TrailerBlock(sector), Trailer(kFactory, {0xFF, 0x07, 0x80, 0x69}, kFactory));
        card.keys[static_cast<std::size_t>(sector)] = {kFactory, kFactory};
    }
    return card;
}

// Sets a sector's access bits on the card and in the file alike.
void SetAccess(zc::CardImage &card, zc::CardImage &file, int sector, zc::SectorConditions conditions) {
    for (zc::CardImage *image : {&card, &file})
        image->SetBlock(zc::TrailerBlock(sector), Trailer(kFactory, Access(conditions), kFactory));
}

zc::Block Filled(std::uint8_t value) {
    zc::Block b;
    b.fill(value);
    return b;
}

struct Case {
    const char *rule;
    std::function<void(zc::CardImage &file, zc::CardImage &card, zc::RestoreOptions &options)> setup;
    int block;
    zc::StepAction action;
    std::optional<zc::KeyType> key;
    bool fatal;
    const char *reason;  // part of the step's reason
};

}  // namespace

TEST(RestorePlan, EveryRule) {
    using zc::StepAction;
    using zc::KeyType;
    const Case cases[] = {
        {"a changed data block is written with key A", [](auto &f, auto &, auto &) { f.SetBlock(4, Filled(1)); },
         4, StepAction::Write, KeyType::A, false, ""},
        {"an unchanged block is left alone", [](auto &, auto &, auto &) {}, 4, StepAction::Skip, {}, false, "already holds"},
        {"the manufacturer block is never written", [](auto &f, auto &, auto &) { f.SetBlock(0, Filled(2)); },
         0, StepAction::Skip, {}, false, "manufacturer block"},
        {"a block partly unknown in the file is fatal", [](auto &f, auto &, auto &) { f.SetBlock(5, Filled(3), 0x7FFF); },
         5, StepAction::Skip, {}, true, "bytes unknown in the file"},
        {"a block wholly unknown in the file is skipped", [](auto &f, auto &, auto &) { f.ForgetBlock(6); },
         6, StepAction::Skip, {}, false, "not in the file"},
        {"a read-only block is fatal",
         [](auto &f, auto &c, auto &) {
             SetAccess(c, f, 2, {2, 0, 0, 1});
             f.SetBlock(8, Filled(4));
         },
         8, StepAction::Skip, {}, true, "read-only"},
        {"a read-only block already holding the bytes is no problem",
         [](auto &f, auto &c, auto &) { SetAccess(c, f, 2, {2, 0, 0, 1}); }, 8, StepAction::Skip, {}, false, "already holds"},
        {"key B writes but only key A is known",
         [](auto &f, auto &c, auto &) {
             SetAccess(c, f, 3, {4, 4, 4, 3});
             c.keys[3].b.reset();
             f.SetBlock(12, Filled(5));
         },
         12, StepAction::Skip, {}, true, "key with write access not known"},
        {"key B writes and is known",
         [](auto &f, auto &c, auto &) {
             SetAccess(c, f, 3, {4, 4, 4, 3});
             f.SetBlock(12, Filled(5));
         },
         12, StepAction::Write, KeyType::B, false, ""},
        {"access bits of the card unknown",
         [](auto &f, auto &c, auto &) {
             c.ForgetBlock(19);
             f.SetBlock(17, Filled(6));
         },
         17, StepAction::Skip, {}, true, "access bits of sector 4 unknown"},
        {"trailers need the trailers option",
         [](auto &f, auto &, auto &) { f.SetBlock(7, Trailer(kOther, {0xFF, 0x07, 0x80, 0x69}, kOther)); }, 7,
         StepAction::Skip, {}, false, "only with the trailers option"},
        {"a trailer with the option is written with key A under transport bits",
         [](auto &f, auto &, auto &o) {
             o.trailers = true;
             f.SetBlock(7, Trailer(kOther, {0xFF, 0x07, 0x80, 0x69}, kOther));
         },
         7, StepAction::Write, KeyType::A, false, ""},
        {"a trailer with an unknown key in the file",
         [](auto &f, auto &, auto &o) {
             o.trailers = true;
             f.SetBlock(7, Trailer(kOther, {0xFF, 0x07, 0x80, 0x69}, kOther), 0xFFC0);
         },
         7, StepAction::Skip, {}, true, "trailer bytes unknown"},
        {"inconsistent access bytes are never written, even forced",
         [](auto &f, auto &, auto &o) {
             o.trailers = o.force = true;
             f.SetBlock(7, Trailer(kFactory, {0xFF, 0x07, 0x00, 0x69}, kFactory));
         },
         7, StepAction::Skip, {}, true, "inconsistent access bytes FF070069"},
        {"access bits that can never change again need force",
         [](auto &f, auto &, auto &o) {
             o.trailers = true;
             f.SetBlock(7, Trailer(kFactory, Access({0, 0, 0, 6}), kFactory));
         },
         7, StepAction::Skip, {}, true, "needs force"},
        {"forced, they are written with a warning",
         [](auto &f, auto &, auto &o) {
             o.trailers = o.force = true;
             f.SetBlock(7, Trailer(kFactory, Access({0, 0, 0, 6}), kFactory));
         },
         7, StepAction::Write, KeyType::A, false, "never be changed again (forced)"},
        {"a trailer no known key may write",
         [](auto &f, auto &c, auto &o) {
             o.trailers = true;
             SetAccess(c, f, 1, {0, 0, 0, 6});
             f.SetBlock(7, Trailer(kOther, Access({0, 0, 0, 6}), kFactory));
         },
         7, StepAction::Skip, {}, true, "do not let a known key write"},
        {"a UID mismatch needs force", [](auto &f, auto &, auto &) { f.uid = {1, 2, 3, 4}; }, -1, StepAction::Skip, {},
         true, "UID 01020304 in the file, 11223344 on the card: needs force"},
        {"forced, a UID mismatch is a warning",
         [](auto &f, auto &, auto &o) {
             f.uid = {1, 2, 3, 4};
             o.force = true;
         },
         -1, StepAction::Skip, {}, false, "(forced)"},
        {"a file without a UID (no block 0) needs force", [](auto &f, auto &, auto &) { f.uid.clear(); }, -1,
         StepAction::Skip, {}, true, ""},
        {"forced, a file without a UID is listed but not fatal",
         [](auto &f, auto &, auto &o) {
             f.uid.clear();
             o.force = true;
         },
         -1, StepAction::Skip, {}, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.rule);
        zc::CardImage card = FreshCard();
        zc::CardImage file = card;
        zc::RestoreOptions options;
        c.setup(file, card, options);
        const zc::RestorePlan plan = zc::PlanRestore(file, card, options);
        const auto step = std::find_if(plan.steps.begin(), plan.steps.end(), [&](const zc::RestoreStep &s) { return s.block == c.block; });
        ASSERT_NE(step, plan.steps.end());
        EXPECT_EQ(step->action, c.action);
        EXPECT_EQ(step->key, c.key);
        EXPECT_EQ(step->fatal, c.fatal);
        const std::string reason = zelkor::words::Text(*step, zelkor::words::Language::English);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        EXPECT_EQ(plan.HasFatal(), c.fatal);
    }
}

TEST(RestorePlan, CountsAndCardSizes) {
    zc::CardImage card = FreshCard();
    zc::CardImage file = card;
    file.SetBlock(1, Filled(1));
    file.SetBlock(2, Filled(2));
    const zc::RestorePlan plan = zc::PlanRestore(file, card, {});
    EXPECT_EQ(plan.WriteCount(), 2);
    EXPECT_EQ(plan.SkipCount(), 62);

    zc::CardImage big = zc::CardImage::Blank(zc::CardKind::Classic4K);
    const zc::RestorePlan too_big = zc::PlanRestore(big, card, {});
    EXPECT_TRUE(too_big.HasFatal());
    EXPECT_NE(zelkor::words::Text(too_big.steps[0], zelkor::words::Language::English).find("does not fit"), std::string::npos);
}
