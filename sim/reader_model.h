// The simulated reader itself: its own controls (buzzer, antenna, automatic
// search, serial number, registers, line speed) and the one card in its
// field, reached through request, anticollision, select and halt.
//
// Statuses where a real reader leaves a choice: a key-type byte other than
// 0x60/0x61 fails authentication (0x06); a block that is not in value format
// answers 0x0D to value read, increment and decrement; a value change that
// would leave the signed 32-bit range answers 0x3E and changes nothing; an
// access the card refuses answers 0x41 and, as on a card, drops the
// authentication. A card command on a card that is idle but not selected
// activates it first (request, anticollision, select); a halted card does not
// answer that request, so the command answers 0x01. A card that fell out of
// its session through an error (a failed authentication, a refused access)
// is not activated that way: card commands answer 0x01 until a search or
// select command selects it again, as with a real card that went idle. The
// combined read and write (code 0x07) are the reader's own search,
// authentication and access in one command, so they select such a card.
//
// The reader's time on the card, answered after it when the line is paced
// (Reaction::card_time_us), per card operation:
//   request (REQA/WUPA)            1.0 ms
//   anticollision                  1.0 ms
//   select                         1.0 ms
//   halt                           0.5 ms
//   authentication (three passes)  4.0 ms, failed or not
//   block read, value read         2.0 ms
//   block write, value init        6.0 ms (two-step write, EEPROM programming)
//   increment/decrement+transfer   8.0 ms
// A command costs the sum of the operations it makes the reader do, so a
// combined read costs 6 ms and a composite search 3 ms.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "sim/card.h"
#include "sim/responder.h"

namespace sim {

class ReaderModel : public Responder {
public:
    ReaderModel();

    Reaction Respond(const Command &command) override;

    // Puts a card in the field (replacing any other) or takes it away. Safe
    // to call from another thread while the simulator answers.
    void PutCard(std::shared_ptr<Card> card);
    void RemoveCard();
    std::shared_ptr<Card> card() const;
    // Runs `look` under the model's lock, so that another thread may read a
    // card's memory while the simulator answers commands that change it.
    void Inspect(const std::function<void()> &look) const;

    bool buzzer_on() const;
    bool antenna_on() const;
    bool auto_search() const;
    // Line speed set by the last speed command (0: never set).
    int baud() const;
    std::array<std::uint8_t, 8> serial_number() const;
    void SetSerialNumber(const std::array<std::uint8_t, 8> &serial);
    static constexpr int kRegisters = 1024;
    std::uint8_t Register(int number) const;
    void SetRegister(int number, std::uint8_t value);
    // Pause between the two answers of a manual search.
    void SetManualSearchDelay(int ms);

    // The reader's time on the card summed over every answer so far (us).
    long long card_time_us() const;
    void ResetCardTime();

    static constexpr int kRequestUs = 1000;
    static constexpr int kAnticollisionUs = 1000;
    static constexpr int kSelectUs = 1000;
    static constexpr int kHaltUs = 500;
    static constexpr int kAuthenticationUs = 4000;
    static constexpr int kReadUs = 2000;
    static constexpr int kWriteUs = 6000;
    static constexpr int kValueChangeUs = 8000;

    static int BaudOfIndex(std::uint8_t index);  // 1..7, else 0

    // One line on the reader and its card, taken consistently.
    std::string Describe() const;

private:
    Reaction Dispatch(const Command &command);
    Reaction ReaderCommand(const Command &command);
    Reaction DetectionCommand(const Command &command);
    Reaction ClassicCommand(const Command &command);
    Reaction UltraLightCommand(const Command &command);
    Reaction CosCommand(const Command &command);

    // A request with one retry: a card left in READY or ACTIVE by an earlier
    // transaction drops back to IDLE on the first and answers the second.
    bool Search(bool wakeup);
    bool EnsureReady();
    // `card_command`: a MIFARE command, which does not revive a card that
    // dropped out of its session.
    bool EnsureActive(bool card_command = false);
    bool Select();
    void PowerField();

    mutable std::mutex mutex_;
    std::shared_ptr<Card> card_;
    bool buzzer_ = false;
    bool antenna_ = true;
    bool auto_search_ = false;
    int baud_ = 0;
    int manual_search_delay_ms_ = 100;
    std::array<std::uint8_t, 8> serial_{0x20, 0x26, 0x12, 0x07, 0x00, 0x00, 0x31, 0x5A};
    std::array<std::uint8_t, kRegisters> registers_{};
    int answer_card_us_ = 0;  // card time of the answer being built
    long long card_time_total_us_ = 0;
};

}  // namespace sim
