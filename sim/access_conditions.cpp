#include "sim/access_conditions.h"

namespace sim {

namespace {

constexpr std::uint8_t kNone = 0;
constexpr std::uint8_t kA = 1;
constexpr std::uint8_t kB = 2;
constexpr std::uint8_t kAB = kA | kB;

// Indexed by 4*C1 + 2*C2 + C3; columns read, write, increment, decrement.
constexpr std::uint8_t kDataTable[8][4] = {
    {kAB, kAB, kAB, kAB},      // 000 transport configuration
    {kAB, kNone, kNone, kAB},  // 001 value block, decrement only
    {kAB, kNone, kNone, kNone},  // 010 read only
    {kB, kB, kNone, kNone},    // 011
    {kAB, kB, kNone, kNone},   // 100
    {kB, kNone, kNone, kNone},  // 101
    {kAB, kB, kB, kAB},        // 110 value block
    {kNone, kNone, kNone, kNone},  // 111
};

// Columns: key A read, key A write, access read, access write, key B read, key B write.
constexpr std::uint8_t kTrailerTable[8][6] = {
    {kNone, kA, kA, kNone, kA, kA},    // 000
    {kNone, kA, kA, kA, kA, kA},       // 001 transport configuration
    {kNone, kNone, kA, kNone, kA, kNone},  // 010
    {kNone, kB, kAB, kB, kNone, kB},   // 011
    {kNone, kB, kAB, kNone, kNone, kB},  // 100
    {kNone, kNone, kAB, kB, kNone, kNone},  // 101
    {kNone, kNone, kAB, kNone, kNone, kNone},  // 110
    {kNone, kNone, kAB, kNone, kNone, kNone},  // 111
};

std::uint8_t Mask(KeyKind key) { return key == KeyKind::A ? kA : kB; }
int Bit(std::uint8_t byte, int bit) { return (byte >> bit) & 1; }

}  // namespace

std::optional<SectorConditions> DecodeAccessBytes(const std::uint8_t *bytes) {
    SectorConditions out{};
    for (int position = 0; position < 4; ++position) {
        const int c1 = Bit(bytes[1], 4 + position);
        const int c2 = Bit(bytes[2], position);
        const int c3 = Bit(bytes[2], 4 + position);
        const int not_c1 = Bit(bytes[0], position);
        const int not_c2 = Bit(bytes[0], 4 + position);
        const int not_c3 = Bit(bytes[1], position);
        if (c1 == not_c1 || c2 == not_c2 || c3 == not_c3) return std::nullopt;
        out[static_cast<std::size_t>(position)] = static_cast<Condition>(c1 << 2 | c2 << 1 | c3);
    }
    return out;
}

std::array<std::uint8_t, 3> EncodeAccessBytes(const SectorConditions &conditions) {
    unsigned c1 = 0, c2 = 0, c3 = 0;
    for (unsigned position = 0; position < 4; ++position) {
        const unsigned c = conditions[position] & 7u;
        c1 |= ((c >> 2) & 1u) << position;
        c2 |= ((c >> 1) & 1u) << position;
        c3 |= (c & 1u) << position;
    }
    return {static_cast<std::uint8_t>(((~c2 & 0xFu) << 4) | (~c1 & 0xFu)),
            static_cast<std::uint8_t>((c1 << 4) | (~c3 & 0xFu)),
            static_cast<std::uint8_t>((c3 << 4) | c2)};
}

bool DataAllowed(Condition condition, DataOp op, KeyKind key) {
    return (kDataTable[condition & 7][static_cast<int>(op)] & Mask(key)) != 0;
}

bool TrailerAllowed(Condition trailer_condition, TrailerOp op, KeyKind key) {
    return (kTrailerTable[trailer_condition & 7][static_cast<int>(op)] & Mask(key)) != 0;
}

bool KeyBReadable(Condition trailer_condition) {
    return TrailerAllowed(trailer_condition, TrailerOp::ReadKeyB, KeyKind::A);
}

bool KeyGrantsAccess(Condition trailer_condition, KeyKind key) {
    return key == KeyKind::A || !KeyBReadable(trailer_condition);
}

}  // namespace sim
