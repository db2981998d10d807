#include "access_bits.h"

namespace access_bits {

namespace {

constexpr const char *kAB = "KeyA|B";
constexpr const char *kA = "KeyA";
constexpr const char *kB = "KeyB";
constexpr const char *kNever = "Never";

constexpr const char *kDataThree[] = {kAB, kB, kNever};
constexpr const char *kDataTwo[] = {kAB, kNever};
constexpr const char *kTrailerThree[] = {kA, kB, kNever};
constexpr const char *kTrailerTwo[] = {kA, kNever};

const std::array<Words, 8> kDataTable = {{
    {kAB, kAB, kAB, kAB},           // 000
    {kAB, kNever, kNever, kAB},     // 001
    {kAB, kNever, kNever, kNever},  // 010
    {kB, kB, kNever, kNever},       // 011
    {kAB, kB, kNever, kNever},      // 100
    {kB, kNever, kNever, kNever},   // 101
    {kAB, kB, kB, kAB},             // 110
    {kNever, kNever, kNever, kNever},  // 111
}};

const std::array<Words, 8> kTrailerTable = {{
    {kA, kNever, kA, kA},              // 000
    {kA, kA, kA, kA},                  // 001
    {kNever, kNever, kA, kNever},      // 010
    {kB, kB, kNever, kB},              // 011
    {kB, kNever, kNever, kB},          // 100
    {kNever, kB, kNever, kNever},      // 101
    {kNever, kNever, kNever, kNever},  // 110
    {kNever, kNever, kNever, kNever},  // 111
}};

constexpr int kMatchOrder[8] = {0, 2, 4, 6, 1, 3, 5, 7};

int Match(const std::array<Words, 8> &table, const Words &words) {
    for (int n : kMatchOrder)
        if (table[static_cast<size_t>(n)] == words) return n;
    return -1;
}

int Bit(unsigned value, int bit) { return static_cast<int>((value >> bit) & 1U); }

}  // namespace

const std::array<Column, 4> kDataColumns = {{
    {kDataThree, 3}, {kDataThree, 3}, {kDataThree, 3}, {kDataTwo, 2}}};
const std::array<Column, 4> kTrailerColumns = {{
    {kTrailerThree, 3}, {kTrailerThree, 3}, {kTrailerTwo, 2}, {kTrailerThree, 3}}};

const Words &DataConditions(int n) { return kDataTable[static_cast<size_t>(n & 7)]; }
const Words &TrailerConditions(int n) { return kTrailerTable[static_cast<size_t>(n & 7)]; }

Numbers DecodeAccessNumbers(const unsigned char *word) {
    Numbers numbers{};
    const unsigned byte7 = word[1];
    const unsigned byte8 = word[2];
    for (int b = 0; b < kRows; ++b) {
        const int c1 = Bit(byte7, 4 + b);
        const int c2 = Bit(byte8, b);
        const int c3 = Bit(byte8, 4 + b);
        numbers[static_cast<size_t>(b)] = c1 * 4 + c2 * 2 + c3;
    }
    return numbers;
}

Word EncodeControlWord(const Numbers &numbers) {
    unsigned c1 = 0, c2 = 0, c3 = 0;
    for (int b = 0; b < kRows; ++b) {
        const unsigned n = static_cast<unsigned>(numbers[static_cast<size_t>(b)]) & 7U;
        c1 |= ((n >> 2) & 1U) << b;
        c2 |= ((n >> 1) & 1U) << b;
        c3 |= (n & 1U) << b;
    }
    Word word{};
    word[0] = static_cast<unsigned char>(((~c2 & 0x0FU) << 4) | (~c1 & 0x0FU));
    word[1] = static_cast<unsigned char>((c1 << 4) | (~c3 & 0x0FU));
    word[2] = static_cast<unsigned char>((c3 << 4) | c2);
    word[3] = kUserByte;
    return word;
}

int MatchDataRow(const Words &words) { return Match(kDataTable, words); }
int MatchTrailerRow(const Words &words) { return Match(kTrailerTable, words); }

int ItemIndex(const Column &column, std::string_view word) {
    for (int i = 0; i < column.count; ++i)
        if (word == column.items[i]) return i;
    return -1;
}

bool AccessBitsWritable(const unsigned char *word) {
    const int n = DecodeAccessNumbers(word)[kTrailerRow];
    return TrailerConditions(n)[1] != std::string_view(kNever);
}

}  // namespace access_bits
