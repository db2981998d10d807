// One card in memory: every block with a mask of the bytes that are known,
// the keys of every sector, and what identifies the card. Dumps are read
// into and written from this image; converting is reading one format and
// writing another.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "card/card_layout.h"

namespace zelkor::card {

// Bit i set: byte i of the block is known.
using ByteMask = std::uint16_t;
inline constexpr ByteMask kAllKnown = 0xFFFF;
inline constexpr ByteMask kNoneKnown = 0x0000;
// Bytes 0-5 (key A), 6-9 (access bytes), 10-15 (key B) of a trailer.
inline constexpr ByteMask kKeyAMask = 0x003F;
inline constexpr ByteMask kAccessMask = 0x03C0;
inline constexpr ByteMask kKeyBMask = 0xFC00;

struct SectorKeys {
    std::optional<Key> a;
    std::optional<Key> b;

    bool Complete() const { return a.has_value() && b.has_value(); }
    const std::optional<Key> &Of(KeyType type) const { return type == KeyType::A ? a : b; }
    std::optional<Key> &Of(KeyType type) { return type == KeyType::A ? a : b; }
    bool operator==(const SectorKeys &) const = default;
};

struct CardImage {
    CardKind kind = CardKind::Classic1K;
    std::vector<Block> blocks;         // BlockCount(kind) blocks
    std::vector<ByteMask> known_mask;  // one mask per block
    std::vector<SectorKeys> keys;      // one entry per sector
    std::vector<std::uint8_t> uid;     // empty when unknown
    std::optional<std::array<std::uint8_t, 2>> atqa;
    std::optional<std::uint8_t> sak;
    // Written by a read that stopped early or could not reach every sector.
    bool partial = false;

    // A card of `kind` with nothing known.
    static CardImage Blank(CardKind kind);

    int sector_count() const { return SectorCount(kind); }
    int block_count() const { return BlockCount(kind); }

    bool ByteKnown(int block, int byte) const;
    bool BlockKnown(int block) const;  // all 16 bytes
    bool BlockUnknown(int block) const;  // none of them
    // Stores `data`; bytes outside `mask` become unknown (and zero).
    void SetBlock(int block, const Block &data, ByteMask mask = kAllKnown);
    void ForgetBlock(int block);
    // Number of blocks whose bytes are all known.
    int KnownBlockCount() const;

    // Trailer bytes 6 to 9 of a sector, when all four are known.
    std::optional<std::array<std::uint8_t, 4>> AccessBytes(int sector) const;

    // Writes every known key into its trailer's key bytes and marks them known.
    void FillTrailerKeys();
    // Takes the keys from trailer key bytes that are known, overriding `keys`.
    // A dump's trailers are where keys travel in the text and raw formats.
    void TakeKeysFromTrailers();

    // Same kind, blocks, masks, keys, identity and partial flag.
    bool operator==(const CardImage &) const = default;
};

}  // namespace zelkor::card
