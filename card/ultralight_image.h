// One card of the UltraLight family in memory: its pages with a mask of the
// bytes that are known, and what identifies it. The reader's card record
// holds 6 bytes of the 7-byte UID; the whole UID is in pages 0 and 1.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "card/ultralight_layout.h"

namespace zelkor::card {

// Bit i set: byte i of the page is known.
using PageMask = std::uint8_t;
inline constexpr PageMask kPageKnown = 0x0F;

struct UltraLightImage {
    UltraLightKind kind = UltraLightKind::UltraLight;
    std::vector<Page> pages;           // PageCount(kind) pages
    std::vector<PageMask> known_mask;  // one mask per page
    std::vector<std::uint8_t> uid;     // 7 bytes; empty when unknown
    std::optional<std::array<std::uint8_t, 2>> atqa;  // as the card sends it
    std::optional<std::uint8_t> sak;
    bool partial = false;  // a read that stopped early or met unreadable pages

    static UltraLightImage Blank(UltraLightKind kind);

    int page_count() const { return static_cast<int>(pages.size()); }
    bool PageKnown(int page) const;    // all four bytes
    bool ByteKnown(int page, int byte) const;
    void SetPage(int page, const Page &data, PageMask mask = kPageKnown);
    int KnownPageCount() const;
    // The UID of pages 0 (bytes 0-2) and 1, when those bytes are known.
    std::optional<std::vector<std::uint8_t>> UidOfPages() const;

    bool operator==(const UltraLightImage &) const = default;
};

struct PageDifference {
    int page = 0;
    PageMask differing = 0;  // bit i: byte i differs, or is known on one side only
};

struct UltraLightDifference {
    bool kinds_differ = false;
    bool uids_differ = false;
    std::vector<PageDifference> pages;
    bool equal() const { return !kinds_differ && !uids_differ && pages.empty(); }
};

// Pages beyond the smaller card count as differing entirely.
UltraLightDifference DiffUltraLight(const UltraLightImage &a, const UltraLightImage &b);

}  // namespace zelkor::card
