#include "card/ultralight_layout.h"

namespace zelkor::card {

namespace {

constexpr int kStaticLockEnd = 16;  // the static lock bytes cover pages 3 to 15

// Pages one dynamic lock bit covers, counted from page 16.
int PagesPerDynamicLockBit(UltraLightKind kind) {
    return kind == UltraLightKind::Ntag215 || kind == UltraLightKind::Ntag216 ? 16 : 2;
}

}  // namespace

int PageCount(UltraLightKind kind) {
    switch (kind) {
    case UltraLightKind::UltraLight: return 16;
    case UltraLightKind::Ev1Small: return 20;
    case UltraLightKind::Ev1Large: return 41;
    case UltraLightKind::Ntag213: return 45;
    case UltraLightKind::Ntag215: return 135;
    case UltraLightKind::Ntag216: return 231;
    }
    return 16;
}

std::string_view UltraLightKindName(UltraLightKind kind) {
    switch (kind) {
    case UltraLightKind::UltraLight: return "UltraLight";
    case UltraLightKind::Ev1Small: return "UltraLight EV1 (20 pages)";
    case UltraLightKind::Ev1Large: return "UltraLight EV1 (41 pages)";
    case UltraLightKind::Ntag213: return "NTAG213";
    case UltraLightKind::Ntag215: return "NTAG215";
    case UltraLightKind::Ntag216: return "NTAG216";
    }
    return "";
}

std::optional<UltraLightKind> UltraLightKindOfPageCount(int pages) {
    for (const UltraLightKind kind : kUltraLightKinds) {
        if (PageCount(kind) == pages) return kind;
    }
    return std::nullopt;
}

bool IsNtag(UltraLightKind kind) {
    return kind == UltraLightKind::Ntag213 || kind == UltraLightKind::Ntag215 || kind == UltraLightKind::Ntag216;
}

std::optional<UltraLightKind> NtagOfCapabilityContainer(const Page &page3) {
    // NDEF magic number, then the data area's size in units of 8 bytes.
    if (page3[0] != 0xE1) return std::nullopt;
    switch (page3[2]) {
    case 0x12: return UltraLightKind::Ntag213;
    case 0x3E: return UltraLightKind::Ntag215;
    case 0x6D: return UltraLightKind::Ntag216;
    default: return std::nullopt;
    }
}

std::optional<int> DynamicLockPage(UltraLightKind kind) {
    if (kind == UltraLightKind::UltraLight || kind == UltraLightKind::Ev1Small) return std::nullopt;
    return PageCount(kind) - 5;
}

int LastUserPage(UltraLightKind kind) {
    switch (kind) {
    case UltraLightKind::UltraLight:
    case UltraLightKind::Ev1Small: return 15;
    default: return *DynamicLockPage(kind) - 1;
    }
}

PageRole RoleOfPage(UltraLightKind kind, int page) {
    if (page <= 1) return PageRole::Uid;
    if (page == 2) return PageRole::UidCheckAndLock;
    if (page == 3) return IsNtag(kind) ? PageRole::CapabilityContainer : PageRole::Otp;
    if (page <= LastUserPage(kind)) return PageRole::User;
    if (DynamicLockPage(kind) == page) return PageRole::DynamicLock;
    const int from_end = PageCount(kind) - page;
    if (from_end == 2) return PageRole::Password;
    if (from_end == 1) return PageRole::PasswordAck;
    return PageRole::Configuration;
}

bool PageLocked(UltraLightKind kind, const Page &page2, const std::optional<Page> &dynamic_lock, int page) {
    if (page < 3) return page < 2;
    if (page < 8) return (page2[2] >> (page == 3 ? 3 : page) & 1) != 0;
    if (page < kStaticLockEnd) return (page2[3] >> (page - 8) & 1) != 0;
    if (!dynamic_lock || page > LastUserPage(kind)) return false;
    const int bit = (page - kStaticLockEnd) / PagesPerDynamicLockBit(kind);
    return bit < 16 && ((*dynamic_lock)[static_cast<std::size_t>(bit / 8)] >> (bit % 8) & 1) != 0;
}

}  // namespace zelkor::card
