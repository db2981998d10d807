// MIFARE UltraLight: 7-byte UID, 16 pages of 4 bytes, no keys. Pages 0 and 1
// hold the UID, page 2 the lock bytes, page 3 one-time-programmable bits.
#pragma once

#include <array>
#include <cstdint>

#include "card.h"

namespace sim {

class UltraLight : public Card {
public:
    static constexpr int kPages = 16;
    explicit UltraLight(const std::array<std::uint8_t, 7> &uid);

    // Four pages from `page` on (wrapping round after the last), 16 bytes.
    std::uint8_t Read(int page, std::array<std::uint8_t, 16> &out) const;
    // Writes one page: UID pages are read-only, lock and OTP bits only ever
    // go from 0 to 1, locked pages refuse.
    std::uint8_t WritePage(int page, const std::uint8_t *bytes);

    std::array<std::uint8_t, 4> page(int page) const { return pages_[static_cast<std::size_t>(page)]; }

private:
    bool Locked(int page) const;
    std::array<std::array<std::uint8_t, 4>, kPages> pages_{};
};

}  // namespace sim
