#include "card/card_dump.h"

#include <array>
#include <utility>
#include <vector>

#include "card/access_conditions.h"

namespace zelkor::card {

namespace {

// Reads one card sector by sector, keeping track of which key the card is
// authenticated with so that each sector costs as few authentications as
// its access bits allow.
class CardReader {
public:
    CardReader(CardLink &link, CardImage &image, const ProgressFn &progress)
        : link_(link), image_(image), progress_(progress) {}

    void ReadSector(int sector) {
        const SectorKeys keys = image_.keys[static_cast<std::size_t>(sector)];
        if (!keys.a && !keys.b) {
            image_.partial = true;
            return;
        }
        const std::optional<DecodedAccess> access = ReadTrailer(sector);
        for (int block = FirstBlock(sector); block < TrailerBlock(sector) && !lost_; ++block) {
            if (!ReadDataBlock(sector, block, access)) image_.partial = true;
        }
        if (!lost_ && !just_selected_) Reselect();
        if (lost_) Forget(sector, keys);
    }

    const std::optional<Reselection> &lost() const { return lost_; }

    void Report(int sector) {
        if (progress_) progress_(Progress{Stage::Dump, sector + 1, image_.sector_count(), sector, authentications_, {}});
    }

private:
    const SectorKeys &KeysOf(int sector) const { return image_.keys[static_cast<std::size_t>(sector)]; }

    bool Authenticate(int sector, KeyType type) {
        if (session_sector_ == sector && session_type_ == type) return true;
        const auto &key = KeysOf(sector).Of(type);
        if (lost_ || !key || Refused(sector, type)) return false;
        ++authentications_;
        just_selected_ = false;
        if (link_.Authenticate(sector, type, *key)) {
            session_sector_ = sector;
            session_type_ = type;
            return true;
        }
        // A wrong key stays wrong: not tried again for the sector's other blocks.
        if (refused_sector_ != sector) refused_ = {false, false};
        refused_sector_ = sector;
        refused_[static_cast<std::size_t>(type)] = true;
        Recover();
        return false;
    }

    bool Refused(int sector, KeyType type) const {
        return refused_sector_ == sector && refused_[static_cast<std::size_t>(type)];
    }

    // A failed or refused command leaves the card out of its session.
    void Recover() {
        session_sector_ = -1;
        Reselect();
    }

    void Reselect() {
        Reselection selection = link_.Reselect();
        just_selected_ = static_cast<bool>(selection);
        if (!selection) lost_ = std::move(selection);
    }

    // What was read of a sector since the card was last confirmed.
    void Forget(int sector, const SectorKeys &keys_before) {
        for (int block = FirstBlock(sector); block <= TrailerBlock(sector); ++block) image_.ForgetBlock(block);
        image_.keys[static_cast<std::size_t>(sector)] = keys_before;
        image_.partial = true;
    }

    std::optional<Block> Read(int block) {
        if (lost_) return std::nullopt;
        just_selected_ = false;
        auto data = link_.ReadBlock(block);
        if (!data) Recover();
        return data;
    }

    // The trailer read with key A where known (access bits are always
    // readable with it), otherwise with key B.
    std::optional<DecodedAccess> ReadTrailer(int sector) {
        const int trailer = TrailerBlock(sector);
        for (const KeyType type : {KeyType::A, KeyType::B}) {
            if (!Authenticate(sector, type)) continue;
            const auto data = Read(trailer);
            if (!data) continue;
            const DecodedAccess access = DecodeAccessBytes(std::span<const std::uint8_t>(data->data() + 6, 4));
            ByteMask mask = kAccessMask;
            if (Allows(TrailerRightsOf(access.conditions[3]).key_b_read, type)) {
                mask |= kKeyBMask;
                image_.keys[static_cast<std::size_t>(sector)].b = Key{(*data)[10], (*data)[11], (*data)[12],
                                                                      (*data)[13], (*data)[14], (*data)[15]};
            }
            image_.SetBlock(trailer, *data, mask);
            return access;
        }
        image_.partial = true;
        return std::nullopt;
    }

    // Keys that may read the block, the one in use first. Without the access
    // bits every known key is worth a try.
    std::vector<KeyType> ReadersOf(int block, const std::optional<DecodedAccess> &access) const {
        std::vector<KeyType> order{KeyType::A, KeyType::B};
        if (session_sector_ >= 0 && session_type_ == KeyType::B) std::swap(order[0], order[1]);
        if (!access) return order;
        const auto position = static_cast<std::size_t>(AccessPositionOfBlock(block));
        const Access read = DataRightsOf(access->conditions[position], access->conditions[3]).read;
        std::erase_if(order, [read](KeyType type) { return !Allows(read, type); });
        return order;
    }

    bool ReadDataBlock(int sector, int block, const std::optional<DecodedAccess> &access) {
        for (const KeyType type : ReadersOf(block, access)) {
            if (!Authenticate(sector, type)) continue;
            if (const auto data = Read(block)) {
                image_.SetBlock(block, *data);
                return true;
            }
        }
        return false;
    }

    CardLink &link_;
    CardImage &image_;
    const ProgressFn &progress_;
    int session_sector_ = -1;  // -1: not authenticated
    KeyType session_type_ = KeyType::A;
    int refused_sector_ = -1;  // the sector of the keys the card refused
    std::array<bool, 2> refused_{};  // by KeyType
    int authentications_ = 0;
    bool just_selected_ = true;  // nothing sent since the card was selected as the same one
    std::optional<Reselection> lost_;
};

}  // namespace

CardImage ReadCard(CardLink &link, const CardIdentity &identity, std::span<const SectorKeys> keys,
                   const ProgressFn &progress, std::stop_token stop, std::optional<Reselection> *lost) {
    CardImage image = CardImage::Blank(identity.kind.value_or(CardKind::Classic1K));
    image.uid = identity.uid;
    if (!identity.kind) {  // not a MIFARE Classic card: nothing to read
        image.partial = true;
        return image;
    }
    image.atqa = identity.atqa;
    image.sak = identity.sak;
    for (std::size_t s = 0; s < keys.size() && s < image.keys.size(); ++s) image.keys[s] = keys[s];
    CardReader reader(link, image, progress);
    for (int sector = 0; sector < image.sector_count(); ++sector) {
        if (stop.stop_requested()) {
            image.partial = true;
            break;
        }
        reader.ReadSector(sector);
        if (reader.lost()) break;
        reader.Report(sector);
    }
    if (lost != nullptr) *lost = reader.lost();
    image.FillTrailerKeys();
    return image;
}

}  // namespace zelkor::card
