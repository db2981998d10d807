// Evaluation of a complete answer: its status byte decides success, and
// every failure has its message. Pure code.
#pragma once

#include "reader/messages.h"

namespace zelkor {

inline constexpr int kStatusOffset = 6;

struct AnswerVerdict {
    bool is_frame = false;  // starts with 55 55; otherwise upload data
    bool success = false;   // status 0 (meaningless for upload data)
    bool has_message = false;
    Message message = Message::kCount;
};

// Judges `length` assembled bytes for the command whose pending code is
// `pending_command` (codes 0x1A/0x1D and 0x1B/0x1E turn any failure into the
// key A or key B message).
AnswerVerdict EvaluateAnswer(const unsigned char *bytes, int length, int pending_command);

// The verdict on upload data: reported with its message, never an answer.
AnswerVerdict UploadVerdict();

// Message for a nonzero status byte.
Message StatusMessage(unsigned char status);

}  // namespace zelkor
