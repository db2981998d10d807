// Card search, wake-up, anticollision, selection and halt.
#include <cstring>

#include "reader/command_support.h"
#include "reader/protocol_codes.h"
#include "reader/messages.h"
#include "reader/platform/serial_port.h"
#include "zelkor.h"

using namespace zelkor;

namespace {

constexpr unsigned char kCascadeTag = 0x88;
constexpr int kUidBytes = 4;
constexpr int kUltraLightUidBytes = 6;
constexpr int kRepeatedAnticollisionPauseMs = 80;

int CardTypeCode(unsigned char type_byte) {
    switch (type_byte) {
    case 0x00: return CardUltraLight;
    case 0x04: return CardS50;
    case 0x02: return CardS70;
    case 0x08: return CardFM1208;
    case 0x42: return CardPlus;
    case 0x44: return CardD41;
    default: return CardUnknown;
    }
}

// Exchanges a fixed frame that yields no data; 1 with `ok` printed, or 0.
int SimpleCommand(int pending, unsigned char group, unsigned char code, Message ok) {
    CommandFrame frame(group, code);
    frame.Finish();
    if (Transact(pending, frame) == 0) return 0;
    PrintMessage(ok);
    return 1;
}

}  // namespace

extern "C" {

int FindCard(void) {
    CommandFrame frame(0x02, 0x01);
    frame.Add(0x26).Finish();
    if (Exchange(pending::kFindCard, frame) == nullptr) return 0;
    PrintMessage(Message::kFindCardOk);
    return 1;
}

int WakeUp(void) {
    CommandFrame frame(0x02, 0x01);
    frame.Add(0x52).Finish();
    const unsigned char *data = TransactData(pending::kWakeUp, frame, 1);
    if (data == nullptr) return 0;
    const int code = CardTypeCode(data[0]);
    PrintMessage(Message::kWakeUpOk);
    return code;
}

int SelectCard(int select_code) {
    CommandFrame frame(0x02, 0x03);
    frame.Add(static_cast<unsigned char>(select_code & 0xFF)).Finish();
    if (Transact(pending::kSelectCard, frame) == 0) return 0;
    PrintMessage(Message::kSelectCardOk);
    return 1;
}

int Conflict(card_info *info) {
    ReaderSession &s = Session();
    CommandFrame frame(0x02, 0x02);
    frame.Add(s.select_code).Finish();
    int count = Transact(pending::kConflict, frame);
    if (count == 0) return 0;
    // A one-byte answer is followed by the answer that carries the serial
    // number: ask again and judge that one.
    if (AnswerDataSize(count) > 0 && s.answer[5] == 3) {
        platform::SleepMs(kRepeatedAnticollisionPauseMs);
        count = Transact(pending::kConflict, frame);
        if (count == 0) return 0;
    }
    if (AnswerDataSize(count) < 1) return 0;
    if (s.answer[kAnswerDataOffset] == kCascadeTag) {
        // The serial number goes on at the next cascade level.
        SelectCard(s.select_code);
        return 0;
    }
    if (AnswerDataSize(count) < kUidBytes) return 0;
    if (info != nullptr) std::memcpy(info->uid, s.answer + kAnswerDataOffset, kUidBytes);
    PrintMessage(Message::kConflictOk);
    return 1;
}

int GetCardInfo(card_info *info) {
    if (info == nullptr) return 0;
    ReaderSession &s = Session();
    CommandFrame frame(0x01, 0x02);
    frame.Finish();
    const int count = Transact(pending::kGetCardInfo, frame);
    if (AnswerDataSize(count) < 1) return 0;
    const int code = CardTypeCode(s.answer[kAnswerDataOffset]);
    const int uid_bytes = code == CardUltraLight ? kUltraLightUidBytes : kUidBytes;
    if (AnswerDataSize(count) < 1 + uid_bytes) return 0;
    info->card_type = code;
    std::memcpy(info->uid, s.answer + kAnswerDataOffset + 1, static_cast<size_t>(uid_bytes));
    PrintMessage(Message::kCardInfoOk);
    return 1;
}

int ManualCard(card_info *info) {
    if (info == nullptr) return 0;
    ReaderSession &s = Session();
    CommandFrame frame(0x01, 0x09);
    frame.Finish();
    // The reader acknowledges first and answers with the card later: the
    // second answer decides. A refused search ends the command at once.
    SendFrame(pending::kManualCard, frame, 2);
    int count = 0;
    if (WaitForAnswer(s.answer, &count) == AnswerOutcome::kRefused) return 0;
    count = WaitAnswer(s.answer);
    if (count == 0 || AnswerDataSize(count) < 1 + kUidBytes) return 0;
    info->card_type = CardTypeCode(s.answer[kAnswerDataOffset]);
    std::memcpy(info->uid, s.answer + kAnswerDataOffset + 1, kUidBytes);
    PrintMessage(Message::kManualCardOk);
    return 1;
}

int ComposeFindCard(void) { return SimpleCommand(pending::kComposeFindCard, 0x02, 0x04, Message::kComposeFindCardOk); }

int PauseCard(void) { return SimpleCommand(pending::kPauseCard, 0x02, 0x05, Message::kPauseCardOk); }

int AutoFindCard(int on) {
    if (on != 0) return SimpleCommand(pending::kAutoFindOn, 0x01, 0x01, Message::kCommandOk);
    return SimpleCommand(pending::kAutoFindOff, 0x01, 0x03, Message::kCommandOk);
}

}  // extern "C"
