// The MIFARE UltraLight family (UltraLight, UltraLight EV1, NTAG213/215/216):
// memory of 4-byte pages and what each page is for. The reader reports every
// one of them with card type code 10 and reads four pages through ReadBlock
// with the page number as the absolute block.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelkor::card {

enum class UltraLightKind { UltraLight, Ev1Small, Ev1Large, Ntag213, Ntag215, Ntag216 };

inline constexpr std::array kUltraLightKinds = {UltraLightKind::UltraLight, UltraLightKind::Ev1Small,
                                                UltraLightKind::Ev1Large,   UltraLightKind::Ntag213,
                                                UltraLightKind::Ntag215,    UltraLightKind::Ntag216};

inline constexpr int kUltraLightTypeCode = 10;
inline constexpr int kPageSize = 4;
inline constexpr int kPagesPerRead = 4;
inline constexpr int kFirstUserPage = 4;
inline constexpr int kMaxUltraLightPages = 231;
using Page = std::array<std::uint8_t, kPageSize>;

int PageCount(UltraLightKind kind);  // 16, 20, 41, 45, 135, 231
// "UltraLight", "UltraLight EV1 (20 pages)", "NTAG213", ...
std::string_view UltraLightKindName(UltraLightKind kind);
std::optional<UltraLightKind> UltraLightKindOfPageCount(int pages);
bool IsNtag(UltraLightKind kind);
// An NTAG's capability container (page 3) names its size; other contents
// (an UltraLight's OTP bits) name nothing.
std::optional<UltraLightKind> NtagOfCapabilityContainer(const Page &page3);

enum class PageRole {
    Uid,                  // pages 0 and 1 (page 0 ends with the first check byte)
    UidCheckAndLock,      // page 2: second check byte, internal byte, static lock bytes
    Otp,                  // page 3 of an UltraLight or EV1: bits only ever set
    CapabilityContainer,  // page 3 of an NTAG: one-time programmable too
    User,
    DynamicLock,
    Configuration,        // CFG0, CFG1
    Password,             // PWD: reads as zeros
    PasswordAck,          // PACK: reads as zeros
};

PageRole RoleOfPage(UltraLightKind kind, int page);
int LastUserPage(UltraLightKind kind);
// Whether the card's lock bytes (page 2 and, where the kind has one, the
// dynamic lock page) make `page` read-only.
bool PageLocked(UltraLightKind kind, const Page &page2, const std::optional<Page> &dynamic_lock, int page);
// The dynamic lock page, nothing for the UltraLight and the small EV1.
std::optional<int> DynamicLockPage(UltraLightKind kind);

}  // namespace zelkor::card
