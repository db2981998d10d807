// Whole-card work through the reader library against the simulated reader on
// a pseudo-terminal: identify, key search, dump and restore, exactly as a
// program using the toolkit does it.
#include <gtest/gtest.h>

#include <memory>
#include <stop_token>

#include "card/card_dump.h"
#include "card/dump_diff.h"
#include "card/key_files.h"
#include "card/key_search.h"
#include "card/reader_card_link.h"
#include "card/restore.h"
#include "words/toolkit_words.h"
#include "tests/support/reader_fixture.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "zelkor.h"

namespace zc = zelkor::card;
using testing_support::SimulatedReaderTest;

namespace {

const zc::Key kDemo{sim::kDemoKey};
const zc::Key kSectorFive = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
const zc::Key kHiddenB = {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
// Data 000, trailer 011: key B cannot be read and opens the sector fully.
constexpr std::array<std::uint8_t, 4> kKeyBHidden = {0x7F, 0x07, 0x88, 0x69};

class CardSessionTest : public SimulatedReaderTest {
protected:
    void SetUp() override {
        SimulatedReaderTest::SetUp();
        CloseReader();  // the toolkit opens its own session
        model_->PutCard(card_);
        sim_.SetModel(model_);
        session_ = zc::ReaderSession::Open(kPort, 9600);
        ASSERT_TRUE(session_.has_value());
        link_ = std::make_unique<zc::ReaderCardLink>(*session_);
    }
    void TearDown() override {
        link_.reset();
        session_.reset();
        SimulatedReaderTest::TearDown();
    }

    // The demo card with a different key in sector 5 and a hidden key B in 6.
    static std::shared_ptr<sim::MifareClassic> MakeCard() {
        auto card = sim::MakeDemoS50();
        card->SetTrailer(5, kSectorFive, sim::kTransportAccess, kSectorFive);
        card->SetTrailer(6, kDemo, kKeyBHidden, kHiddenB);
        card->raw(25) = {0xC0, 0xFF, 0xEE};
        return card;
    }

    // A block of a simulated card, read under the model's lock.
    sim::Block Raw(const sim::MifareClassic &card, int block) const {
        sim::Block copy{};
        model_->Inspect([&] { copy = card.raw(block); });
        return copy;
    }

    zc::CardIdentity Identify() {
        const auto identity = link_->Identify();
        EXPECT_TRUE(identity.has_value());
        return identity.value_or(zc::CardIdentity{});
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::shared_ptr<sim::MifareClassic> card_ = MakeCard();
    std::optional<zc::ReaderSession> session_;
    std::unique_ptr<zc::ReaderCardLink> link_;
};

}  // namespace

TEST_F(CardSessionTest, IdentifySearchAndDumpTheWholeCard) {
    // Opening a second session would close this one inside the library.
    EXPECT_FALSE(zc::ReaderSession::Open(kPort, 9600).has_value());
    const zc::CardIdentity identity = Identify();
    EXPECT_EQ(identity.kind, zc::CardKind::Classic1K);
    EXPECT_EQ(identity.uid, (std::vector<std::uint8_t>{0x3A, 0x7C, 0x51, 0xE2}));
    EXPECT_EQ(identity.atqa, (std::array<std::uint8_t, 2>{0x04, 0x00}));
    EXPECT_EQ(identity.sak, 0x08);
    EXPECT_EQ(identity.reader_serial.size(), 8u);

    // Correct keys early in the list: every wrong key costs a failed
    // authentication and a new selection of the card.
    const std::vector<zc::Key> dictionary = {kDemo, kSectorFive, kHiddenB};
    const zc::KeySearchResult keys = zc::SearchKeys(*link_, *identity.kind, dictionary, {}, {});
    ASSERT_TRUE(keys.complete);
    EXPECT_EQ(keys.keys[0], (zc::SectorKeys{kDemo, kDemo}));
    EXPECT_EQ(keys.keys[5], (zc::SectorKeys{kSectorFive, kSectorFive}));  // key B read from the trailer
    EXPECT_EQ(keys.keys[6], (zc::SectorKeys{kDemo, kHiddenB}));           // key B found by trying
    EXPECT_EQ(keys.keys_read_from_trailers, 15);
    // Sector 5 key A once, sector 6 key B twice, and the check at the end
    // that the keys are still this card's.
    EXPECT_EQ(keys.reselects, 4);
    EXPECT_EQ(link_->counters().reselects, 4);

    const zc::CardImage dump = zc::ReadCard(*link_, identity, keys.keys, {}, {});
    EXPECT_FALSE(dump.partial);
    EXPECT_EQ(dump.KnownBlockCount(), 64);
    for (int block = 0; block < 64; ++block) {
        const sim::Block raw = Raw(*card_, block);
        EXPECT_EQ(dump.blocks[static_cast<std::size_t>(block)], zc::Block(raw)) << block;
    }
    EXPECT_EQ(dump.uid, identity.uid);
}

TEST_F(CardSessionTest, IdentifyWakesAHaltedCardAndNamesOtherCards) {
    ASSERT_EQ(PauseCard(), 1);
    EXPECT_EQ(Identify().kind, zc::CardKind::Classic1K);
    model_->PutCard(sim::MakeDemoS70());
    EXPECT_EQ(Identify().kind, zc::CardKind::Classic4K);
    model_->PutCard(sim::MakeDemoCpuCard());
    const zc::CardIdentity cpu = Identify();
    EXPECT_EQ(cpu.type_code, 13);
    EXPECT_FALSE(cpu.kind.has_value());
    EXPECT_TRUE(zc::ReadCard(*link_, cpu, {}, {}, {}).partial);
    model_->RemoveCard();
    EXPECT_FALSE(link_->Identify().has_value());
}

TEST_F(CardSessionTest, CancelledSearchKeepsWhatItFound) {
    const zc::CardIdentity identity = Identify();
    std::stop_source stop;
    std::vector<int> sectors;
    const auto result = zc::SearchKeys(*link_, *identity.kind, zc::BuiltinKeys(), [&](const zc::Progress &p) {
        sectors.push_back(p.sector);
        if (p.sector == 2) stop.request_stop();
    }, stop.get_token(), std::vector<zc::SectorKeys>(16, zc::SectorKeys{kDemo, std::nullopt}));
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.complete);
    EXPECT_EQ(sectors.back(), 2);
    for (int s = 0; s <= 2; ++s) EXPECT_EQ(result.keys[static_cast<std::size_t>(s)], (zc::SectorKeys{kDemo, kDemo})) << s;
    EXPECT_FALSE(result.keys[3].b.has_value());
    EXPECT_EQ(result.keys[3].a, kDemo);  // seeds stay
}

TEST_F(CardSessionTest, DumpWithMissingKeysIsPartial) {
    const zc::CardIdentity identity = Identify();
    std::vector<zc::SectorKeys> keys(16, zc::SectorKeys{kDemo, std::nullopt});
    keys[6].b = kHiddenB;
    const zc::CardImage dump = zc::ReadCard(*link_, identity, keys, {}, {});
    EXPECT_TRUE(dump.partial);
    EXPECT_TRUE(dump.BlockUnknown(20));  // sector 5: key A is not the demo key
    EXPECT_TRUE(dump.BlockKnown(4));
    EXPECT_EQ(dump.known_mask[27], zc::kAllKnown);  // sector 6 trailer: both keys given
    EXPECT_EQ(dump.known_mask[3], zc::kAllKnown);   // key B read with key A
}

TEST_F(CardSessionTest, RestoreOntoABlankCardAndVerify) {
    const zc::CardIdentity source_identity = Identify();
    const auto source_keys = zc::SearchKeys(*link_, zc::CardKind::Classic1K, std::vector<zc::Key>{kDemo, kSectorFive, kHiddenB}, {}, {});
    const zc::CardImage source = zc::ReadCard(*link_, source_identity, source_keys.keys, {}, {});

    // A factory-fresh card takes its place.
    auto blank = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50, std::array<std::uint8_t, 4>{9, 8, 7, 6},
                                                      sim::kFactoryKey, sim::kFactoryKey, sim::kTransportAccess);
    model_->PutCard(blank);
    const zc::CardIdentity identity = Identify();
    const auto blank_keys = zc::SearchKeys(*link_, zc::CardKind::Classic1K, zc::BuiltinKeys(), {}, {});
    ASSERT_TRUE(blank_keys.complete);
    const zc::CardImage now = zc::ReadCard(*link_, identity, blank_keys.keys, {}, {});

