// A contactless card in the simulated reader's field: its ISO/IEC 14443-3
// type A state machine and what the reader learns from it.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/sim_frame.h"

namespace sim {

// Status bytes the simulated reader answers with.
namespace status {
constexpr std::uint8_t kOk = 0x00;
constexpr std::uint8_t kNoCard = 0x01;
constexpr std::uint8_t kAuthFailed = 0x06;
constexpr std::uint8_t kNotAuthenticated = 0x0B;
constexpr std::uint8_t kBadCardData = 0x0D;  // also a block that is not a value block
constexpr std::uint8_t kUnknownCommand = 0x3D;
constexpr std::uint8_t kBadParameter = 0x3E;
constexpr std::uint8_t kCosAlreadyActive = 0x3F;
constexpr std::uint8_t kCosNotActive = 0x40;
constexpr std::uint8_t kCardRefused = 0x41;
}  // namespace status

enum class IsoState { Idle, Ready, Active, Halt };

class Card {
public:
    Card(std::uint8_t type_byte, std::uint8_t sak, Bytes uid);
    virtual ~Card() = default;
    Card(const Card &) = delete;
    Card &operator=(const Card &) = delete;

    // The reader's type byte for this card (answer to a request).
    std::uint8_t type_byte() const { return type_byte_; }
    std::uint8_t sak() const { return sak_; }
    const Bytes &uid() const { return uid_; }
    IsoState state() const { return state_; }
    // Woken from HALT by WUPA (READY* / ACTIVE*): errors send it back to HALT.
    bool woken_from_halt() const { return from_halt_; }
    // Fell out of its session through an error (a failed authentication, a
    // refused command) and has not been selected since: it answers no card
    // command until the reader selects it again.
    bool dropped_out() const { return dropped_out_; }

    // REQA (wakeup false) or WUPA: whether the card answers.
    bool Request(bool wakeup);
    // Anticollision at cascade level 0x93, 0x95 or 0x97: UID part and BCC.
    std::optional<Bytes> Anticollision(std::uint8_t select_code) const;
    // READY -> ACTIVE.
    bool Select();
    // ACTIVE -> HALT.
    bool Halt();
    // The card loses power (field off, taken away): back to IDLE.
    void PowerOff();
    // A protocol error: back to IDLE, or to HALT when woken from it.
    void Fail();
    // The card leaves the higher protocol layer (deselect): to HALT.
    void Deselect();

protected:
    // Called whenever the card leaves ACTIVE: drop authentication and sessions.
    virtual void DropSession() {}

private:
    void Enter(IsoState state);

    std::uint8_t type_byte_;
    std::uint8_t sak_;
    Bytes uid_;
    IsoState state_ = IsoState::Idle;
    bool from_halt_ = false;
    bool dropped_out_ = false;
};

// Block check character of a UID part: exclusive-or of its bytes.
std::uint8_t Bcc(const Bytes &bytes);

}  // namespace sim
