#include "sim/reader_model.h"

#include <cstdio>

#include "sim/cpu_card.h"
#include "sim/mifare_classic.h"
#include "sim/ultralight.h"

namespace sim {

namespace {

bool IsSelectCode(std::uint8_t code) { return code == 0x93 || code == 0x95 || code == 0x97; }

Bytes Le32(std::int32_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 24)};
}

std::int32_t FromLe32(const std::uint8_t *b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                                     static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24);
}

Reaction Status(std::uint8_t st) { return Answer(st); }

// The reader's time on the card for a MIFARE Classic command (after any
// activation): see the table in reader_model.h.
int CardOperationUs(std::uint8_t code, std::uint8_t direction) {
    switch (code) {
    case 0x01: return ReaderModel::kAuthenticationUs;
    case 0x02: case 0x05: return ReaderModel::kReadUs;
    case 0x03: case 0x04: return ReaderModel::kWriteUs;
    case 0x06: return ReaderModel::kValueChangeUs;
    case 0x07:
        return ReaderModel::kAuthenticationUs + (direction == 0x01 ? ReaderModel::kWriteUs : ReaderModel::kReadUs);
    default: return 0;
    }
}

}  // namespace

ReaderModel::ReaderModel() {
    for (int i = 0; i < kRegisters; ++i) registers_[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 29 + 0x31);
}

