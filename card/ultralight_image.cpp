#include "card/ultralight_image.h"

#include <algorithm>

namespace zelkor::card {

UltraLightImage UltraLightImage::Blank(UltraLightKind kind) {
    UltraLightImage image;
    image.kind = kind;
    image.pages.assign(static_cast<std::size_t>(PageCount(kind)), Page{});
    image.known_mask.assign(image.pages.size(), 0);
    return image;
}

bool UltraLightImage::PageKnown(int page) const { return known_mask[static_cast<std::size_t>(page)] == kPageKnown; }

bool UltraLightImage::ByteKnown(int page, int byte) const {
    return (known_mask[static_cast<std::size_t>(page)] >> byte & 1) != 0;
}

void UltraLightImage::SetPage(int page, const Page &data, PageMask mask) {
    const auto i = static_cast<std::size_t>(page);
    for (std::size_t b = 0; b < data.size(); ++b) pages[i][b] = (mask >> b & 1) != 0 ? data[b] : 0;
    known_mask[i] = static_cast<PageMask>(mask & kPageKnown);
}

int UltraLightImage::KnownPageCount() const {
    return static_cast<int>(std::count(known_mask.begin(), known_mask.end(), kPageKnown));
}

std::optional<std::vector<std::uint8_t>> UltraLightImage::UidOfPages() const {
    if (page_count() < 2 || (known_mask[0] & 0x07) != 0x07 || !PageKnown(1)) return std::nullopt;
    return std::vector<std::uint8_t>{pages[0][0], pages[0][1], pages[0][2], pages[1][0],
                                     pages[1][1], pages[1][2], pages[1][3]};
}

UltraLightDifference DiffUltraLight(const UltraLightImage &a, const UltraLightImage &b) {
    UltraLightDifference diff;
    diff.kinds_differ = a.kind != b.kind;
    diff.uids_differ = !a.uid.empty() && !b.uid.empty() && a.uid != b.uid;
    const int pages = std::max(a.page_count(), b.page_count());
    for (int page = 0; page < pages; ++page) {
        if (page >= a.page_count() || page >= b.page_count()) {
            diff.pages.push_back({page, kPageKnown});
            continue;
        }
        const auto i = static_cast<std::size_t>(page);
        PageMask differing = static_cast<PageMask>(a.known_mask[i] ^ b.known_mask[i]);
        for (int byte = 0; byte < kPageSize; ++byte) {
            const auto j = static_cast<std::size_t>(byte);
            if (a.ByteKnown(page, byte) && b.ByteKnown(page, byte) && a.pages[i][j] != b.pages[i][j])
                differing = static_cast<PageMask>(differing | 1u << byte);
        }
        if (differing != 0) diff.pages.push_back({page, differing});
    }
    return diff;
}

}  // namespace zelkor::card
