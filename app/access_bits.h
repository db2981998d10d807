// MIFARE Classic access conditions: the control word (trailer bytes 6 to 9)
// and the conditions in words that the access-condition editor shows.
// Row 0..2 are the data blocks (or block groups), row 3 the sector trailer;
// a row's access number is n = C1 * 4 + C2 * 2 + C3.
#pragma once

#include <array>
#include <string_view>

namespace access_bits {

inline constexpr int kRows = 4;
inline constexpr int kTrailerRow = 3;
inline constexpr unsigned char kUserByte = 0x69;

using Words = std::array<std::string_view, 4>;
using Numbers = std::array<int, kRows>;
using Word = std::array<unsigned char, 4>;

// The items of one editor list, in index order.
struct Column {
    const char *const *items;
    int count;
};

// Data rows: read, write, increment, decrement/transfer/restore.
extern const std::array<Column, 4> kDataColumns;
// Trailer: key A write, access-bits write, key B read, key B write.
extern const std::array<Column, 4> kTrailerColumns;

// Conditions in words of access number n (0..7).
const Words &DataConditions(int n);
const Words &TrailerConditions(int n);

// Access numbers of the four rows, from trailer bytes 7 and 8 (word[1],
// word[2]); the inverted copies are not compared.
Numbers DecodeAccessNumbers(const unsigned char *word);

// The control word for four access numbers: byte 6 and the low half of byte 7
// hold the complements, byte 9 is 0x69.
Word EncodeControlWord(const Numbers &numbers);

// The access number whose words equal `words` exactly, trying the rows in
// the order 000, 010, 100, 110, 001, 011, 101, 111; -1 when none matches.
int MatchDataRow(const Words &words);
int MatchTrailerRow(const Words &words);

// Index of `word` among the column's items, -1 when absent.
int ItemIndex(const Column &column, std::string_view word);

// False when the trailer of `word` forbids any later write of the access bits.
bool AccessBitsWritable(const unsigned char *word);

}  // namespace access_bits
