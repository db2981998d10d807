#include "card/access_conditions.h"

#include <algorithm>
#include <stdexcept>

#include "card/hex.h"

namespace zelkor::card {

namespace {

constexpr Access N = Access::Never;
constexpr Access A = Access::KeyA;
constexpr Access B = Access::KeyB;
constexpr Access AB = Access::KeyAOrB;

// Indexed by 4*C1 + 2*C2 + C3.
constexpr DataRights kDataTable[8] = {
    {AB, AB, AB, AB},  // 000 transport configuration
    {AB, N, N, AB},    // 001 value block, decrement only
    {AB, N, N, N},     // 010 read only
    {B, B, N, N},      // 011
    {AB, B, N, N},     // 100
    {B, N, N, N},      // 101
    {AB, B, B, AB},    // 110 value block
    {N, N, N, N},      // 111 blocked
};

constexpr TrailerRights kTrailerTable[8] = {
    {N, A, A, N, A, A},    // 000
    {N, A, A, A, A, A},    // 001 transport configuration
    {N, N, A, N, A, N},    // 010
    {N, B, AB, B, N, B},   // 011
    {N, B, AB, N, N, B},   // 100
    {N, N, AB, B, N, N},   // 101
    {N, N, AB, N, N, N},   // 110
    {N, N, AB, N, N, N},   // 111
};

int Bit(std::uint8_t byte, int bit) { return byte >> bit & 1; }

// Key B is data where it can be read: it opens nothing.
Access WithoutKeyB(Access access) {
    if (access == AB) return A;
    if (access == B) return N;
    return access;
}

}  // namespace

bool DecodedAccess::consistent() const {
    return std::all_of(position_consistent.begin(), position_consistent.end(), [](bool ok) { return ok; });
}

DecodedAccess DecodeAccessBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != 3 && bytes.size() != 4)
        throw std::invalid_argument("access bytes are 3 or 4 bytes, not " + std::to_string(bytes.size()));
    DecodedAccess out;
    for (int position = 0; position < 4; ++position) {
        const int c1 = Bit(bytes[1], 4 + position);
        const int c2 = Bit(bytes[2], position);
        const int c3 = Bit(bytes[2], 4 + position);
        const int not_c1 = Bit(bytes[0], position);
        const int not_c2 = Bit(bytes[0], 4 + position);
        const int not_c3 = Bit(bytes[1], position);
        const auto p = static_cast<std::size_t>(position);
        out.conditions[p] = static_cast<Condition>(c1 << 2 | c2 << 1 | c3);
        out.position_consistent[p] = c1 != not_c1 && c2 != not_c2 && c3 != not_c3;
    }
    if (bytes.size() == 4) out.user_byte = bytes[3];
    out.transport = std::equal(kTransportAccessBytes.begin(), kTransportAccessBytes.end(), bytes.begin());
    return out;
}

std::array<std::uint8_t, 3> EncodeAccessBytes(const SectorConditions &conditions) {
    unsigned c1 = 0, c2 = 0, c3 = 0;
    for (unsigned position = 0; position < 4; ++position) {
        const unsigned c = conditions[position] & 7u;
        c1 |= (c >> 2 & 1u) << position;
        c2 |= (c >> 1 & 1u) << position;
        c3 |= (c & 1u) << position;
    }
    return {static_cast<std::uint8_t>((~c2 & 0xFu) << 4 | (~c1 & 0xFu)),
            static_cast<std::uint8_t>(c1 << 4 | (~c3 & 0xFu)), static_cast<std::uint8_t>(c3 << 4 | c2)};
}

bool Allows(Access access, KeyType key) {
    if (access == Access::KeyAOrB) return true;
    return (access == Access::KeyA && key == KeyType::A) || (access == Access::KeyB && key == KeyType::B);
}

std::string_view AccessName(Access access) {
    switch (access) {
    case Access::Never: return "never";
    case Access::KeyA: return "key A";
    case Access::KeyB: return "key B";
    case Access::KeyAOrB: return "key A|B";
    }
    return "never";
}

DataRights ListedDataRights(Condition condition) { return kDataTable[condition & 7]; }

DataRights DataRightsOf(Condition condition, Condition trailer_condition) {
    DataRights rights = ListedDataRights(condition);
    if (KeyBReadable(trailer_condition)) {
        rights.read = WithoutKeyB(rights.read);
        rights.write = WithoutKeyB(rights.write);
        rights.increment = WithoutKeyB(rights.increment);
        rights.decrement_transfer_restore = WithoutKeyB(rights.decrement_transfer_restore);
    }
    return rights;
}

TrailerRights TrailerRightsOf(Condition trailer_condition) { return kTrailerTable[trailer_condition & 7]; }

bool KeyBReadable(Condition trailer_condition) {
    return kTrailerTable[trailer_condition & 7].key_b_read != Access::Never;
}

bool AccessBitsWritableAgain(Condition trailer_condition) {
    return kTrailerTable[trailer_condition & 7].access_bits_write != Access::Never;
}

std::string ConditionBits(Condition condition) {
    std::string bits = "000";
    for (int i = 0; i < 3; ++i) bits[static_cast<std::size_t>(i)] = (condition >> (2 - i) & 1) != 0 ? '1' : '0';
    return bits;
}

}  // namespace zelkor::card
