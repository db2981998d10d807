// MIFARE Classic access conditions: the access bytes of a sector trailer
// (bytes 6 to 9), the bits C1 C2 C3 of each block position, and what each key
// may do under them, in words.
//
// Position 3 is the trailer; positions 0 to 2 are the data blocks of a
// 4-block sector or the block groups 0-4, 5-9, 10-14 of a 16-block sector.
// A position's condition is the number 4*C1 + 2*C2 + C3.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "card/card_layout.h"

namespace zelkor::card {

using Condition = std::uint8_t;
using SectorConditions = std::array<Condition, 4>;

// The transport (factory) access bytes FF 07 80: data 000, trailer 001.
inline constexpr std::array<std::uint8_t, 3> kTransportAccessBytes = {0xFF, 0x07, 0x80};

struct DecodedAccess {
    SectorConditions conditions{};  // from the plain bits
    // Per position: every inverted copy matches its plain bit.
    std::array<bool, 4> position_consistent{};
    std::optional<std::uint8_t> user_byte;  // byte 9 when four bytes were given
    bool transport = false;  // the first three bytes are FF 07 80

    // A card blocks the whole sector when any copy does not match.
    bool consistent() const;
};

// Decodes 3 or 4 access bytes; throws std::invalid_argument for other sizes.
DecodedAccess DecodeAccessBytes(std::span<const std::uint8_t> bytes);
// The three consistent access bytes of four conditions.
std::array<std::uint8_t, 3> EncodeAccessBytes(const SectorConditions &conditions);

// Who may do an operation.
enum class Access { Never, KeyA, KeyB, KeyAOrB };
bool Allows(Access access, KeyType key);
std::string_view AccessName(Access access);  // "never", "key A", "key B", "key A|B"

struct DataRights {
    Access read = Access::Never;
    Access write = Access::Never;
    Access increment = Access::Never;
    Access decrement_transfer_restore = Access::Never;
};

struct TrailerRights {
    Access key_a_read = Access::Never;  // key A never reads back
    Access key_a_write = Access::Never;
    Access access_bits_read = Access::Never;
    Access access_bits_write = Access::Never;
    Access key_b_read = Access::Never;
    Access key_b_write = Access::Never;
};

// Rights of a data position under `condition` as the table lists them, with
// key B counted as a key whatever the trailer says.
DataRights ListedDataRights(Condition condition);
// Rights of a data position under `condition`. Where the trailer's condition
// makes key B readable, key B is data rather than a key and grants nothing,
// so it is taken out of the result.
DataRights DataRightsOf(Condition condition, Condition trailer_condition);
TrailerRights TrailerRightsOf(Condition trailer_condition);

// Key B can be read with key A (trailer conditions 000, 001, 010).
bool KeyBReadable(Condition trailer_condition);
// Some key may still write the access bits after they are set to this.
bool AccessBitsWritableAgain(Condition trailer_condition);

// "C1C2C3" as three digits, for example "001".
std::string ConditionBits(Condition condition);

}  // namespace zelkor::card