int ReaderModel::BaudOfIndex(std::uint8_t index) {
    static const int kBauds[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return index >= 1 && index <= 7 ? kBauds[index - 1] : 0;
}

void ReaderModel::PutCard(std::shared_ptr<Card> card) {
    std::lock_guard lock(mutex_);
    if (card_) card_->PowerOff();
    card_ = std::move(card);
    if (card_) card_->PowerOff();  // it enters the field unpowered: IDLE
}

void ReaderModel::RemoveCard() { PutCard(nullptr); }

std::shared_ptr<Card> ReaderModel::card() const {
    std::lock_guard lock(mutex_);
    return card_;
}

void ReaderModel::Inspect(const std::function<void()> &look) const {
    std::lock_guard lock(mutex_);
    look();
}

bool ReaderModel::buzzer_on() const {
    std::lock_guard lock(mutex_);
    return buzzer_;
}

bool ReaderModel::antenna_on() const {
    std::lock_guard lock(mutex_);
    return antenna_;
}

bool ReaderModel::auto_search() const {
    std::lock_guard lock(mutex_);
    return auto_search_;
}

int ReaderModel::baud() const {
    std::lock_guard lock(mutex_);
    return baud_;
}

std::array<std::uint8_t, 8> ReaderModel::serial_number() const {
    std::lock_guard lock(mutex_);
    return serial_;
}

void ReaderModel::SetSerialNumber(const std::array<std::uint8_t, 8> &serial) {
    std::lock_guard lock(mutex_);
    serial_ = serial;
}

std::uint8_t ReaderModel::Register(int number) const {
    std::lock_guard lock(mutex_);
    return registers_.at(static_cast<std::size_t>(number));
}

void ReaderModel::SetRegister(int number, std::uint8_t value) {
    std::lock_guard lock(mutex_);
    registers_.at(static_cast<std::size_t>(number)) = value;
}

void ReaderModel::SetManualSearchDelay(int ms) {
    std::lock_guard lock(mutex_);
    manual_search_delay_ms_ = ms;
}

std::string ReaderModel::Describe() const {
    std::lock_guard lock(mutex_);
    std::string out = std::string("buzzer ") + (buzzer_ ? "on" : "off") + ", antenna " + (antenna_ ? "on" : "off") +
                      ", automatic search " + (auto_search_ ? "on" : "off") + ", line speed " +
                      (baud_ != 0 ? std::to_string(baud_) : std::string("as opened"));
    if (!card_) return out + "; no card";
    static const char *const kStates[] = {"IDLE", "READY", "ACTIVE", "HALT"};
    out += "; card type byte ";
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", card_->type_byte());
    out += hex;
    out += ", UID";
    for (std::uint8_t b : card_->uid()) {
        std::snprintf(hex, sizeof hex, " %02X", b);
        out += hex;
    }
    out += std::string(", ") + kStates[static_cast<int>(card_->state())];
    if (const auto *classic = dynamic_cast<const MifareClassic *>(card_.get())) {
        if (const auto sector = classic->authenticated_sector())
            out += ", sector " + std::to_string(*sector) + " authenticated with key " +
                   (classic->authenticated_key() == KeyKind::A ? "A" : "B");
    }
    if (const auto *cpu = dynamic_cast<const CpuCard *>(card_.get()); cpu != nullptr && cpu->cos_active())
        out += ", COS active";
    return out;
}

Reaction ReaderModel::Respond(const Command &command) {
    std::lock_guard lock(mutex_);
    if (!command.checksum_ok) return Status(status::kBadParameter);
    answer_card_us_ = 0;
    Reaction reaction = Dispatch(command);
    reaction.card_time_us = answer_card_us_;
    card_time_total_us_ += answer_card_us_;
    return reaction;
}

long long ReaderModel::card_time_us() const {
    std::lock_guard lock(mutex_);
    return card_time_total_us_;
}

void ReaderModel::ResetCardTime() {
    std::lock_guard lock(mutex_);
    card_time_total_us_ = 0;
}

Reaction ReaderModel::Dispatch(const Command &command) {
    switch (command.group) {
    case 0x01: return ReaderCommand(command);
    case 0x02: return DetectionCommand(command);
    case 0x03: return ClassicCommand(command);
    case 0x07: return CosCommand(command);
    case 0xBD:
        if (command.code == 0x01) {
            if (command.data.empty()) return Status(status::kBadParameter);
            const int speed = BaudOfIndex(command.data[0]);
            if (speed == 0) return Status(status::kBadParameter);
            Reaction r = Answer(status::kOk);
            r.line_baud = speed;
            baud_ = speed;
            return r;
        }
        break;
    default: break;
    }
    return Status(status::kUnknownCommand);
}

void ReaderModel::PowerField() { antenna_ = true; }

bool ReaderModel::Search(bool wakeup) {
    PowerField();
    if (!card_) return false;
    answer_card_us_ += kRequestUs;
    if (card_->Request(wakeup)) return true;
    answer_card_us_ += kRequestUs;
    return card_->Request(wakeup);
}

// Anticollision and select of the card in READY.
bool ReaderModel::Select() {
    answer_card_us_ += kAnticollisionUs + kSelectUs;
    return card_->Select();
}

bool ReaderModel::EnsureReady() {
    PowerField();
    if (!card_) return false;
    return card_->state() == IsoState::Ready || Search(false);
}

bool ReaderModel::EnsureActive(bool card_command) {
    PowerField();
    if (!card_) return false;
    if (card_->state() == IsoState::Active) return true;
    if (card_command && card_->dropped_out()) return false;
    return EnsureReady() && Select();
}

Reaction ReaderModel::ReaderCommand(const Command &command) {
    const Bytes &d = command.data;
    switch (command.code) {
    case 0x01: auto_search_ = true; return Status(status::kOk);
    case 0x03: auto_search_ = false; return Status(status::kOk);
    case 0x04: buzzer_ = true; return Status(status::kOk);
    case 0x05: buzzer_ = false; return Status(status::kOk);
    case 0x06:
        if (d.empty() || d[0] == 0x00) {
            antenna_ = false;
            if (card_) card_->PowerOff();
            return Status(status::kOk);
        }
        if (d[0] == 0x01) {
            antenna_ = true;
            return Status(status::kOk);
        }
        return Status(status::kBadParameter);
    case 0x07: {
        if (d.size() < 3 || d[1] >= 100) return Status(status::kBadParameter);
        const int number = d[0] * 100 + d[1];
        if (number >= kRegisters) return Status(status::kBadParameter);
        return Answer(status::kOk, {registers_[static_cast<std::size_t>(number)]});
    }
    case 0x0A: return Answer(status::kOk, Bytes(serial_.begin(), serial_.end()));
    case 0x02: {
        if (!EnsureActive()) return Status(status::kNoCard);
        Bytes data{card_->type_byte()};
        data.insert(data.end(), card_->uid().begin(), card_->uid().end());
        return Answer(status::kOk, data);
    }
    case 0x09: {
        // Accepted at once; the search result follows.
        Reaction r = Answer(status::kOk);
        Bytes second;
        if (Search(false) && Select()) {
            Bytes data{card_->type_byte()};
            data.insert(data.end(), card_->uid().begin(), card_->uid().begin() + 4);
            second = EncodeAnswer(status::kOk, data);
        } else {
            second = EncodeAnswer(status::kNoCard);
        }
        r.pieces.push_back({manual_search_delay_ms_, second});
        return r;
    }
    default: return Status(status::kUnknownCommand);
    }
}

Reaction ReaderModel::DetectionCommand(const Command &command) {
    const Bytes &d = command.data;
    switch (command.code) {
    case 0x01: {
        if (d.empty() || (d[0] != 0x26 && d[0] != 0x52)) return Status(status::kBadParameter);
        if (!Search(d[0] == 0x52)) return Status(status::kNoCard);
        return Answer(status::kOk, {card_->type_byte(), 0x00});
    }
    case 0x02: {
        if (d.empty() || !IsSelectCode(d[0])) return Status(status::kBadParameter);
        if (!EnsureReady()) return Status(status::kNoCard);
        answer_card_us_ += kAnticollisionUs;
        const auto part = card_->Anticollision(d[0]);
        if (!part) return Status(status::kNoCard);
        return Answer(status::kOk, *part);
    }
    case 0x03: {
        // The reader completes every cascade level of the UID it holds.
        if (d.empty() || !IsSelectCode(d[0])) return Status(status::kBadParameter);
        if (!EnsureReady()) return Status(status::kNoCard);
        answer_card_us_ += kSelectUs;
        if (!card_->Select()) return Status(status::kNoCard);
        return Answer(status::kOk, {card_->sak()});
    }
    case 0x04: {
        if (!Search(false) || !Select()) return Status(status::kNoCard);
        Bytes data{card_->type_byte()};
        data.insert(data.end(), card_->uid().begin(), card_->uid().end());
        data.push_back(card_->sak());
        return Answer(status::kOk, data);
    }
    case 0x05:
        if (!EnsureActive()) return Status(status::kNoCard);
        answer_card_us_ += kHaltUs;
        card_->Halt();
        return Status(status::kOk);
    default: return Status(status::kUnknownCommand);
    }
}

Reaction ReaderModel::ClassicCommand(const Command &command) {
    // Data bytes each code needs at least.
    std::size_t need = 0;
    switch (command.code) {
    case 0x01: need = 10; break;
    case 0x02: case 0x05: need = 3; break;
    case 0x03: need = 19; break;
    case 0x04: need = 7; break;
    case 0x06: need = 8; break;
    case 0x07: need = !command.data.empty() && command.data[0] == 0x01 ? 27 : 11; break;
    default: return Status(status::kUnknownCommand);
    }
    const Bytes &d = command.data;
    if (d.size() < need) return Status(status::kBadParameter);
    PowerField();
    if (!card_) return Status(status::kNoCard);
    if (dynamic_cast<UltraLight *>(card_.get()) != nullptr) return UltraLightCommand(command);
    auto *classic = dynamic_cast<MifareClassic *>(card_.get());
    if (classic == nullptr) return Status(status::kCardRefused);

    // Address bytes start after the direction byte where there is one.
    const std::size_t at = command.code == 0x06 || command.code == 0x07 ? 1 : 0;
    if ((command.code == 0x06 && d[0] != 0x01 && d[0] != 0x02) || (command.code == 0x07 && d[0] > 0x01))
        return Status(status::kBadParameter);
    const auto block = classic->Resolve(d[at], d[at + 1], d[at + 2]);
    if (!block) return Status(status::kBadParameter);
    // The combined read and write search the card themselves.
    const bool combined = command.code == 0x07;
    if (!EnsureActive(!combined)) return Status(status::kNoCard);
    answer_card_us_ += CardOperationUs(command.code, d[0]);

    Block data{};
    switch (command.code) {
    case 0x01: return Status(classic->Authenticate(*block, d[3], d.data() + 4));
    case 0x02: {
        const std::uint8_t st = classic->Read(*block, data);
        return st == status::kOk ? Answer(st, Bytes(data.begin(), data.end())) : Status(st);
    }
    case 0x03:
        std::copy(d.begin() + 3, d.begin() + 19, data.begin());
        return Status(classic->Write(*block, data));
    case 0x04: return Status(classic->WriteValue(*block, FromLe32(d.data() + 3)));
    case 0x05: {
        std::int32_t value = 0;
        const std::uint8_t st = classic->ReadValue(*block, value);
        return st == status::kOk ? Answer(st, Le32(value)) : Status(st);
    }
    case 0x06: return Status(classic->ChangeValue(*block, d[0] == 0x01, FromLe32(d.data() + 4)));
    case 0x07: {
        std::uint8_t st = classic->Authenticate(*block, d[4], d.data() + 5);
        if (st != status::kOk) return Status(st);
        if (d[0] == 0x00) {
            st = classic->Read(*block, data);
            return st == status::kOk ? Answer(st, Bytes(data.begin(), data.end())) : Status(st);
        }
        std::copy(d.begin() + 11, d.begin() + 27, data.begin());
        return Status(classic->Write(*block, data));
    }
    default: return Status(status::kUnknownCommand);
    }
}

// An UltraLight has no keys: the reader reads four pages and writes one. A
// page the card refuses (past its end, locked, behind its password) is a NAK,
// after which the card has left its session, as a real one does.
Reaction ReaderModel::UltraLightCommand(const Command &command) {
    auto &ul = static_cast<UltraLight &>(*card_);
    if (command.code != 0x02 && command.code != 0x03) return Status(status::kCardRefused);
    const Bytes &d = command.data;
    const int page = d[0] == 0x01 ? d[2] : d[0] == 0x00 ? d[1] * 4 + d[2] : ul.page_count();
    if (page >= ul.page_count()) {
        if (ul.state() == IsoState::Active) ul.Fail();
        return Status(status::kBadParameter);
    }
    if (!EnsureActive(true)) return Status(status::kNoCard);
    answer_card_us_ += command.code == 0x02 ? kReadUs : kWriteUs;
    std::uint8_t st = status::kOk;
    std::array<std::uint8_t, 16> out{};
    if (command.code == 0x02) {
        st = ul.Read(page, out);
    } else {
        st = ul.WritePage(page, d.data() + 3);
    }
    if (st != status::kOk) {
        ul.Fail();
        return Status(st);
    }
    return command.code == 0x02 ? Answer(st, Bytes(out.begin(), out.end())) : Status(st);
}

Reaction ReaderModel::CosCommand(const Command &command) {
    const Bytes &d = command.data;
    if (command.code < 0x01 || command.code > 0x04) return Status(status::kUnknownCommand);
    if (command.code == 0x01 && (d.empty() || (d[0] != 0x52 && d[0] != 0x26))) return Status(status::kBadParameter);
    if (command.code == 0x03 && d.empty()) return Status(status::kBadParameter);
    if (command.code == 0x04 && (d.size() < 2 || d[0] > 16 || d.size() < 2u + d[0]))
        return Status(status::kBadParameter);
    PowerField();
    if (!card_) return Status(status::kNoCard);
    auto *cpu = dynamic_cast<CpuCard *>(card_.get());
    if (command.code == 0x01) {
        if (cpu != nullptr && cpu->cos_active()) return Status(status::kCosAlreadyActive);
        const bool wakeup = d[0] == 0x52;
        const bool found = card_->state() == IsoState::Active ||
                           ((card_->state() == IsoState::Ready || Search(wakeup)) && Select());
        if (!found) return Status(status::kNoCard);
        if (cpu == nullptr) return Status(status::kCardRefused);
        Bytes ats;
        const std::uint8_t st = cpu->Activate(ats);
        return st == status::kOk ? Answer(st, ats) : Status(st);
    }
    if (cpu == nullptr || !cpu->cos_active()) return Status(status::kCosNotActive);
    switch (command.code) {
    case 0x02: return Status(cpu->Deactivate());
    case 0x03: {
        Bytes response;
        const std::uint8_t st = cpu->Apdu(d, response);
        return st == status::kOk ? Answer(st, response) : Status(st);
    }
    default:
        return Status(cpu->ExternalAuthenticate(d[1], Bytes(d.begin() + 2, d.begin() + 2 + d[0])));
    }
}

}  // namespace sim
