#include "card/value_block.h"


namespace zelkor::card {

ValueBlockInfo DecodeValueBlock(const Block &b) {
    ValueBlockInfo info;
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(b[i]) << (8 * i);
    info.value = static_cast<std::int32_t>(v);
    info.address = b[12];
    info.value_copies_match = true;
    for (std::size_t i = 0; i < 4; ++i) {
        if (b[i] != b[i + 8] || b[i] != static_cast<std::uint8_t>(~b[i + 4])) info.value_copies_match = false;
    }
    info.address_copies_match =
        b[12] == b[14] && b[13] == b[15] && b[12] == static_cast<std::uint8_t>(~b[13]);
    return info;
}

Block EncodeValueBlock(std::int32_t value, std::uint8_t address) {
    const auto v = static_cast<std::uint32_t>(value);
    Block b{};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(v >> (8 * i));
        b[i] = byte;
        b[i + 4] = static_cast<std::uint8_t>(~byte);
        b[i + 8] = byte;
    }
    b[12] = address;
    b[13] = static_cast<std::uint8_t>(~address);
    b[14] = address;
    b[15] = static_cast<std::uint8_t>(~address);
    return b;
}

}  // namespace zelkor::card
