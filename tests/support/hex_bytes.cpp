#include "tests/support/hex_bytes.h"

#include <cctype>
#include <cstdio>

namespace hex_bytes {

sim::Bytes Hex(const std::string &text) {
    sim::Bytes out;
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string ToHex(const sim::Bytes &bytes) {
    std::string out;
    char piece[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(piece, sizeof piece, "%02X ", b);
        out += piece;
    }
    return out;
}

}  // namespace hex_bytes