    zc::RestorePlan refused = zc::PlanRestore(source, now, {.trailers = true, .force = false});
    EXPECT_TRUE(refused.HasFatal());  // another UID
    EXPECT_TRUE(zc::Restore(*link_, refused, {}, {}).refused);
    EXPECT_EQ(Raw(*blank, 4), sim::Block{});  // nothing written

    const zc::RestorePlan plan = zc::PlanRestore(source, now, {.trailers = true, .force = true});
    ASSERT_FALSE(plan.HasFatal());
    int progress_calls = 0;
    const zc::RestoreReport report = zc::Restore(*link_, plan, [&](const zc::Progress &) { ++progress_calls; }, {});
    EXPECT_TRUE(report.ok());
    for (const auto &failure : report.failures) ADD_FAILURE() << failure.block << ": " << zelkor::words::Text(failure, zelkor::words::Language::English);
    // Blocks 4, 5, 8 and 25 hold data; all 16 trailers change keys.
    EXPECT_EQ(report.written, 4 + 16);
    EXPECT_EQ(report.verified, report.written);
    EXPECT_EQ(report.skipped, 64 - report.written);
    EXPECT_EQ(progress_calls, report.written);

    // The card now reads back as the source, with the source's keys.
    const zc::CardImage copy = zc::ReadCard(*link_, identity, source_keys.keys, {}, {});
    const zc::DumpDifference diff = zc::DiffDumps(source, copy);
    ASSERT_EQ(diff.blocks.size(), 1u);
    EXPECT_EQ(diff.blocks[0].block, 0);  // the manufacturer block stays the card's own
    EXPECT_TRUE(diff.uids_differ);
    EXPECT_EQ(Raw(*blank, 27), Raw(*card_, 27));
}
