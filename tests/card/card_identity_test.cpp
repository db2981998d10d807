// Whole-card work when the card changes under it: another card swapped in,
// the card taken away or the reader unplugged in the middle of a key search,
// a dump or a restore, on a line paced like a real one. The work stops at the
// first new selection that does not find its card, keeps nothing of another
// card and writes nothing onto it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "card/card_dump.h"
#include "card/key_search.h"
#include "card/reader_card_link.h"
#include "card/restore.h"
#include "tests/support/event_after_writes.h"
#include "tests/support/reader_fixture.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "zelkor.h"

namespace zc = zelkor::card;
using testing_support::ElapsedMs;
using testing_support::kSlack;
using testing_support::SimulatedReaderTest;

namespace {

const zc::Key kFirstKey = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
const zc::Key kOtherKey = {0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6};
constexpr std::array<std::uint8_t, 4> kFirstUid = {0x3A, 0x7C, 0x51, 0xE2};
constexpr std::array<std::uint8_t, 4> kOtherUid = {0x99, 0x88, 0x77, 0x66};

enum class Work { Keys, Dump, Restore };
enum class Event { Swap, Remove, Unplug };

struct HostileCase {
    const char *name;
    Work work;
    Event event;
    zc::Selection found;
};

void PrintTo(const HostileCase &c, std::ostream *out) { *out << c.name; }

// A card of the same site: every sector opens with `key`, each data block
// holds its card's mark so that a block of the wrong card shows.
std::shared_ptr<sim::MifareClassic> SiteCard(const std::array<std::uint8_t, 4> &uid, const zc::Key &key,
                                             std::uint8_t mark) {
    auto card = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50, uid, key, key,
                                                     sim::kTransportAccess);
    for (int block = 1; block < 64; ++block) {
        if (block % 4 != 3) card->raw(block).fill(mark);
    }
    return card;
}

class CardIdentityTest : public SimulatedReaderTest, public ::testing::WithParamInterface<HostileCase> {
protected:
    void SetUp() override {
        SimulatedReaderTest::SetUp();
        CloseReader();
        model_->PutCard(first_);
        sim_.SetModel(model_);
        session_ = zc::ReaderSession::Open(kPort, 9600);
        ASSERT_TRUE(session_.has_value());
        link_ = std::make_unique<zc::ReaderCardLink>(*session_);
        const auto identity = link_->Identify();
        ASSERT_TRUE(identity.has_value());
        identity_ = *identity;
        sim_.SetWireBaud(9600);
    }
    void TearDown() override {
        if (event_thread_.joinable()) event_thread_.join();
        link_.reset();
        session_.reset();
        SimulatedReaderTest::TearDown();
    }

    void Happen(Event event) {
        event_at_ = std::chrono::steady_clock::now();
        switch (event) {
        case Event::Swap: model_->PutCard(other_); break;
        case Event::Remove: model_->RemoveCard(); break;
        case Event::Unplug: sim_.Unplug(); break;
        }
    }

    // The event happens once the reader received `frames` more frames: in
    // the middle of an exchange, not between two.
    void EventAfterFrames(Event event, std::size_t frames) {
        sim_.ClearFrames();
        event_thread_ = std::thread([this, event, frames] {
            sim_.WaitForFrames(frames, 30000);
            Happen(event);
        });
    }

    // The event happens right after the reader answered the Nth write.
    void EventAfterWrites(Event event, int writes) {
        const bool unplug = event == Event::Unplug;
        sim_.SetModel(std::make_shared<testing_support::EventAfterWrites>(
            model_, writes, [this, event, unplug] {
                if (unplug) {
                    event_at_ = std::chrono::steady_clock::now();
                } else {
                    Happen(event);
                }
            },
            unplug));
    }

    sim::Block Raw(const sim::MifareClassic &card, int block) const {
        sim::Block copy{};
        model_->Inspect([&] { copy = card.raw(block); });
        return copy;
    }

