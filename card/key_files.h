// Keys from files: the dictionary text the common tools share (one 12-digit
// hexadecimal key per line, '#' comments and blank lines ignored), and key
// maps as JSON: {"SectorKeys": {"0": {"KeyA": "FFFFFFFFFFFF", "KeyB": ...}}}.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_image.h"

namespace zelkor::card {

// Well-known keys, the factory key first.
std::span<const Key> BuiltinKeys();

// Throws FileError with the file and line of the first bad line.
std::vector<Key> ParseKeyDictionary(std::string_view text, std::string_view file_name);
std::vector<Key> LoadKeyDictionary(const std::string &path);

// Keys in order of first appearance, each once.
std::vector<Key> UniqueKeys(std::span<const Key> keys);
// Every key of a key map (A before B, sector by sector), each once.
std::vector<Key> KeysOfMap(std::span<const SectorKeys> keys);

// Entry i is sector i; sectors missing from the file have no keys. Throws
// FileError with the JSON path of a bad entry.
std::vector<SectorKeys> ParseKeyMap(std::string_view json_text, std::string_view file_name);
std::vector<SectorKeys> LoadKeyMap(const std::string &path);
// Unknown keys are left out of their sector's entry.
std::string WriteKeyMap(std::span<const SectorKeys> keys);
void SaveKeyMap(const std::string &path, std::span<const SectorKeys> keys);

// The Proxmark3 key file (.bin): key A of every sector, then key B of every
// sector, 6 bytes each: 60, 192 or 480 bytes for a Mini, 1K or 4K. Throws
// FileError for any other size.
std::vector<SectorKeys> ParseKeyBinary(std::string_view bytes, std::string_view file_name);
std::vector<SectorKeys> LoadKeyBinary(const std::string &path);
// The format has no mark for an unknown key: it is written as zeros.
std::string WriteKeyBinary(std::span<const SectorKeys> keys);

}  // namespace zelkor::card
