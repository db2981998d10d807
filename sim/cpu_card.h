// A CPU card with a small card operating system: activation (RATS), APDUs
// answered with ISO 7816 status words, and external authentication.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <random>

#include "sim/card.h"

namespace sim {

class CpuCard : public Card {
public:
    explicit CpuCard(const std::array<std::uint8_t, 4> &uid);

    // The key ids and keys external authentication accepts: id 0 is eight
    // FF bytes, id 3 is 00 11 22 ... FF.
    void SetKey(std::uint8_t id, Bytes key) { keys_[id] = std::move(key); }

    bool cos_active() const { return cos_active_; }
    // The card must be ACTIVE; returns the status, and the ATS in `ats`.
    std::uint8_t Activate(Bytes &ats);
    std::uint8_t Deactivate();
    // Response data followed by SW1 SW2 in `response`.
    std::uint8_t Apdu(const Bytes &apdu, Bytes &response);
    std::uint8_t ExternalAuthenticate(std::uint8_t id, const Bytes &key);
    bool authenticated() const { return authenticated_; }

    // File identifiers the card has (3F00 and its elementary files).
    static bool HasFile(std::uint16_t fid);

protected:
    void DropSession() override;

private:
    void ProcessApdu(const Bytes &apdu, Bytes &response);

    std::map<std::uint8_t, Bytes> keys_;
    bool cos_active_ = false;
    bool authenticated_ = false;
    std::uint16_t current_file_ = 0x3F00;
    std::mt19937 random_;
};

}  // namespace sim
