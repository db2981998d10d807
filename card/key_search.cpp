#include "card/key_search.h"

#include <algorithm>
#include <set>

#include "card/access_conditions.h"
#include "card/key_files.h"

namespace zelkor::card {

std::vector<Key> CandidateOrder(std::span<const Key> found, std::span<const Key> dictionary) {
    std::vector<Key> order;
    std::set<Key> seen;
    for (const Key &key : found) {
        if (seen.insert(key).second) order.push_back(key);
    }
    for (const Key &key : dictionary) {
        if (seen.insert(key).second) order.push_back(key);
    }
    return order;
}

namespace {

// One search over the card; keeps the card selected between attempts.
class KeySearch {
public:
    KeySearch(CardLink &link, CardKind kind, std::span<const Key> dictionary, const ProgressFn &progress,
              std::stop_token stop, std::span<const SectorKeys> known, std::span<const SectorKeys> hints)
        : link_(link), dictionary_(UniqueKeys(dictionary)), progress_(progress), stop_(std::move(stop)),
          hints_(hints.begin(), hints.end()) {
        result_.keys.assign(static_cast<std::size_t>(SectorCount(kind)), SectorKeys{});
        for (std::size_t s = 0; s < known.size() && s < result_.keys.size(); ++s) result_.keys[s] = known[s];
        confirmed_ = result_.keys;
        found_ = KeysOfMap(result_.keys);
    }

    KeySearchResult Run() {
        for (int sector = 0; sector < static_cast<int>(result_.keys.size()) && !Stopped(); ++sector) SearchSector(sector);
        // Keys found since the last selection count once the card is known
        // to be the same one.
        if (sent_since_selection_ && !result_.card_lost) Reselect();
        result_.complete = !result_.cancelled && !result_.card_lost;
        for (const SectorKeys &k : result_.keys) result_.complete = result_.complete && k.Complete();
        return result_;
    }

private:
    SectorKeys &KeysOf(int sector) { return result_.keys[static_cast<std::size_t>(sector)]; }

    bool Stopped() {
        if (stop_.stop_requested()) result_.cancelled = true;
        return result_.cancelled || result_.card_lost;
    }

    void SearchSector(int sector) {
        SectorKeys &keys = KeysOf(sector);
        if (!keys.a) Search(sector, KeyType::A);
        if (keys.a && !keys.b && trailer_read_in_ != sector) ReadKeyBFromTrailer(sector, /*authenticated=*/false);
        if (!keys.b) Search(sector, KeyType::B);
        Report(sector);
    }

    // Tries every candidate in order until one opens the sector.
    void Search(int sector, KeyType type) {
        for (const Key &key : CandidateOrder(HintsFor(sector, type), CandidateOrder(found_, dictionary_))) {
            if (Stopped()) return;
            if (Try(sector, type, key)) {
                Found(sector, type, key);
                // Authenticated with key A now: the trailer may give key B away.
                if (type == KeyType::A && !KeysOf(sector).b) ReadKeyBFromTrailer(sector, /*authenticated=*/true);
                return;
            }
            Report(sector);
        }
    }

    // The hinted key of this type first, then the sector's other one.
    std::vector<Key> HintsFor(int sector, KeyType type) const {
        std::vector<Key> keys;
        if (static_cast<std::size_t>(sector) >= hints_.size()) return keys;
        const SectorKeys &hint = hints_[static_cast<std::size_t>(sector)];
        const KeyType other = type == KeyType::A ? KeyType::B : KeyType::A;
        if (hint.Of(type)) keys.push_back(*hint.Of(type));
        if (hint.Of(other)) keys.push_back(*hint.Of(other));
        return keys;
    }

    bool Try(int sector, KeyType type, const Key &key) {
        ++result_.authentications;
        sent_since_selection_ = true;
        if (link_.Authenticate(sector, type, key)) return true;
        Reselect();
        return false;
    }

    // A failed or refused command leaves the card out of its session.
    void Reselect() {
        ++result_.reselects;
        Reselection selection = link_.Reselect();
        sent_since_selection_ = !selection;
        if (selection) {
            confirmed_ = result_.keys;
            return;
        }
        // What was found since the last selection may be the other card's.
        result_.keys = confirmed_;
        result_.card_lost = true;
        result_.lost = std::move(selection);
    }

    void Found(int sector, KeyType type, const Key &key) {
        KeysOf(sector).Of(type) = key;
        if (std::find(found_.begin(), found_.end(), key) == found_.end()) found_.push_back(key);
    }

    // Reads the trailer with key A; takes key B when its access bits make it
    // readable (key B is data then, not a key).
    void ReadKeyBFromTrailer(int sector, bool authenticated) {
        if (Stopped()) return;
        trailer_read_in_ = sector;
        if (!authenticated && !Try(sector, KeyType::A, *KeysOf(sector).a)) return;
        sent_since_selection_ = true;
        const auto trailer = link_.ReadBlock(TrailerBlock(sector));
        if (!trailer) {
            Reselect();
            return;
        }
        const DecodedAccess access = DecodeAccessBytes(std::span<const std::uint8_t>(trailer->data() + 6, 3));
        if (!access.consistent() || !KeyBReadable(access.conditions[3])) return;
        ++result_.keys_read_from_trailers;
        Found(sector, KeyType::B, Key{(*trailer)[10], (*trailer)[11], (*trailer)[12], (*trailer)[13], (*trailer)[14], (*trailer)[15]});
    }

    void Report(int sector) {
        if (!progress_) return;
        int done = 0;
        for (const SectorKeys &k : result_.keys) done += (k.a ? 1 : 0) + (k.b ? 1 : 0);
        // Slots finished: found keys, plus those of sectors already passed.
        for (int s = 0; s < sector; ++s) {
            const SectorKeys &k = KeysOf(s);
            done += (k.a ? 0 : 1) + (k.b ? 0 : 1);
        }
        progress_(Progress{Stage::KeySearch, done, 2 * static_cast<int>(result_.keys.size()), sector, result_.authentications, result_.keys});
    }

    CardLink &link_;
    std::vector<Key> dictionary_;
    const ProgressFn &progress_;
    std::stop_token stop_;
    std::vector<SectorKeys> hints_;
    std::vector<Key> found_;
    std::vector<SectorKeys> confirmed_;  // the keys when a selection last found the same card
    bool sent_since_selection_ = false;
    int trailer_read_in_ = -1;  // the sector whose trailer was read last
    KeySearchResult result_;
};

}  // namespace

KeySearchResult SearchKeys(CardLink &link, CardKind kind, std::span<const Key> dictionary, const ProgressFn &progress,
                           std::stop_token stop, std::span<const SectorKeys> known, std::span<const SectorKeys> hints) {
    return KeySearch(link, kind, dictionary, progress, std::move(stop), known, hints).Run();
}

}  // namespace zelkor::card
