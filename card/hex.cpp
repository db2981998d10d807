#include "card/hex.h"

namespace zelkor::card {

namespace {
int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string ToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
    std::vector<std::uint8_t> out;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == ':' || c == '-') {
            if (high >= 0) return std::nullopt;  // a separator splits a byte
            continue;
        }
        const int value = DigitValue(c);
        if (value < 0) return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return out;
}

std::optional<Key> ParseKey(std::string_view text) {
    if (text.size() != 12) return std::nullopt;
    const auto bytes = ParseHex(text);
    if (!bytes || bytes->size() != 6) return std::nullopt;
    Key key{};
    std::copy(bytes->begin(), bytes->end(), key.begin());
    return key;
}

std::string KeyToHex(const Key &key) { return ToHex(key); }

}  // namespace zelkor::card
