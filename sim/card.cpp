#include "sim/card.h"

namespace sim {

Card::Card(std::uint8_t type_byte, std::uint8_t sak, Bytes uid)
    : type_byte_(type_byte), sak_(sak), uid_(std::move(uid)) {}

std::uint8_t Bcc(const Bytes &bytes) {
    std::uint8_t x = 0;
    for (std::uint8_t b : bytes) x ^= b;
    return x;
}

void Card::Enter(IsoState state) {
    if (state_ == IsoState::Active && state != IsoState::Active) DropSession();
    state_ = state;
}

bool Card::Request(bool wakeup) {
    switch (state_) {
    case IsoState::Idle:
        from_halt_ = false;
        Enter(IsoState::Ready);
        return true;
    case IsoState::Halt:
        if (!wakeup) return false;
        from_halt_ = true;
        Enter(IsoState::Ready);
        return true;
    case IsoState::Ready:
    case IsoState::Active:
        // Not a command these states expect: back to IDLE (or HALT), but a
        // search, not a card command, so the reader may select it again.
        Enter(from_halt_ ? IsoState::Halt : IsoState::Idle);
        return false;
    }
    return false;
}

std::optional<Bytes> Card::Anticollision(std::uint8_t select_code) const {
    if (state_ != IsoState::Ready) return std::nullopt;
    Bytes part;
    if (select_code == 0x93) {
        if (uid_.size() == 4) {
            part = uid_;
        } else {
            part = {0x88, uid_[0], uid_[1], uid_[2]};
        }
    } else if (select_code == 0x95 && uid_.size() == 7) {
        part.assign(uid_.begin() + 3, uid_.end());
    } else {
        return std::nullopt;
    }
    part.push_back(Bcc(part));
    return part;
}

bool Card::Select() {
    if (state_ != IsoState::Ready) return false;
    dropped_out_ = false;
    Enter(IsoState::Active);
    return true;
}

bool Card::Halt() {
    if (state_ != IsoState::Active) return false;
    Enter(IsoState::Halt);
    return true;
}

void Card::PowerOff() {
    Enter(IsoState::Idle);
    from_halt_ = false;
    dropped_out_ = false;
}

void Card::Fail() {
    dropped_out_ = true;
    Enter(from_halt_ ? IsoState::Halt : IsoState::Idle);
}

void Card::Deselect() { Enter(IsoState::Halt); }

}  // namespace sim
