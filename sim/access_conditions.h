// MIFARE Classic access conditions: the three access bytes of a sector
// trailer (bytes 6 to 8), the bits C1 C2 C3 of each block position, and what
// each key may do under them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace sim {

enum class KeyKind { A, B };

// Access condition of one block position, as the number 4*C1 + 2*C2 + C3.
using Condition = std::uint8_t;

// Conditions of positions 0, 1, 2 (data blocks or block groups) and 3 (trailer).
using SectorConditions = std::array<Condition, 4>;

// Decodes trailer bytes 6 to 8; nothing when an inverted copy does not match
// its plain bit (on a card such a sector is blocked).
std::optional<SectorConditions> DecodeAccessBytes(const std::uint8_t *bytes);
// The three access bytes for the given conditions (always consistent).
std::array<std::uint8_t, 3> EncodeAccessBytes(const SectorConditions &conditions);

enum class DataOp { Read, Write, Increment, Decrement };  // Decrement covers transfer and restore
enum class TrailerOp { ReadKeyA, WriteKeyA, ReadAccess, WriteAccess, ReadKeyB, WriteKeyB };

// The plain datasheet tables: may this key do this under this condition?
bool DataAllowed(Condition condition, DataOp op, KeyKind key);
bool TrailerAllowed(Condition trailer_condition, TrailerOp op, KeyKind key);

// Where key B can be read it is data, not a key: an authentication with it
// succeeds but grants no access at all.
bool KeyBReadable(Condition trailer_condition);
bool KeyGrantsAccess(Condition trailer_condition, KeyKind key);

}  // namespace sim
