#include "card/card_layout.h"

#include "zelkor.h"

namespace zelkor::card {

namespace {
constexpr int kSmallSectors = 32;  // sectors 0-31 have 4 blocks
constexpr int kSmallSectorBlocks = 4;
constexpr int kLargeSectorBlocks = 16;
constexpr int kFirstLargeBlock = kSmallSectors * kSmallSectorBlocks;  // 128
}  // namespace

int SectorCount(CardKind kind) {
    switch (kind) {
    case CardKind::Mini: return 5;
    case CardKind::Classic1K: return 16;
    case CardKind::Classic4K: return 40;
    }
    return 0;
}

int BlockCount(CardKind kind) { return kind == CardKind::Classic4K ? 256 : SectorCount(kind) * kSmallSectorBlocks; }

std::optional<CardKind> KindOfBlockCount(int blocks) {
    for (const CardKind kind : {CardKind::Mini, CardKind::Classic1K, CardKind::Classic4K}) {
        if (BlockCount(kind) == blocks) return kind;
    }
    return std::nullopt;
}

int BlocksInSector(int sector) { return sector < kSmallSectors ? kSmallSectorBlocks : kLargeSectorBlocks; }

int FirstBlock(int sector) {
    if (sector < kSmallSectors) return sector * kSmallSectorBlocks;
    return kFirstLargeBlock + (sector - kSmallSectors) * kLargeSectorBlocks;
}

int TrailerBlock(int sector) { return FirstBlock(sector) + BlocksInSector(sector) - 1; }

int SectorOfBlock(int block) {
    if (block < kFirstLargeBlock) return block / kSmallSectorBlocks;
    return kSmallSectors + (block - kFirstLargeBlock) / kLargeSectorBlocks;
}

bool IsTrailer(int block) { return block == TrailerBlock(SectorOfBlock(block)); }

int AccessPositionOfBlock(int block) {
    const int sector = SectorOfBlock(block);
    const int offset = block - FirstBlock(sector);
    if (BlocksInSector(sector) == kSmallSectorBlocks) return offset;
    return offset == kLargeSectorBlocks - 1 ? 3 : offset / 5;
}

std::string_view KindName(CardKind kind) {
    switch (kind) {
    case CardKind::Mini: return "Mini";
    case CardKind::Classic1K: return "1K";
    case CardKind::Classic4K: return "4K";
    }
    return "";
}

int TypeCodeOf(CardKind kind) { return kind == CardKind::Classic4K ? CardS70 : CardS50; }

std::optional<CardKind> KindOfTypeCode(int type_code) {
    if (type_code == CardS50) return CardKind::Classic1K;
    if (type_code == CardS70) return CardKind::Classic4K;
    return std::nullopt;
}

std::optional<CardKind> KindOfCard(int type_code, std::optional<std::uint8_t> sak) {
    const auto kind = KindOfTypeCode(type_code);
    if (kind == CardKind::Classic1K && sak == kMiniSak) return CardKind::Mini;
    return kind;
}

char KeyLetter(KeyType type) { return type == KeyType::A ? 'A' : 'B'; }

}  // namespace zelkor::card
