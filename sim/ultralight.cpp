#include "ultralight.h"

namespace sim {

UltraLight::UltraLight(const std::array<std::uint8_t, 7> &uid)
    : Card(0x00, 0x00, Bytes(uid.begin(), uid.end())) {
    pages_[0] = {uid[0], uid[1], uid[2], static_cast<std::uint8_t>(0x88 ^ uid[0] ^ uid[1] ^ uid[2])};
    pages_[1] = {uid[3], uid[4], uid[5], uid[6]};
    pages_[2] = {static_cast<std::uint8_t>(uid[3] ^ uid[4] ^ uid[5] ^ uid[6]), 0x48, 0x00, 0x00};
}

bool UltraLight::Locked(int page) const {
    const std::uint8_t lock0 = pages_[2][2];
    const std::uint8_t lock1 = pages_[2][3];
    if (page == 3) return (lock0 & 0x08) != 0;
    if (page >= 4 && page <= 7) return (lock0 >> page & 1) != 0;
    if (page >= 8) return (lock1 >> (page - 8) & 1) != 0;
    return false;
}

std::uint8_t UltraLight::Read(int page, std::array<std::uint8_t, 16> &out) const {
    if (page < 0 || page >= kPages) return status::kBadParameter;
    for (int i = 0; i < 4; ++i) {
        const auto &p = pages_[static_cast<std::size_t>((page + i) % kPages)];
        for (int j = 0; j < 4; ++j) out[static_cast<std::size_t>(4 * i + j)] = p[static_cast<std::size_t>(j)];
    }
    return status::kOk;
}

std::uint8_t UltraLight::WritePage(int page, const std::uint8_t *bytes) {
    if (page < 0 || page >= kPages) return status::kBadParameter;
    if (page < 2 || Locked(page)) return status::kCardRefused;
    auto &p = pages_[static_cast<std::size_t>(page)];
    if (page == 2) {
        p[2] |= bytes[2];
        p[3] |= bytes[3];
    } else if (page == 3) {
        for (int j = 0; j < 4; ++j) p[static_cast<std::size_t>(j)] |= bytes[j];
    } else {
        for (int j = 0; j < 4; ++j) p[static_cast<std::size_t>(j)] = bytes[j];
    }
    return status::kOk;
}

}  // namespace sim
