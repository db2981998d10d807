// One exchange with the reader: trace and write a frame, then wait for the
// receive thread to hand over a good answer.
#pragma once

#include "frame.h"
#include "messages.h"

namespace zelkor {

// Records `pending_command` as the awaited answer, traces the frame, forgets
// any earlier answer and writes the frame. Failures show as a missing answer.
void SendFrame(int pending_command, const unsigned char *frame, int length);
void SendFrame(int pending_command, const CommandFrame &frame);

// Waits up to 1000 ms for a good answer and copies at most 128 of its bytes
// into `answer`; returns the count copied, 0 when no good answer came.
int WaitAnswer(unsigned char *answer);

// Waits like WaitAnswer without copying; 1 when a good answer came.
int WaitDone();

// SendFrame then WaitAnswer into the session's 128-byte answer buffer.
// Returns that buffer, or nullptr when no good answer came.
const unsigned char *Exchange(int pending_command, const CommandFrame &frame);

// Called by the receive thread for each complete answer: traces it, prints
// its status message and returns whether it wakes the waiting command.
bool ReportAnswer(const unsigned char *bytes, int length);

// Prints `label` followed by each byte as "%02X " (no line end, no flush).
void TraceBytes(Message label, const unsigned char *bytes, int count);

}  // namespace zelkor
