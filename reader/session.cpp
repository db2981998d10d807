#include "reader/session.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "reader/exchange.h"
#include "reader/messages.h"
#include "reader/platform/port_names.h"
#include "reader/status.h"
#include "zelkor.h"

namespace zelkor {

void AnswerMailbox::Post(const unsigned char *bytes, int length, bool good) {
    if (count_ == kSlots) return;
    Entry &entry = entries_[(first_ + count_) % kSlots];
    entry.length = length;
    entry.good = good;
    std::memcpy(entry.bytes, bytes, static_cast<size_t>(std::clamp(length, 0, kAnswerSize)));
    ++count_;
}

bool AnswerMailbox::Take(Entry *entry) {
    if (count_ == 0) return false;
    *entry = entries_[first_];
    first_ = (first_ + 1) % kSlots;
    --count_;
    return true;
}

ReaderSession &Session() {
    static ReaderSession *const session = new ReaderSession;
    return *session;
}

namespace {

// Ends a session still open at process exit, in the opening process only: a
// forked child that exits must leave its parent's port and thread alone.
struct TeardownAtExit {
    ~TeardownAtExit() {
        ReaderSession &s = Session();
        if (s.open.load() && s.port.OwnedByThisProcess()) EndSession(s);
    }
} teardown_at_exit;

// A complete piece taken from the assembly, with its verdict.
struct ReceivedPiece {
    PieceKind kind = PieceKind::kUpload;
    unsigned char bytes[kAssemblyCapacity];
    int length = 0;
    AnswerVerdict verdict;
};

void RecordReceived(ReaderSession &s, const unsigned char *bytes, int length, bool is_frame) {
    if (!is_frame && s.frame_received) return;
    s.frame_received = is_frame;
    s.received_length = length;
    std::memcpy(s.received_copy, bytes, static_cast<size_t>(length));
}

// Feeds the read's bytes from `*offset` on into the assembly until a piece
// completes; false when none does. Requires `data_lock`.
bool TakePiece(ReaderSession &s, const unsigned char *bytes, int count, int *offset,
               ReceivedPiece *out) {
    Piece piece;
    while (!s.assembly.Next(&piece)) {
        if (*offset == count) {
            if (s.assembly.size() > 0) {
                RecordReceived(s, s.assembly.data(), s.assembly.size(), true);
                s.last_answer_ok = false;
            }
            return false;
        }
        const int taken = s.assembly.Append(bytes + *offset, count - *offset);
        // A full buffer holds a frame that cannot complete: the rest is dropped.
        *offset = taken == 0 ? count : *offset + taken;
    }
    const bool is_frame = piece.kind == PieceKind::kFrame;
    RecordReceived(s, piece.bytes, piece.length, is_frame);
    out->kind = piece.kind;
    out->length = piece.length;
    std::memcpy(out->bytes, piece.bytes, static_cast<size_t>(piece.length));
    out->verdict = is_frame ? EvaluateAnswer(piece.bytes, piece.length, s.pending_command) : UploadVerdict();
    return true;
}

// Hands an answer frame, already traced, to the command of its exchange.
void PostAnswer(ReaderSession &s, const ReceivedPiece &piece, unsigned exchange_number) {
    std::lock_guard lock(s.data_lock);
    if (exchange_number != s.exchange_number || piece.kind != PieceKind::kFrame) return;
    s.send_tick = 0;
    if (piece.verdict.success) {
        s.last_answer_ok = true;
        if (s.answers_outstanding > 0) --s.answers_outstanding;
    } else {
        // The reader refused: no further answer comes for this command.
        s.last_answer_ok = false;
        s.pending_command = 0;
        s.answers_outstanding = 0;
    }
    s.mailbox.Post(piece.bytes, piece.length, piece.verdict.success);
    s.answer_cv.notify_all();
}

// Requires `data_lock`.
bool NoAnswerNoticeDue(const ReaderSession &s) {
    return s.send_tick != 0 &&
           platform::MonotonicMs() - s.send_tick >= static_cast<unsigned>(kNoAnswerNoticeMs);
}

void CheckNoAnswer(ReaderSession &s) {
    bool due = false;
    {
        std::lock_guard lock(s.data_lock);
        due = !s.settling && NoAnswerNoticeDue(s) && TakeNoAnswerNotice(s);
    }
    if (due) PrintMessage(Message::kNoAnswer);
}

// How long the next wait for input may last: one poll period, or less when
// the no-answer notice falls due sooner.
int NextWaitMs(ReaderSession &s) {
    std::lock_guard lock(s.data_lock);
    if (s.send_tick == 0 || s.pending_command == 0 || s.settling) return kPollPeriodMs;
    const unsigned elapsed = platform::MonotonicMs() - s.send_tick;
    if (elapsed >= static_cast<unsigned>(kNoAnswerNoticeMs)) return 0;
    const unsigned left = static_cast<unsigned>(kNoAnswerNoticeMs) - elapsed;
    return left < static_cast<unsigned>(kPollPeriodMs) ? static_cast<int>(left) : kPollPeriodMs;
}

// Forgets everything of an earlier session or exchange. Requires `data_lock`.
void ResetExchange(ReaderSession &s) {
    s.assembly.Clear();
    s.received_length = 0;
    s.frame_received = false;
    s.pending_command = 0;
    s.send_tick = 0;
    s.answers_outstanding = 0;
    s.mailbox.Clear();
}

}  // namespace

bool SessionUsable(ReaderSession &s) { return s.open.load() && s.port.OwnedByThisProcess(); }

unsigned CurrentExchange(ReaderSession &s) {
    std::lock_guard lock(s.data_lock);
    return s.exchange_number;
}

bool TakeNoAnswerNotice(ReaderSession &s) {
    if (s.send_tick == 0 || s.pending_command == 0) return false;
    s.pending_command = 0;
    s.assembly.Clear();
    s.last_answer_ok = false;
    s.answers_outstanding = 0;
    s.answer_cv.notify_all();
    return true;
}

void ReceiveChunk(ReaderSession &s, const unsigned char *bytes, int count,
                  unsigned exchange_number) {
    ReceivedPiece piece;
    int offset = 0;
    for (;;) {
        {
            std::lock_guard lock(s.data_lock);
            if (exchange_number != s.exchange_number) return;
            if (!TakePiece(s, bytes, count, &offset, &piece)) return;
        }
        TraceAnswer(piece.bytes, piece.length, piece.verdict);
        PostAnswer(s, piece, exchange_number);
    }
}

void ReceiveLoop(ReaderSession &s) {
    unsigned char chunk[kCopySize];
    while (!s.stop_requested.load()) {
        CheckNoAnswer(s);
        int count = 0;
        switch (s.port.Read(chunk, sizeof chunk, NextWaitMs(s), &count)) {
        case platform::ReadStatus::kData:
            ReceiveChunk(s, chunk, count, CurrentExchange(s));
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
    s.open = false;
    if (!s.port.OwnedByThisProcess()) {
        // Forked from the process that opened the port: its receive thread
        // does not exist here, and the port's lock belongs to that process.
        [[maybe_unused]] std::thread *parents_thread = s.receive_thread.release();
        s.port.Close();
        return false;
    }
    s.stop_requested = true;
    s.port.Wake();
    if (s.receive_thread && s.receive_thread->joinable()) s.receive_thread->join();
    s.receive_thread.reset();
    {
        std::lock_guard lock(s.data_lock);
        ResetExchange(s);
    }
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
        zelkor::ResetExchange(s);
    }
    s.stop_requested = false;
    try {
        s.receive_thread = std::make_unique<std::thread>(zelkor::ReceiveLoop, std::ref(s));
    } catch (const std::exception &) {
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
