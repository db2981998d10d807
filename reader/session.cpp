#include "session.h"

#include <chrono>
#include <cstring>
#include <system_error>

#include "exchange.h"
#include "messages.h"
#include "platform/port_names.h"
#include "zelkor.h"

namespace zelkor {

void AnswerSignal::Release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    released_cv_.notify_one();
}

bool AnswerSignal::Wait(int timeout_ms) {
    std::unique_lock lock(mutex_);
    if (!released_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                               [this] { return released_; })) {
        return false;
    }
    released_ = false;
    return true;
}

void AnswerSignal::Reset() {
    std::lock_guard lock(mutex_);
    released_ = false;
}

ReaderSession::~ReaderSession() { EndSession(*this); }

ReaderSession &Session() {
    static ReaderSession session;
    return session;
}

namespace {

// Prints the no-answer notice once, 2000 ms after a send that got no answer.
void CheckNoAnswer(ReaderSession &s) {
    std::lock_guard lock(s.data_lock);
    const unsigned sent = s.send_tick.load();
    if (sent == 0 || s.pending_command.load() == 0) return;
    if (platform::MonotonicMs() - sent < static_cast<unsigned>(kNoAnswerNoticeMs)) return;
    PrintMessage(Message::kNoAnswer);
    s.pending_command = 0;
    s.assembly.Clear();
    s.last_answer_ok = false;
}

// How long the next wait for input may last: one poll period, or less when
// the no-answer notice falls due sooner.
int NextWaitMs(const ReaderSession &s) {
    const unsigned sent = s.send_tick.load();
    if (sent == 0 || s.pending_command.load() == 0) return kPollPeriodMs;
    const unsigned elapsed = platform::MonotonicMs() - sent;
    if (elapsed >= static_cast<unsigned>(kNoAnswerNoticeMs)) return 0;
    const unsigned left = static_cast<unsigned>(kNoAnswerNoticeMs) - elapsed;
    return left < static_cast<unsigned>(kPollPeriodMs) ? static_cast<int>(left) : kPollPeriodMs;
}

}  // namespace

void ReceiveChunk(ReaderSession &s, const unsigned char *bytes, int count,
                  unsigned exchange_number) {
    std::lock_guard lock(s.data_lock);
    if (exchange_number != s.exchange_number.load()) return;
    const bool complete = s.assembly.Append(bytes, count);
    s.received_length = s.assembly.size();
    std::memcpy(s.received_copy, s.assembly.data(), static_cast<size_t>(s.received_length));
    if (!complete) {
        s.last_answer_ok = false;
        return;
    }
    if (ReportAnswer(s.assembly.data(), s.assembly.size())) {
        s.woken_length = s.assembly.size();
        std::memcpy(s.woken_copy, s.assembly.data(), static_cast<size_t>(s.woken_length));
        s.answer_signal.Release();
    }
    s.assembly.Clear();
    s.send_tick = 0;
}

void ReceiveLoop(ReaderSession &s) {
    unsigned char chunk[kCopySize];
    while (!s.stop_requested.load()) {
        CheckNoAnswer(s);
        int count = 0;
        switch (s.port.Read(chunk, sizeof chunk, NextWaitMs(s), &count)) {
        case platform::ReadStatus::kData:
            ReceiveChunk(s, chunk, count, s.exchange_number.load());
            break;
        case platform::ReadStatus::kGone:
            // A vanished device reports hang-up for ever: keep to the poll
            // period instead of spinning, and go on with the time-outs.
            s.port.WaitForWake(kPollPeriodMs);
            break;
        case platform::ReadStatus::kNothing:
        case platform::ReadStatus::kWoken:
            break;
        }
    }
}

bool EndSession(ReaderSession &s) {
    if (!s.open.load()) return false;
    s.stop_requested = true;
    s.port.Wake();
    if (s.receive_thread.joinable()) s.receive_thread.join();
    s.open = false;
    return s.port.Close();
}

}  // namespace zelkor

using zelkor::ReaderSession;
using zelkor::Session;

extern "C" {

int OpenReader(int port, int baud, int data_bits, int parity, int stop_bits) {
    ReaderSession &s = Session();
    // A second open replaces the session: the old port and thread go first.
    zelkor::EndSession(s);
    char path[512];
    if (!zelkor::platform::ResolvePort(port, path, sizeof path)) return 0;
    if (!s.port.Open(path)) return 0;
    if (!s.port.Configure(baud, data_bits, parity, stop_bits)) {
        s.port.Close();
        return 0;
    }
    s.port.Purge();
    {
        std::lock_guard lock(s.data_lock);
        s.assembly.Clear();
        s.received_length = 0;
        s.woken_length = 0;
        s.pending_command = 0;
        s.send_tick = 0;
    }
    s.answer_signal.Reset();
    s.stop_requested = false;
    try {
        s.receive_thread = std::thread(zelkor::ReceiveLoop, std::ref(s));
    } catch (const std::system_error &) {
        s.port.Close();
        return 0;
    }
    s.open = true;
    return 1;
}

int CloseReader(void) { return zelkor::EndSession(Session()) ? 1 : 0; }

int IsReaderOpen(int port) {
    char path[512];
    if (!zelkor::platform::ResolvePort(port, path, sizeof path)) return 0;
    return zelkor::platform::ProbePort(path) ? 1 : 0;
}

}  // extern "C"
