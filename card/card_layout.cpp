#include "card/card_layout.h"

#include "zelkor.h"

namespace zelkor::card {

namespace {
constexpr int kSmallSectors = 32;  // sectors 0-31 have 4 blocks
constexpr int kSmallSectorBlocks = 4;
constexpr int kLargeSectorBlocks = 16;
constexpr int kFirstLargeBlock = kSmallSectors * kSmallSectorBlocks;  // 128
}  // namespace

int SectorCount(CardKind kind) { return kind == CardKind::Classic1K ? 16 : 40; }

int BlockCount(CardKind kind) { return kind == CardKind::Classic1K ? 64 : 256; }

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

std::string_view KindName(CardKind kind) { return kind == CardKind::Classic1K ? "1K" : "4K"; }

int TypeCodeOf(CardKind kind) { return kind == CardKind::Classic1K ? CardS50 : CardS70; }

std::optional<CardKind> KindOfTypeCode(int type_code) {
    if (type_code == CardS50) return CardKind::Classic1K;
    if (type_code == CardS70) return CardKind::Classic4K;
    return std::nullopt;
}

char KeyLetter(KeyType type) { return type == KeyType::A ? 'A' : 'B'; }

}  // namespace zelkor::card
