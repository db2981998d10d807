#include "card/access_conditions.h"

#include <algorithm>
#include <cstdio>
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

std::string Row(const std::string &label, Condition condition, std::initializer_list<Access> rights) {
    char head[32];
    std::snprintf(head, sizeof head, "  %-12s %s ", label.c_str(), ConditionBits(condition).c_str());
    std::string line = head;
    for (Access access : rights) {
        char cell[16];
        std::snprintf(cell, sizeof cell, " %-9s", std::string(AccessName(access)).c_str());
        line += cell;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line + "\n";
}

std::string BlockLabel(int position, bool sixteen) {
    if (!sixteen) return "block " + std::to_string(position);
    return "blocks " + std::to_string(position * 5) + "-" + std::to_string(position * 5 + 4);
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

std::string DescribeAccess(const DecodedAccess &access, bool sixteen_block_sector) {
    std::string out;
    const std::array<std::uint8_t, 3> plain = EncodeAccessBytes(access.conditions);
    if (access.transport) {
        out += "Transport configuration (FF0780): factory setting, key A may do everything.\n";
    } else if (access.consistent()) {
        out += "Consistent access bytes " + ToHex(plain) + ".\n";
    } else {
        std::string positions;
        for (int p = 0; p < 4; ++p) {
            if (access.position_consistent[static_cast<std::size_t>(p)]) continue;
            positions += (positions.empty() ? "" : ", ") + (p == 3 ? std::string("trailer") : BlockLabel(p, sixteen_block_sector));
        }
        out += "INCONSISTENT access bytes: the inverted copies do not match (" + positions +
               "). A card blocks such a sector; the rows below read the plain bits only.\n";
    }
    if (access.user_byte) {
        char user[48];
        std::snprintf(user, sizeof user, "User byte (GPB): %02X\n", *access.user_byte);
        out += user;
    }
    const Condition trailer = access.conditions[3];
    out += "  position     C1C2C3  read      write     increment decrement/transfer/restore\n";
    for (int p = 0; p < 3; ++p) {
        const Condition c = access.conditions[static_cast<std::size_t>(p)];
        const DataRights r = DataRightsOf(c, trailer);
        out += Row(BlockLabel(p, sixteen_block_sector), c, {r.read, r.write, r.increment, r.decrement_transfer_restore});
    }
    const TrailerRights t = TrailerRightsOf(trailer);
    out += "  position     C1C2C3  key A wr  bits rd   bits wr   key B rd  key B wr\n";
    out += Row("trailer", trailer, {t.key_a_write, t.access_bits_read, t.access_bits_write, t.key_b_read, t.key_b_write});
    if (KeyBReadable(trailer)) out += "Key B is readable with key A: it is data, not a key, and opens nothing.\n";
    if (!AccessBitsWritableAgain(trailer)) out += "The access bits can never be changed again.\n";
    return out;
}

}  // namespace zelkor::card
