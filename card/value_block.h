// MIFARE Classic value blocks: a signed 32-bit value stored plainly, inverted
// and plainly again (least significant byte first), then an address byte
// stored as addr, ~addr, addr, ~addr.
#pragma once

#include <cstdint>
#include <string>

#include "card/card_layout.h"

namespace zelkor::card {

struct ValueBlockInfo {
    std::int32_t value = 0;  // from bytes 0 to 3
    std::uint8_t address = 0;  // byte 12
    bool value_copies_match = false;   // bytes 4-7 inverted, 8-11 equal
    bool address_copies_match = false;  // bytes 13-15
    bool valid() const { return value_copies_match && address_copies_match; }
};

ValueBlockInfo DecodeValueBlock(const Block &block);
Block EncodeValueBlock(std::int32_t value, std::uint8_t address);

}  // namespace zelkor::card
