// The key search strategy against a card model held in memory: how many
// authentications and re-selections it needs, counted exactly.
#include <gtest/gtest.h>

#include <memory>

#include "card/key_search.h"
#include "sim/mifare_classic.h"

namespace zc = zelkor::card;

namespace {

// A link straight onto the simulated card: a failed or refused command
// leaves the card idle, and only Reselect() brings it back.
class CardModelLink : public zc::CardLink {
public:
    explicit CardModelLink(sim::MifareClassic &card) : card_(card) { Reselect(); }

    std::optional<zc::CardIdentity> Identify() override { return std::nullopt; }
    zc::Reselection Reselect() override {
        ++reselects;
        card_.PowerOff();
        const bool selected = card_.Request(false) && card_.Select();
        return {selected ? zc::Selection::SameCard : zc::Selection::NoCard, {}};
    }
    bool Authenticate(int sector, zc::KeyType type, const zc::Key &key) override {
        ++authentications;
        if (card_.state() != sim::IsoState::Active) return false;
        return card_.Authenticate(card_.FirstBlock(sector), type == zc::KeyType::A ? 0x60 : 0x61, key.data()) == 0;
    }
    std::optional<zc::Block> ReadBlock(int block) override {
        sim::Block out{};
        if (card_.state() != sim::IsoState::Active || card_.Read(block, out) != 0) return std::nullopt;
        return out;
    }
    bool WriteBlock(int, const zc::Block &) override { return false; }
    bool WriteTrailer(int, const zc::Block &, zc::KeyType, const zc::Key &) override { return false; }
    bool InitValue(int, std::int32_t) override { return false; }
    std::optional<std::int32_t> ReadValue(int) override { return std::nullopt; }
    bool ChangeValue(int, bool, std::int32_t) override { return false; }
    std::optional<std::vector<std::uint8_t>> ActivateCos() override { return std::nullopt; }
    std::optional<std::vector<std::uint8_t>> SendApdu(std::span<const std::uint8_t>) override { return std::nullopt; }
    bool DeactivateCos() override { return false; }

    int authentications = 0;
    int reselects = 0;

private:
    sim::MifareClassic &card_;
};

std::vector<zc::Key> Dictionary(int size) {
    std::vector<zc::Key> keys;
    for (int i = 0; i < size; ++i)
        keys.push_back({0x10, 0x20, static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i), 0x99});
    return keys;
}

constexpr std::array<std::uint8_t, 4> kUid = {1, 2, 3, 4};
// Data 000, trailer 011: key B is not readable and must be found by trying.
constexpr std::array<std::uint8_t, 4> kKeyBHidden = {0x7F, 0x07, 0x88, 0x69};
constexpr std::array<std::uint8_t, 4> kTransport = {0xFF, 0x07, 0x80, 0x69};

}  // namespace

TEST(KeySearchStrategy, SharedKeyDeepInTheDictionaryCostsOneSearch) {
    const auto dictionary = Dictionary(1000);
    const zc::Key key = dictionary[999];  // position 1000
    for (const auto &access : {kKeyBHidden, kTransport}) {
        sim::MifareClassic card(sim::MifareClassic::Model::S50, kUid, key, key, access);
        CardModelLink link(card);
        link.reselects = 0;
        const zc::KeySearchResult result = zc::SearchKeys(link, zc::CardKind::Classic1K, dictionary, {}, {});
        ASSERT_TRUE(result.complete);
        for (const zc::SectorKeys &k : result.keys) EXPECT_EQ(k, (zc::SectorKeys{key, key}));
        EXPECT_EQ(result.reselects, 999 + 1);  // one after each wrong key, one to confirm the card at the end
        EXPECT_EQ(link.reselects, 999 + 1);
        if (access == kKeyBHidden) {
            // 1000 for key A of sector 0, then the found key once for each other slot.
            EXPECT_EQ(result.authentications, 1000 + 31);
            EXPECT_EQ(result.keys_read_from_trailers, 0);
        } else {
            // Key B readable with key A: read from the trailer, never tried.
            EXPECT_EQ(result.authentications, 1000 + 15);
            EXPECT_EQ(result.keys_read_from_trailers, 16);
        }
        EXPECT_EQ(link.authentications, result.authentications);
    }
}

TEST(KeySearchStrategy, FoundKeysFirstAndSeedsKept) {
    const auto dictionary = Dictionary(6);
    sim::MifareClassic card(sim::MifareClassic::Model::S50, kUid, dictionary[5], dictionary[4], kKeyBHidden);
    card.SetTrailer(3, dictionary[0], kKeyBHidden, dictionary[1]);
    CardModelLink link(card);
    std::vector<zc::SectorKeys> known(16);
    known[7] = {dictionary[2], dictionary[3]};  // kept as given, not checked
    std::vector<zc::Progress> reports;
    const auto result = zc::SearchKeys(link, zc::CardKind::Classic1K, dictionary,
                                       [&](const zc::Progress &p) { reports.push_back(p); }, {}, known);
    EXPECT_TRUE(result.complete);
    EXPECT_EQ(result.keys[0], (zc::SectorKeys{dictionary[5], dictionary[4]}));
    EXPECT_EQ(result.keys[3], (zc::SectorKeys{dictionary[0], dictionary[1]}));
    EXPECT_EQ(result.keys[7], known[7]);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().total, 32);
    EXPECT_EQ(reports.back().sector, 15);
    EXPECT_EQ(reports.back().stage, zelkor::card::Stage::KeySearch);
    EXPECT_EQ(reports.back().keys.size(), 16u);
    for (std::size_t i = 1; i < reports.size(); ++i) EXPECT_GE(reports[i].authentications, reports[i - 1].authentications);
}

TEST(KeySearchStrategy, CandidateOrderPutsFoundKeysFirstOnce) {
    const auto d = Dictionary(4);
    const std::vector<zc::Key> found = {d[2], d[0]};
    EXPECT_EQ(zc::CandidateOrder(found, d), (std::vector<zc::Key>{d[2], d[0], d[1], d[3]}));
}

TEST(KeySearchStrategy, KeysMappedToASectorAreTriedThereFirst) {
    const auto dictionary = Dictionary(50);
    // Sector 2 alone has a key from deep in the dictionary.
    sim::MifareClassic card(sim::MifareClassic::Model::S50, kUid, dictionary[0], dictionary[0], kTransport);
    card.SetTrailer(2, dictionary[40], kTransport, dictionary[41]);
    std::vector<zc::SectorKeys> hints(16);
    hints[2] = {dictionary[40], std::nullopt};
    const auto plain = zc::SearchKeys(*std::make_unique<CardModelLink>(card), zc::CardKind::Classic1K, dictionary, {}, {});
    const auto hinted = zc::SearchKeys(*std::make_unique<CardModelLink>(card), zc::CardKind::Classic1K, dictionary, {}, {}, {}, hints);
    ASSERT_TRUE(plain.complete);
    ASSERT_TRUE(hinted.complete);
    EXPECT_EQ(hinted.keys, plain.keys);
    // Without the hint sector 2 tries key 0, then 1 to 40; with it, its key first.
    EXPECT_EQ(plain.authentications - hinted.authentications, 40);
}
