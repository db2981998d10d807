#include "reader/exchange.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "reader/platform/serial_port.h"
#include "reader/session.h"
#include "zelkor.h"

namespace zelkor {
namespace {

// Label, up to 1024 bytes as "XX ", a message and a line end.
constexpr int kTraceCapacity = 32 + 3 * kCopySize + 64;

int FormatTrace(char *out, Message label, const unsigned char *bytes, int count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::string_view text = Text(label).gbk;
    std::memcpy(out, text.data(), text.size());
    int n = static_cast<int>(text.size());
    for (int i = 0; i < count && i < kCopySize; ++i) {
        out[n++] = kDigits[bytes[i] >> 4];
        out[n++] = kDigits[bytes[i] & 0x0F];
        out[n++] = ' ';
    }
    return n;
}

int AppendMessage(char *out, int n, Message message) {
    const std::string_view text = Text(message).gbk;
    std::memcpy(out + n, text.data(), text.size());
    return n + static_cast<int>(text.size());
}

// One write per line, so that another thread's output never cuts into it.
void WriteLine(const char *line, int n) {
    std::fwrite(line, 1, static_cast<size_t>(n), stdout);
    std::fflush(stdout);
}

// A send after a command that gave up waits for that command's late answer
// or the end of its no-answer window, so the answer cannot be taken for the
// new command's. Costs time only after a time-out.
void SettlePreviousExchange(ReaderSession &s) {
    bool notice = false;
    {
        std::unique_lock lock(s.data_lock);
        if (s.answers_outstanding == 0) return;
        s.settling = true;
        const auto window_end = s.sent_at + std::chrono::milliseconds(kNoAnswerNoticeMs);
        s.answer_cv.wait_until(lock, window_end, [&] { return s.answers_outstanding == 0; });
        s.settling = false;
        if (s.answers_outstanding == 0) return;
        notice = TakeNoAnswerNotice(s);
        s.answers_outstanding = 0;
    }
    if (notice) PrintMessage(Message::kNoAnswer);
}

}  // namespace

void SendFrame(int pending_command, const unsigned char *frame, int length, int answers) {
    ReaderSession &s = Session();
    length = std::clamp(length, 0, kCopySize);
    const bool usable = SessionUsable(s);
    if (usable) SettlePreviousExchange(s);
    {
        char line[kTraceCapacity];
        int n = FormatTrace(line, Message::kSendLabel, frame, length);
        line[n++] = '\n';
        WriteLine(line, n);
    }
    {
        // A new exchange owns nothing of the previous one: no partial frame,
        // no received bytes and no answer that came too late for its command.
        std::lock_guard lock(s.data_lock);
        ++s.exchange_number;
        if (usable) s.port.DiscardInput();
        s.pending_command = pending_command;
        s.assembly.Clear();
        std::memset(s.received_copy, 0, sizeof s.received_copy);
        s.received_length = 0;
        s.frame_received = false;
        s.mailbox.Clear();
        const unsigned now = platform::MonotonicMs();
        s.send_tick = now != 0 ? now : 1U;  // 0 means no answer awaited
        s.sent_at = std::chrono::steady_clock::now();
        s.answers_outstanding = usable ? answers : 0;
    }
    if (usable) s.port.Write(frame, length);
    std::memcpy(s.sent_copy, frame, static_cast<size_t>(length));
    s.sent_length = length;
}

void SendFrame(int pending_command, const CommandFrame &frame, int answers) {
    SendFrame(pending_command, frame.data(), frame.size(), answers);
}

AnswerOutcome WaitForAnswer(unsigned char *answer, int *count) {
    ReaderSession &s = Session();
    *count = 0;
    if (!SessionUsable(s)) return AnswerOutcome::kNone;
    AnswerMailbox::Entry entry;
    {
        std::unique_lock lock(s.data_lock);
        if (!s.answer_cv.wait_for(lock, std::chrono::milliseconds(kAnswerWaitMs),
                                  [&] { return !s.mailbox.empty(); })) {
            return AnswerOutcome::kNone;
        }
        s.mailbox.Take(&entry);
    }
    if (!entry.good) return AnswerOutcome::kRefused;
    *count = std::min(entry.length, kAnswerSize);
    if (answer != nullptr) std::memcpy(answer, entry.bytes, static_cast<size_t>(*count));
    return AnswerOutcome::kGood;
}

int WaitAnswer(unsigned char *answer) {
    int count = 0;
    return WaitForAnswer(answer, &count) == AnswerOutcome::kGood ? count : 0;
}

int WaitDone() {
    int count = 0;
    return WaitForAnswer(nullptr, &count) == AnswerOutcome::kGood && count != 0 ? 1 : 0;
}

const unsigned char *Exchange(int pending_command, const CommandFrame &frame) {
    ReaderSession &s = Session();
    SendFrame(pending_command, frame);
    return WaitAnswer(s.answer) > 0 ? s.answer : nullptr;
}

void TraceAnswer(const unsigned char *bytes, int length, const AnswerVerdict &verdict) {
    char line[kTraceCapacity];
    int n = FormatTrace(line, Message::kReceiveLabel, bytes, length);
    if (verdict.has_message) n = AppendMessage(line, n, verdict.message);
    WriteLine(line, n);
}

}  // namespace zelkor

extern "C" {

int GetReaderSendCmd(unsigned char *out) {
    zelkor::ReaderSession &s = zelkor::Session();
    if (out == nullptr) return 0;
    std::memcpy(out, s.sent_copy, static_cast<size_t>(s.sent_length));
    return s.sent_length;
}

int GetReaderRecvData(unsigned char *out) {
    zelkor::ReaderSession &s = zelkor::Session();
    if (out == nullptr) return 0;
    std::lock_guard lock(s.data_lock);
    std::memcpy(out, s.received_copy, static_cast<size_t>(s.received_length));
    return s.received_length;
}

}  // extern "C"
