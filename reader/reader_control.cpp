// The reader's own controls: buzzer, antenna, serial number, line speed,
// registers, and a pass-through for frames the caller composes.
#include <algorithm>
#include <cstring>

#include "reader/command_support.h"
#include "reader/protocol_codes.h"
#include "reader/messages.h"
#include "zelkor.h"

using namespace zelkor;

namespace {

constexpr int kMaxReaderIdBytes = 120;
constexpr int kMaxBaudIndex = 6;
constexpr int kMaxRegister = 255 * 100 + 99;  // both halves fit in a byte
constexpr int kMaxPassThroughBytes = kFrameCapacity - 7;

}  // namespace

extern "C" {

int BuzzerOn(int on) {
    CommandFrame frame(0x01, on != 0 ? 0x04 : 0x05);
    frame.Finish();
    if (Exchange(on != 0 ? pending::kBuzzerOn : pending::kBuzzerOff, frame) == nullptr) return 0;
    PrintMessage(Message::kCommandOk);
    return 1;
}

int AntennaOff(void) {
    CommandFrame frame(0x01, 0x06);
    frame.Add(0x00).Finish();
    if (Exchange(pending::kAntennaOff, frame) == nullptr) return 0;
    PrintMessage(Message::kAntennaOffOk);
    return 1;
}

int GetReaderId(unsigned char *id, int *length) {
    if (id == nullptr || length == nullptr) return 0;
    ReaderSession &s = Session();
    CommandFrame frame(0x01, 0x0A);
    frame.Finish();
    const int count = Transact(pending::kGetReaderId, frame);
    if (count == 0) return 0;
    // Trust the length field only as far as the answer really holds bytes.
    const int claimed = s.answer[4] * 256 + s.answer[5] - 2;
    const int n = std::clamp(std::min({claimed, AnswerDataSize(count), kMaxReaderIdBytes}), 0,
                             kMaxReaderIdBytes);
    std::memcpy(id, s.answer + kAnswerDataOffset, static_cast<size_t>(n));
    *length = n;
    PrintMessage(Message::kReaderIdOk);
    return 1;
}

int SetBaudRate(int index) {
    if (index < 0 || index > kMaxBaudIndex) return 0;
    CommandFrame frame(0xBD, 0x01);
    frame.Add(static_cast<unsigned char>(index + 1)).Finish();
    unsigned char answer[kAnswerSize];
    SendFrame(pending::kSetBaudRate, frame);
    if (WaitAnswer(answer) == 0) return 0;
    PrintMessage(Message::kBaudRateOk);
    return 1;
}

int ReadReader(int reg, int value) {
    if (reg < 0 || reg > kMaxRegister) return 0;
    CommandFrame frame(0x01, 0x07);
    frame.Add(static_cast<unsigned char>(reg / 100))
        .Add(static_cast<unsigned char>(reg % 100))
        .Add(static_cast<unsigned char>(value & 0xFF))
        .Finish();
    unsigned char answer[kAnswerSize];
    SendFrame(pending::kReadReader, frame);
    if (WaitAnswer(answer) == 0) return 0;
    PrintMessage(Message::kReadReaderOk);
    return 1;
}

int SendM1Command(unsigned char *bytes, int count) {
    if (bytes == nullptr || count < 1 || count > kMaxPassThroughBytes) return 0;
    CommandFrame frame;
    frame.Add(bytes, count);
    if (!frame.Finish()) return 0;
    SendFrame(pending::kSendM1Command, frame);
    if (WaitDone() == 0) return 0;
    PrintMessage(Message::kCommandOk);
    return 1;
}

}  // extern "C"