    // Ends when the work ends; how long after the event it went on.
    long StoppedAfterEventMs() {
        if (event_thread_.joinable()) event_thread_.join();
        return ElapsedMs(event_at_.load());
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::shared_ptr<sim::MifareClassic> first_ = SiteCard(kFirstUid, kFirstKey, 0x11);
    std::shared_ptr<sim::MifareClassic> other_ = SiteCard(kOtherUid, kFirstKey, 0x22);
    std::optional<zc::ReaderSession> session_;
    std::unique_ptr<zc::ReaderCardLink> link_;
    zc::CardIdentity identity_;
    std::thread event_thread_;
    std::atomic<std::chrono::steady_clock::time_point> event_at_{};
};

void ExpectLoss(const std::optional<zc::Reselection> &lost, zc::Selection found) {
    ASSERT_TRUE(lost.has_value());
    EXPECT_EQ(lost->outcome, found);
    if (found == zc::Selection::OtherCard) {
        EXPECT_EQ(lost->uid, std::vector<std::uint8_t>(kOtherUid.begin(), kOtherUid.end()));
    }
}

std::vector<zc::SectorKeys> KeysEverywhere(const zc::Key &key) { return std::vector<zc::SectorKeys>(16, {key, key}); }

}  // namespace

TEST_P(CardIdentityTest, WorkStopsAtOnceAndKeepsNothingOfAnotherCard) {
    const HostileCase &c = GetParam();
    // Removing a card is seen at the next answer, an unplugged reader after
    // one unanswered command (1000 ms): either well within two seconds.
    const long bound_ms = (c.event == Event::Unplug ? 2000 : 1000) * kSlack;

    if (c.work == Work::Keys) {
        // The other card opens with another key the dictionary also holds.
        other_ = SiteCard(kOtherUid, kOtherKey, 0x22);
        std::vector<zc::Key> dictionary(6, zc::Key{});
        for (std::size_t i = 0; i < dictionary.size(); ++i) dictionary[i][0] = static_cast<std::uint8_t>(i + 1);
        dictionary.push_back(kOtherKey);
        dictionary.push_back(kFirstKey);
        EventAfterFrames(c.event, 20);
        const zc::KeySearchResult result = zc::SearchKeys(*link_, zc::CardKind::Classic1K, dictionary, {}, {});
        EXPECT_LT(StoppedAfterEventMs(), bound_ms);
        ExpectLoss(result.lost, c.found);
        EXPECT_TRUE(result.card_lost);
        EXPECT_FALSE(result.complete);
        for (const zc::SectorKeys &keys : result.keys) {
            EXPECT_EQ(keys.a.value_or(kFirstKey), kFirstKey);
            EXPECT_EQ(keys.b.value_or(kFirstKey), kFirstKey);
        }
    } else if (c.work == Work::Dump) {
        EventAfterFrames(c.event, 30);
        std::optional<zc::Reselection> lost;
        const zc::CardImage image = zc::ReadCard(*link_, identity_, KeysEverywhere(kFirstKey), {}, {}, &lost);
        EXPECT_LT(StoppedAfterEventMs(), bound_ms);
        ExpectLoss(lost, c.found);
        EXPECT_TRUE(image.partial);
        EXPECT_GT(image.KnownBlockCount(), 0);
        EXPECT_LT(image.KnownBlockCount(), 64);
        for (int block = 0; block < 64; ++block) {
            if (image.BlockKnown(block) && block % 4 != 3) {
                EXPECT_EQ(image.blocks[block], Raw(*first_, block)) << "block " << block;
            }
        }
    } else {
        zc::CardImage now = zc::ReadCard(*link_, identity_, KeysEverywhere(kFirstKey), {}, {});
        ASSERT_FALSE(now.partial);
        zc::CardImage file = now;
        for (int block = 1; block < 64; ++block) {
            if (block % 4 != 3) file.blocks[block].fill(0x5A);
        }
        const zc::RestorePlan plan = zc::PlanRestore(file, now, {});
        ASSERT_FALSE(plan.HasFatal());
        std::vector<sim::Block> other_before;
        for (int block = 0; block < 64; ++block) other_before.push_back(Raw(*other_, block));

        EventAfterWrites(c.event, 12);
        const zc::RestoreReport report = zc::Restore(*link_, plan, {}, {});
        EXPECT_LT(StoppedAfterEventMs(), bound_ms);
        ExpectLoss(report.lost, c.found);
        EXPECT_FALSE(report.ok());
        EXPECT_GE(report.written, 11);  // the 12th is written and answered before the event
        EXPECT_LT(report.written, plan.WriteCount());
        for (int block : report.written_blocks) EXPECT_EQ(Raw(*first_, block), file.blocks[block]) << "block " << block;
        for (int block = 0; block < 64; ++block) EXPECT_EQ(Raw(*other_, block), other_before[block]) << "block " << block;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, CardIdentityTest,
    ::testing::Values(HostileCase{"KeysCardSwapped", Work::Keys, Event::Swap, zc::Selection::OtherCard},
                      HostileCase{"KeysCardRemoved", Work::Keys, Event::Remove, zc::Selection::NoCard},
                      HostileCase{"KeysReaderUnplugged", Work::Keys, Event::Unplug, zc::Selection::ReaderGone},
                      HostileCase{"DumpCardSwapped", Work::Dump, Event::Swap, zc::Selection::OtherCard},
                      HostileCase{"DumpCardRemoved", Work::Dump, Event::Remove, zc::Selection::NoCard},
                      HostileCase{"DumpReaderUnplugged", Work::Dump, Event::Unplug, zc::Selection::ReaderGone},
                      HostileCase{"RestoreCardSwapped", Work::Restore, Event::Swap, zc::Selection::OtherCard},
                      HostileCase{"RestoreCardRemoved", Work::Restore, Event::Remove, zc::Selection::NoCard},
                      HostileCase{"RestoreReaderUnplugged", Work::Restore, Event::Unplug, zc::Selection::ReaderGone}),
    [](const ::testing::TestParamInfo<HostileCase> &instance) { return std::string(instance.param.name); });

// A Mini is known by its UID like any other card: a restore stops when another
// Mini answers the new selection, and nothing is written onto it.
TEST_F(CardIdentityTest, MiniRestoreStopsWhenAnotherMiniIsSwappedIn) {
    constexpr int kMiniBlocks = 20;
    auto mini = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::Mini, kFirstUid, kFirstKey, kFirstKey,
                                                     sim::kTransportAccess);
    other_ = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::Mini, kOtherUid, kFirstKey, kFirstKey,
                                                  sim::kTransportAccess);
    model_->PutCard(mini);
    const auto identity = link_->Identify();
    ASSERT_TRUE(identity.has_value());
    ASSERT_EQ(identity->kind, zc::CardKind::Mini);
    const std::vector<zc::SectorKeys> keys(5, {kFirstKey, kFirstKey});
    zc::CardImage now = zc::ReadCard(*link_, *identity, keys, {}, {});
    ASSERT_FALSE(now.partial);
    zc::CardImage file = now;
    for (int block = 1; block < kMiniBlocks; ++block) {
        if (block % 4 != 3) file.blocks[block].fill(0x5A);
    }
    const zc::RestorePlan plan = zc::PlanRestore(file, now, {});
    ASSERT_FALSE(plan.HasFatal());

    EventAfterWrites(Event::Swap, 5);
    const zc::RestoreReport report = zc::Restore(*link_, plan, {}, {});
    StoppedAfterEventMs();
    ExpectLoss(report.lost, zc::Selection::OtherCard);
    EXPECT_LT(report.written, plan.WriteCount());
    for (int block : report.written_blocks) EXPECT_EQ(Raw(*mini, block), file.blocks[block]) << "block " << block;
    for (int block = 1; block < kMiniBlocks; ++block) {
        if (block % 4 == 3) continue;
        EXPECT_EQ(Raw(*other_, block), sim::Block{}) << "block " << block;
    }
}
