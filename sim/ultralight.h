// The MIFARE UltraLight family: 7-byte UID, pages of 4 bytes, no keys. Pages 0
// and 1 hold the UID, page 2 its check byte and the static lock bytes, page 3
// one-time-programmable bits (an NTAG's capability container). EV1 and NTAG
// cards end with a dynamic lock page and configuration pages (CFG0, CFG1,
// PWD, PACK); with the PROT bit set, pages from AUTH0 on refuse to be read.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/card.h"

namespace sim {

class UltraLight : public Card {
public:
    enum class Model { UltraLight, Ev1Small, Ev1Large, Ntag213, Ntag215, Ntag216 };
    static constexpr int kPages = 16;  // the plain UltraLight

    explicit UltraLight(const std::array<std::uint8_t, 7> &uid, Model model = Model::UltraLight);

    Model model() const { return model_; }
    int page_count() const { return static_cast<int>(pages_.size()); }
    static int PageCount(Model model);

    // Four pages from `page` on (wrapping round after the last), 16 bytes. A
    // start page past the end or behind the password answers kBadParameter
    // or kCardRefused; PWD, PACK and protected pages read as zeros.
    std::uint8_t Read(int page, std::array<std::uint8_t, 16> &out) const;
    // Writes one page: UID pages are read-only, lock and OTP bits only ever
    // go from 0 to 1, locked pages refuse.
    std::uint8_t WritePage(int page, const std::uint8_t *bytes);

    std::array<std::uint8_t, 4> page(int page) const { return pages_[static_cast<std::size_t>(page)]; }
    // Sets PROT and AUTH0: pages from `first_page` on refuse to be read.
    void ProtectFrom(int first_page);

private:
    bool Locked(int page) const;
    bool ReadProtected(int page) const;
    int Auth0() const;  // first page behind the password
    int DynamicLockPage() const;  // 0 when the model has none
    int PagesPerDynamicLockBit() const;

    Model model_;
    std::vector<std::array<std::uint8_t, 4>> pages_;
};

}  // namespace sim
