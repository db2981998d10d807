// Sector trailers: read the access bytes, check a key, and the composite
// operations that replace key A or the access bytes.
#include <cstring>

#include "reader/block_address.h"
#include "reader/command_support.h"
#include "reader/protocol_codes.h"
#include "reader/messages.h"
#include "reader/platform/serial_port.h"
#include "zelkor.h"

using namespace zelkor;

namespace {

constexpr unsigned char kDirectionRead = 0x00;
constexpr unsigned char kDirectionWrite = 0x01;
constexpr unsigned char kRelative = 0x00;
constexpr int kAccessOffsetInTrailer = 6;  // answer data: the 16 trailer bytes

constexpr int kModifyKeyCheckA = 29;
constexpr int kModifyKeyCheckB = 30;
constexpr int kModifyKeyPauseMs = 50;
constexpr int kModifyControlCheckA = 26;
constexpr int kModifyControlCheckB = 27;
constexpr int kModifyControlPauseMs = 100;

CommandFrame TrailerFrame(unsigned char code, int sector) {
    CommandFrame frame(0x03, code);
    if (code == 0x07) frame.Add(kDirectionRead);
    frame.Add(kRelative).Add(static_cast<unsigned char>(sector)).Add(TrailerBlock(sector));
    return frame;
}

// The combined write of a whole trailer: keys A and B and the access bytes.
int WriteTrailer(int pending, int sector, unsigned char key_type, const unsigned char *auth_key,
                 const unsigned char *key_a, const unsigned char *access,
                 const unsigned char *key_b) {
    CommandFrame frame(0x03, 0x07);
    frame.Add(kDirectionWrite)
        .Add(kRelative)
        .Add(static_cast<unsigned char>(sector))
        .Add(TrailerBlock(sector))
        .Add(key_type)
        .Add(auth_key, kKeySize)
        .Add(key_a, kKeySize)
        .Add(access, kAccessSize)
        .Add(key_b, kKeySize);
    if (!frame.Finish() || Transact(pending, frame) == 0) return 0;
    PrintMessage(Message::kKeyChangedOk);
    return 1;
}

// Checks both current keys and reads the current access bytes, pausing
// `pause_ms` after each step that succeeds (none after the read).
bool CheckTrailerKeys(int sector, unsigned char *key_a, unsigned char *key_b, int code_a,
                      int code_b, int pause_ms, bool pause_after_read, unsigned char *access) {
    if (CheckCtrlKey(true, sector, key_a, code_a) == 0) return false;
    platform::SleepMs(pause_ms);
    if (CheckCtrlKey(false, sector, key_b, code_b) == 0) return false;
    platform::SleepMs(pause_ms);
    if (ReadCtrlWord(sector, key_a, access) == 0) return false;
    if (pause_after_read) platform::SleepMs(pause_ms);
    return true;
}

}  // namespace

extern "C" {

int ReadCtrlWord(int sector, unsigned char *key_a, unsigned char *access_bytes) {
    if (key_a == nullptr || access_bytes == nullptr || !ValidSector(sector)) return 0;
    CommandFrame frame = TrailerFrame(0x07, sector);
    frame.Add(kKeyTypeA).Add(key_a, kKeySize);
    if (!frame.Finish()) return 0;
    const unsigned char *data =
        TransactData(pending::kReadCtrlWord, frame, kAccessOffsetInTrailer + kAccessSize);
    if (data == nullptr) return 0;
    std::memcpy(access_bytes, data + kAccessOffsetInTrailer, kAccessSize);
    PrintMessage(Message::kReadCtrlWordOk);
    return 1;
}

int CheckCtrlKey(bool key_a, int sector, unsigned char *key, int pending_code) {
    if (key == nullptr || !ValidSector(sector)) return 0;
    CommandFrame frame = TrailerFrame(0x01, sector);
    frame.Add(key_a ? kKeyTypeA : kKeyTypeB).Add(key, kKeySize);
    if (!frame.Finish() || Transact(pending_code, frame) == 0) return 0;
    PrintMessage(Message::kCheckCtrlKeyOk);
    return 1;
}

int ModifyKey(int sector, unsigned char *new_key_a, unsigned char *key_a, unsigned char *key_b) {
    if (new_key_a == nullptr || key_a == nullptr || key_b == nullptr || !ValidSector(sector)) {
        return 0;
    }
    unsigned char access[kAccessSize];
    if (!CheckTrailerKeys(sector, key_a, key_b, kModifyKeyCheckA, kModifyKeyCheckB,
                          kModifyKeyPauseMs, true, access)) {
        return 0;
    }
    const unsigned char key_type = KeyWriteKeyType(TrailerAccessNumber(access));
    const unsigned char *auth_key = key_type == kKeyTypeB ? key_b : key_a;
    return WriteTrailer(pending::kModifyKey, sector, key_type, auth_key, new_key_a, access, key_b);
}

int ModifyControl(int sector, unsigned char *key_a, unsigned char *key_b,
                  unsigned char *access_bytes) {
    if (key_a == nullptr || key_b == nullptr || access_bytes == nullptr || !ValidSector(sector)) {
        return 0;
    }
    // Access bits whose inverted copies disagree would lock the sector for good.
    if (!AccessBytesConsistent(access_bytes)) {
        PrintMessage(Message::kControlWordInvalid);
        return 0;
    }
    unsigned char access[kAccessSize];
    if (!CheckTrailerKeys(sector, key_a, key_b, kModifyControlCheckA, kModifyControlCheckB,
                          kModifyControlPauseMs, false, access)) {
        return 0;
    }
    static constexpr unsigned char kNoKey[kKeySize] = {};
    const unsigned char key_type = AccessWriteKeyType(TrailerAccessNumber(access));
    const unsigned char *auth_key = key_type == kKeyTypeA   ? key_a
                                    : key_type == kKeyTypeB ? key_b
                                                            : kNoKey;
    return WriteTrailer(pending::kModifyControl, sector, key_type, auth_key, key_a, access_bytes, key_b);
}

}  // extern "C"
