// MIFARE Classic memory layout: sectors, blocks and trailers of the Mini,
// 1K (S50) and 4K (S70) cards, and the key and block types the toolkit passes
// around.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelkor::card {

// A Mini is the first 5 sectors of a 1K: same sector shape, 20 blocks.
enum class CardKind { Classic1K, Classic4K, Mini };

// Key A authenticates with 0x60, key B with 0x61.
enum class KeyType { A, B };

using Key = std::array<std::uint8_t, 6>;
using Block = std::array<std::uint8_t, 16>;

inline constexpr int kBlockSize = 16;
inline constexpr int kManufacturerBlock = 0;
// The select answer of a Mini.
inline constexpr std::uint8_t kMiniSak = 0x09;

int SectorCount(CardKind kind);  // 5, 16 or 40
int BlockCount(CardKind kind);   // 20, 64 or 256
// The kind with exactly `blocks` blocks, if any.
std::optional<CardKind> KindOfBlockCount(int blocks);
// Sectors 0 to 31 have 4 blocks, sectors 32 to 39 have 16.
int BlocksInSector(int sector);
int FirstBlock(int sector);
int TrailerBlock(int sector);
int SectorOfBlock(int block);
bool IsTrailer(int block);
// Access-condition position (0 to 2 data, 3 trailer) of an absolute block: in
// a 16-block sector the data positions are the groups 0-4, 5-9 and 10-14.
int AccessPositionOfBlock(int block);

// "Mini", "1K" or "4K".
std::string_view KindName(CardKind kind);
// Card type code of the library (11 S50 and Mini, 12 S70) and back; other
// codes are not MIFARE Classic and give nothing.
int TypeCodeOf(CardKind kind);
std::optional<CardKind> KindOfTypeCode(int type_code);
// The reader reports a Mini as an S50 (their ATQA is the same); only the
// select answer (SAK 09) tells them apart.
std::optional<CardKind> KindOfCard(int type_code, std::optional<std::uint8_t> sak);

char KeyLetter(KeyType type);  // 'A' or 'B'

}  // namespace zelkor::card
