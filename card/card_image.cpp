#include "card/card_image.h"

#include <algorithm>

namespace zelkor::card {

CardImage CardImage::Blank(CardKind kind) {
    CardImage image;
    image.kind = kind;
    image.blocks.assign(static_cast<std::size_t>(BlockCount(kind)), Block{});
    image.known_mask.assign(static_cast<std::size_t>(BlockCount(kind)), kNoneKnown);
    image.keys.assign(static_cast<std::size_t>(SectorCount(kind)), SectorKeys{});
    return image;
}

bool CardImage::ByteKnown(int block, int byte) const {
    return (known_mask.at(static_cast<std::size_t>(block)) >> byte & 1u) != 0;
}

bool CardImage::BlockKnown(int block) const { return known_mask.at(static_cast<std::size_t>(block)) == kAllKnown; }

bool CardImage::BlockUnknown(int block) const { return known_mask.at(static_cast<std::size_t>(block)) == kNoneKnown; }

void CardImage::SetBlock(int block, const Block &data, ByteMask mask) {
    Block &stored = blocks.at(static_cast<std::size_t>(block));
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = (mask >> i & 1u) != 0 ? data[i] : 0;
    known_mask.at(static_cast<std::size_t>(block)) = mask;
}

void CardImage::ForgetBlock(int block) { SetBlock(block, Block{}, kNoneKnown); }

int CardImage::KnownBlockCount() const {
    return static_cast<int>(std::count(known_mask.begin(), known_mask.end(), kAllKnown));
}

std::optional<std::array<std::uint8_t, 4>> CardImage::AccessBytes(int sector) const {
    const int trailer = TrailerBlock(sector);
    if ((known_mask.at(static_cast<std::size_t>(trailer)) & kAccessMask) != kAccessMask) return std::nullopt;
    const Block &t = blocks[static_cast<std::size_t>(trailer)];
    return std::array<std::uint8_t, 4>{t[6], t[7], t[8], t[9]};
}

void CardImage::FillTrailerKeys() {
    for (int sector = 0; sector < sector_count() && sector < static_cast<int>(keys.size()); ++sector) {
        const auto trailer = static_cast<std::size_t>(TrailerBlock(sector));
        const SectorKeys &k = keys[static_cast<std::size_t>(sector)];
        if (k.a) {
            std::copy(k.a->begin(), k.a->end(), blocks[trailer].begin());
            known_mask[trailer] |= kKeyAMask;
        }
        if (k.b) {
            std::copy(k.b->begin(), k.b->end(), blocks[trailer].begin() + 10);
            known_mask[trailer] |= kKeyBMask;
        }
    }
}

void CardImage::TakeKeysFromTrailers() {
    keys.resize(static_cast<std::size_t>(sector_count()));
    for (int sector = 0; sector < sector_count(); ++sector) {
        const auto trailer = static_cast<std::size_t>(TrailerBlock(sector));
        const Block &t = blocks[trailer];
        SectorKeys &k = keys[static_cast<std::size_t>(sector)];
        if ((known_mask[trailer] & kKeyAMask) == kKeyAMask) k.a = Key{t[0], t[1], t[2], t[3], t[4], t[5]};
        if ((known_mask[trailer] & kKeyBMask) == kKeyBMask) k.b = Key{t[10], t[11], t[12], t[13], t[14], t[15]};
    }
}

}  // namespace zelkor::card
