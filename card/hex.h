// Hexadecimal text of bytes, keys and blocks, upper case without spaces.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_layout.h"

namespace zelkor::card {

std::string ToHex(std::span<const std::uint8_t> bytes);
// Hex digits; blanks, ':' and '-' between byte pairs are ignored. Nothing when
// a character is not a digit or the digit count is odd.
std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text);
// Exactly 12 hexadecimal digits.
std::optional<Key> ParseKey(std::string_view text);
std::string KeyToHex(const Key &key);

}  // namespace zelkor::card
