// One exchange with the reader: trace and write a frame, then wait for the
// receive thread to hand over the answer.
#pragma once

#include "reader/frame.h"
#include "reader/messages.h"
#include "reader/status.h"

namespace zelkor {

// Traces the frame and writes it, awaiting `answers` answer frames. When the
// previous command gave up waiting, first waits until its answer arrived (it
// is traced and dropped) or its no-answer window closed. Forgets everything
// received for earlier exchanges. Failures show as a missing answer.
void SendFrame(int pending_command, const unsigned char *frame, int length, int answers = 1);
void SendFrame(int pending_command, const CommandFrame &frame, int answers = 1);

enum class AnswerOutcome {
    kGood,     // an answer frame with status 0
    kRefused,  // an answer frame with an error status: its message is printed
    kNone,     // nothing within 1000 ms, or no session
};

// Waits up to 1000 ms for the next answer frame of the exchange; a good one is
// copied into `answer` (at most 128 bytes, `*count` of them).
AnswerOutcome WaitForAnswer(unsigned char *answer, int *count);

// WaitForAnswer into `answer`; the count copied, 0 when no good answer came.
int WaitAnswer(unsigned char *answer);

// Waits like WaitAnswer without copying; 1 when a good answer came.
int WaitDone();

// SendFrame then WaitAnswer into the session's 128-byte answer buffer.
// Returns that buffer, or nullptr when no good answer came.
const unsigned char *Exchange(int pending_command, const CommandFrame &frame);

// Writes the trace of a received piece: "收到数据：", its bytes, and its
// message; a good answer's line is ended by the command's success message.
void TraceAnswer(const unsigned char *bytes, int length, const AnswerVerdict &verdict);

}  // namespace zelkor
