#include "sim/ultralight.h"

namespace sim {

namespace {

constexpr int kStaticLockPages = 16;

// Capability container as NTAG cards leave the factory: NDEF magic, version
// 1.0, data area size / 8, read and write access.
std::array<std::uint8_t, 4> CapabilityContainer(UltraLight::Model model) {
    switch (model) {
    case UltraLight::Model::Ntag213: return {0xE1, 0x10, 0x12, 0x00};
    case UltraLight::Model::Ntag215: return {0xE1, 0x10, 0x3E, 0x00};
    case UltraLight::Model::Ntag216: return {0xE1, 0x10, 0x6D, 0x00};
    default: return {};
    }
}

}  // namespace

int UltraLight::PageCount(Model model) {
    switch (model) {
    case Model::UltraLight: return 16;
    case Model::Ev1Small: return 20;
    case Model::Ev1Large: return 41;
    case Model::Ntag213: return 45;
    case Model::Ntag215: return 135;
    case Model::Ntag216: return 231;
    }
    return 16;
}

UltraLight::UltraLight(const std::array<std::uint8_t, 7> &uid, Model model)
    : Card(0x00, 0x00, Bytes(uid.begin(), uid.end())), model_(model),
      pages_(static_cast<std::size_t>(PageCount(model))) {
    pages_[0] = {uid[0], uid[1], uid[2], static_cast<std::uint8_t>(0x88 ^ uid[0] ^ uid[1] ^ uid[2])};
    pages_[1] = {uid[3], uid[4], uid[5], uid[6]};
    pages_[2] = {static_cast<std::uint8_t>(uid[3] ^ uid[4] ^ uid[5] ^ uid[6]), 0x48, 0x00, 0x00};
    pages_[3] = CapabilityContainer(model);
    if (model != Model::UltraLight) pages_[static_cast<std::size_t>(page_count() - 4)] = {0x04, 0x00, 0x00, 0xFF};  // CFG0: AUTH0 off
}

int UltraLight::DynamicLockPage() const { return model_ == Model::UltraLight || model_ == Model::Ev1Small ? 0 : page_count() - 5; }

int UltraLight::PagesPerDynamicLockBit() const { return model_ == Model::Ntag215 || model_ == Model::Ntag216 ? 16 : 2; }

void UltraLight::ProtectFrom(int first_page) {
    if (model_ == Model::UltraLight) return;
    pages_[static_cast<std::size_t>(page_count() - 4)][3] = static_cast<std::uint8_t>(first_page);
    pages_[static_cast<std::size_t>(page_count() - 3)][0] |= 0x80;
}

int UltraLight::Auth0() const {
    return model_ == Model::UltraLight ? 0xFF : pages_[static_cast<std::size_t>(page_count() - 4)][3];
}

bool UltraLight::ReadProtected(int page) const {
    if (model_ == Model::UltraLight) return false;
    const bool prot = (pages_[static_cast<std::size_t>(page_count() - 3)][0] & 0x80) != 0;
    return prot && page >= Auth0();
}

bool UltraLight::Locked(int page) const {
    const std::uint8_t lock0 = pages_[2][2];
    const std::uint8_t lock1 = pages_[2][3];
    if (page == 3) return (lock0 & 0x08) != 0;
    if (page >= 4 && page <= 7) return (lock0 >> page & 1) != 0;
    if (page >= 8 && page < kStaticLockPages) return (lock1 >> (page - 8) & 1) != 0;
    const int dynamic = DynamicLockPage();
    if (dynamic == 0 || page >= dynamic) return false;
    const int bit = (page - kStaticLockPages) / PagesPerDynamicLockBit();
    const auto &bytes = pages_[static_cast<std::size_t>(dynamic)];
    return bit < 16 && (bytes[static_cast<std::size_t>(bit / 8)] >> (bit % 8) & 1) != 0;
}

std::uint8_t UltraLight::Read(int page, std::array<std::uint8_t, 16> &out) const {
    if (page < 0 || page >= page_count()) return status::kBadParameter;
    if (ReadProtected(page)) return status::kCardRefused;
    for (int i = 0; i < 4; ++i) {
        const int at = (page + i) % page_count();
        const bool hidden = ReadProtected(at) || (model_ != Model::UltraLight && at >= page_count() - 2);
        for (int j = 0; j < 4; ++j)
            out[static_cast<std::size_t>(4 * i + j)] = hidden ? 0 : pages_[static_cast<std::size_t>(at)][static_cast<std::size_t>(j)];
    }
    return status::kOk;
}

std::uint8_t UltraLight::WritePage(int page, const std::uint8_t *bytes) {
    if (page < 0 || page >= page_count()) return status::kBadParameter;
    // Pages from AUTH0 on take a write only after PWD_AUTH, which the reader cannot send.
    if (page < 2 || Locked(page) || page >= Auth0()) return status::kCardRefused;
    auto &p = pages_[static_cast<std::size_t>(page)];
    if (page == 2) {
        p[2] |= bytes[2];
        p[3] |= bytes[3];
    } else if (page == 3 || page == DynamicLockPage()) {
        for (int j = 0; j < 4; ++j) p[static_cast<std::size_t>(j)] |= bytes[j];
    } else {
        for (int j = 0; j < 4; ++j) p[static_cast<std::size_t>(j)] = bytes[j];
    }
    return status::kOk;
}

}  // namespace sim
