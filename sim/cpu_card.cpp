#include "sim/cpu_card.h"

#include <algorithm>

namespace sim {

namespace {

// Elementary files of the sample application, with their contents.
struct File {
    std::uint16_t fid;
    Bytes content;
};

const File kFiles[] = {
    {0x3F00, {}},
    {0x0015, {0x10, 0x20, 0x30, 0x40, 0x01, 0x02, 0x03, 0x04, 0x20, 0x26, 0x01, 0x01, 0x20, 0x31, 0x12, 0x31}},
    {0x0016, {0x00, 0x01, 0x00, 0x00, 0x03, 0xE8}},
};

const File *FindFile(std::uint16_t fid) {
    for (const File &f : kFiles) {
        if (f.fid == fid) return &f;
    }
    return nullptr;
}

void Sw(Bytes &response, std::uint8_t sw1, std::uint8_t sw2) {
    response.push_back(sw1);
    response.push_back(sw2);
}

}  // namespace

CpuCard::CpuCard(const std::array<std::uint8_t, 4> &uid)
    : Card(0x08, 0x20, Bytes(uid.begin(), uid.end())), random_(std::random_device{}()) {
    keys_[0] = Bytes(8, 0xFF);
    keys_[3] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
}

bool CpuCard::HasFile(std::uint16_t fid) { return FindFile(fid) != nullptr; }

void CpuCard::DropSession() {
    cos_active_ = false;
    authenticated_ = false;
    current_file_ = 0x3F00;
}

std::uint8_t CpuCard::Activate(Bytes &ats) {
    if (state() != IsoState::Active) return status::kNoCard;
    if (cos_active_) return status::kCosAlreadyActive;
    cos_active_ = true;
    authenticated_ = false;
    current_file_ = 0x3F00;
    // TL, T0 (FSCI 8, TA TB TC follow), TA, TB, TC.
    ats = {0x05, 0x78, 0x80, 0x70, 0x02};
    return status::kOk;
}

std::uint8_t CpuCard::Deactivate() {
    if (!cos_active_) return status::kCosNotActive;
    Deselect();  // a deselected card waits in HALT for a wake-up
    return status::kOk;
}

std::uint8_t CpuCard::Apdu(const Bytes &apdu, Bytes &response) {
    if (!cos_active_) return status::kCosNotActive;
    response.clear();
    ProcessApdu(apdu, response);
    return status::kOk;
}

void CpuCard::ProcessApdu(const Bytes &apdu, Bytes &r) {
    if (apdu.size() < 4) return Sw(r, 0x67, 0x00);
    const std::uint8_t cla = apdu[0], ins = apdu[1], p1 = apdu[2], p2 = apdu[3];
    if (cla != 0x00 && cla != 0x80) return Sw(r, 0x6E, 0x00);
    const std::size_t body = apdu.size() - 4;
    switch (ins) {
    case 0x84: {  // GET CHALLENGE
        if (body != 1 || p1 != 0 || p2 != 0) return Sw(r, 0x67, 0x00);
        const std::size_t le = apdu[4];
        if (le == 0 || le > 16) return Sw(r, 0x67, 0x00);
        for (std::size_t i = 0; i < le; ++i) r.push_back(static_cast<std::uint8_t>(random_() & 0xFF));
        return Sw(r, 0x90, 0x00);
    }
    case 0xA4: {  // SELECT
        if (body < 1 || body < 1u + apdu[4]) return Sw(r, 0x67, 0x00);
        const std::size_t lc = apdu[4];
        if (p1 == 0x00 && p2 == 0x00) {
            if (lc != 2) return Sw(r, 0x67, 0x00);
            const auto fid = static_cast<std::uint16_t>(apdu[5] << 8 | apdu[6]);
            if (!HasFile(fid)) return Sw(r, 0x6A, 0x82);
            current_file_ = fid;
            return Sw(r, 0x90, 0x00);
        }
        if (p1 == 0x04 && p2 == 0x00) {
            static const char kName[] = "1PAY.SYS.DDF01";
            const bool match = lc == sizeof kName - 1 && std::equal(apdu.begin() + 5, apdu.begin() + 5 + static_cast<long>(lc), kName);
            if (!match) return Sw(r, 0x6A, 0x82);
            current_file_ = 0x3F00;
            return Sw(r, 0x90, 0x00);
        }
        return Sw(r, 0x6A, 0x86);
    }
    case 0xB0: {  // READ BINARY of the current elementary file
        if (body != 1) return Sw(r, 0x67, 0x00);
        const File *file = FindFile(current_file_);
        if (file == nullptr || file->content.empty()) return Sw(r, 0x69, 0x86);
        const std::size_t offset = static_cast<std::size_t>((p1 & 0x7F) << 8 | p2);
        if (offset >= file->content.size()) return Sw(r, 0x6B, 0x00);
        const std::size_t left = file->content.size() - offset;
        const std::size_t le = apdu[4] == 0 ? left : apdu[4];
        if (le > left) return Sw(r, 0x6C, static_cast<std::uint8_t>(left));
        r.insert(r.end(), file->content.begin() + static_cast<long>(offset),
                 file->content.begin() + static_cast<long>(offset + le));
        return Sw(r, 0x90, 0x00);
    }
    default:
        return Sw(r, 0x6D, 0x00);
    }
}

std::uint8_t CpuCard::ExternalAuthenticate(std::uint8_t id, const Bytes &key) {
    if (!cos_active_) return status::kCosNotActive;
    const auto it = keys_.find(id);
    authenticated_ = it != keys_.end() && it->second == key;
    return authenticated_ ? status::kOk : status::kAuthFailed;
}

}  // namespace sim
