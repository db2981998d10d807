// Small helpers shared by the command functions.
#pragma once

#include <cstring>

#include "reader/exchange.h"
#include "reader/session.h"

namespace zelkor {

// Answer data start right after the status byte.
inline constexpr int kAnswerDataOffset = 7;

// Data bytes the answer of `count` bytes in the session's answer buffer holds
// between status byte and checksum.
inline int AnswerDataSize(int count) { return count <= 8 ? 0 : count - 8; }

// Sends `frame` and waits for a good answer in the session's answer buffer.
// Returns the answer's byte count, 0 when none came.
inline int Transact(int pending_command, const CommandFrame &frame) {
    SendFrame(pending_command, frame);
    return WaitAnswer(Session().answer);
}

// Like Transact, and also requires the answer to carry `data_bytes` bytes of
// data; returns them, or nullptr.
inline const unsigned char *TransactData(int pending_command, const CommandFrame &frame,
                                         int data_bytes) {
    const int count = Transact(pending_command, frame);
    if (count == 0 || AnswerDataSize(count) < data_bytes) return nullptr;
    return Session().answer + kAnswerDataOffset;
}

// The caller's native int behind a byte pointer, read and written without
// assuming its alignment.
inline int LoadInt(const unsigned char *bytes) {
    int value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

inline void StoreInt(unsigned char *bytes, int value) { std::memcpy(bytes, &value, sizeof value); }

}  // namespace zelkor
