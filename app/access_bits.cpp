#include "app/access_bits.h"

#include <span>

#include "card/access_conditions.h"

namespace access_bits {

namespace {

using zelkor::card::Access;
using zelkor::card::Condition;

constexpr const char *kAB = "KeyA|B";
constexpr const char *kA = "KeyA";
constexpr const char *kB = "KeyB";
constexpr const char *kNever = "Never";

constexpr const char *kDataThree[] = {kAB, kB, kNever};
constexpr const char *kDataTwo[] = {kAB, kNever};
constexpr const char *kTrailerThree[] = {kA, kB, kNever};
constexpr const char *kTrailerTwo[] = {kA, kNever};

const char *EditorWord(Access access) {
    switch (access) {
    case Access::Never: return kNever;
    case Access::KeyA: return kA;
    case Access::KeyB: return kB;
    case Access::KeyAOrB: return kAB;
    }
    return kNever;
}

// The editor's words of every access number, from the toolkit's one table.
std::array<Words, 8> BuildDataTable() {
    std::array<Words, 8> table{};
    for (int n = 0; n < 8; ++n) {
        const auto rights = zelkor::card::ListedDataRights(static_cast<Condition>(n));
        table[static_cast<size_t>(n)] = {EditorWord(rights.read), EditorWord(rights.write),
                                         EditorWord(rights.increment),
                                         EditorWord(rights.decrement_transfer_restore)};
    }
    return table;
}

std::array<Words, 8> BuildTrailerTable() {
    std::array<Words, 8> table{};
    for (int n = 0; n < 8; ++n) {
        const auto rights = zelkor::card::TrailerRightsOf(static_cast<Condition>(n));
        table[static_cast<size_t>(n)] = {EditorWord(rights.key_a_write), EditorWord(rights.access_bits_write),
                                         EditorWord(rights.key_b_read), EditorWord(rights.key_b_write)};
    }
    return table;
}

const std::array<Words, 8> kDataTable = BuildDataTable();
const std::array<Words, 8> kTrailerTable = BuildTrailerTable();

constexpr int kMatchOrder[8] = {0, 2, 4, 6, 1, 3, 5, 7};

int Match(const std::array<Words, 8> &table, const Words &words) {
    for (int n : kMatchOrder)
        if (table[static_cast<size_t>(n)] == words) return n;
    return -1;
}

}  // namespace

const std::array<Column, 4> kDataColumns = {{
    {kDataThree, 3}, {kDataThree, 3}, {kDataThree, 3}, {kDataTwo, 2}}};
const std::array<Column, 4> kTrailerColumns = {{
    {kTrailerThree, 3}, {kTrailerThree, 3}, {kTrailerTwo, 2}, {kTrailerThree, 3}}};

const Words &DataConditions(int n) { return kDataTable[static_cast<size_t>(n & 7)]; }
const Words &TrailerConditions(int n) { return kTrailerTable[static_cast<size_t>(n & 7)]; }

Numbers DecodeAccessNumbers(const unsigned char *word) {
    const auto decoded = zelkor::card::DecodeAccessBytes(std::span<const unsigned char>(word, 3));
    Numbers numbers{};
    for (int row = 0; row < kRows; ++row) numbers[static_cast<size_t>(row)] = decoded.conditions[static_cast<size_t>(row)];
    return numbers;
}

Word EncodeControlWord(const Numbers &numbers) {
    zelkor::card::SectorConditions conditions{};
    for (int row = 0; row < kRows; ++row)
        conditions[static_cast<size_t>(row)] = static_cast<Condition>(numbers[static_cast<size_t>(row)] & 7);
    const auto bytes = zelkor::card::EncodeAccessBytes(conditions);
    return {bytes[0], bytes[1], bytes[2], kUserByte};
}

int MatchDataRow(const Words &words) { return Match(kDataTable, words); }
int MatchTrailerRow(const Words &words) { return Match(kTrailerTable, words); }

int ItemIndex(const Column &column, std::string_view word) {
    for (int i = 0; i < column.count; ++i)
        if (word == column.items[i]) return i;
    return -1;
}

bool AccessBitsWritable(const unsigned char *word) {
    return zelkor::card::AccessBitsWritableAgain(static_cast<Condition>(DecodeAccessNumbers(word)[kTrailerRow]));
}

}  // namespace access_bits
