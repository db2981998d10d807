#include "exchange.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/serial_port.h"
#include "session.h"
#include "status.h"
#include "zelkor.h"

namespace zelkor {
namespace {

// Label, up to 1024 bytes as "XX ", and a message.
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

}  // namespace

void TraceBytes(Message label, const unsigned char *bytes, int count) {
    char line[kTraceCapacity];
    const int n = FormatTrace(line, label, bytes, count);
    std::fwrite(line, 1, static_cast<size_t>(n), stdout);
}

void SendFrame(int pending_command, const unsigned char *frame, int length) {
    ReaderSession &s = Session();
    length = std::clamp(length, 0, kCopySize);
    {
        char line[kTraceCapacity];
        int n = FormatTrace(line, Message::kSendLabel, frame, length);
        line[n++] = '\n';
        std::fwrite(line, 1, static_cast<size_t>(n), stdout);
        std::fflush(stdout);
    }
    {
        // A new exchange owns nothing of the previous one: no partial frame,
        // no received bytes and no release that came too late for its command.
        std::lock_guard lock(s.data_lock);
        ++s.exchange_number;
        if (s.open.load()) s.port.DiscardInput();
        s.pending_command = pending_command;
        s.assembly.Clear();
        std::memset(s.received_copy, 0, sizeof s.received_copy);
        s.received_length = 0;
        s.woken_length = 0;
        s.answer_signal.Reset();
        const unsigned now = platform::MonotonicMs();
        s.send_tick = now != 0 ? now : 1U;  // 0 means no answer awaited
    }
    if (s.open.load()) s.port.Write(frame, length);
    std::memcpy(s.sent_copy, frame, static_cast<size_t>(length));
    s.sent_length = length;
}

void SendFrame(int pending_command, const CommandFrame &frame) {
    SendFrame(pending_command, frame.data(), frame.size());
}

int WaitAnswer(unsigned char *answer) {
    ReaderSession &s = Session();
    if (!s.open.load() || !s.answer_signal.Wait(kAnswerWaitMs)) return 0;
    std::lock_guard lock(s.data_lock);
    const int count = std::min(s.woken_length, kAnswerSize);
    std::memcpy(answer, s.woken_copy, static_cast<size_t>(count));
    return count;
}

int WaitDone() {
    ReaderSession &s = Session();
    if (!s.open.load() || !s.answer_signal.Wait(kAnswerWaitMs)) return 0;
    std::lock_guard lock(s.data_lock);
    return s.woken_length != 0 ? 1 : 0;
}

const unsigned char *Exchange(int pending_command, const CommandFrame &frame) {
    ReaderSession &s = Session();
    SendFrame(pending_command, frame);
    return WaitAnswer(s.answer) > 0 ? s.answer : nullptr;
}

bool ReportAnswer(const unsigned char *bytes, int length) {
    ReaderSession &s = Session();
    char line[kTraceCapacity];
    int n = FormatTrace(line, Message::kReceiveLabel, bytes, length);
    const AnswerVerdict verdict = EvaluateAnswer(bytes, length, s.pending_command.load());
    if (verdict.has_message) n = AppendMessage(line, n, verdict.message);
    if (verdict.is_frame) {
        if (verdict.success) {
            s.last_answer_ok = true;
        } else {
            s.last_answer_ok = false;
            s.pending_command = 0;
            s.send_tick = 0;
        }
    }
    std::fwrite(line, 1, static_cast<size_t>(n), stdout);
    std::fflush(stdout);
    return s.last_answer_ok.load();
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
