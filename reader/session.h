// The library's one reader session: the port, the receive thread and the
// state that the caller's thread and the receive thread share.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "reader/answer_assembly.h"
#include "reader/platform/serial_port.h"

namespace zelkor {

inline constexpr int kCopySize = 1024;
inline constexpr int kAnswerSize = 128;
inline constexpr int kAnswerWaitMs = 1000;
inline constexpr int kNoAnswerNoticeMs = 2000;
inline constexpr int kPollPeriodMs = 50;

// Answer frames of the current exchange, oldest first, for the waiting
// command. Upload data never goes in.
class AnswerMailbox {
public:
    static constexpr int kSlots = 4;
    struct Entry {
        unsigned char bytes[kAnswerSize] = {};  // the first bytes of the frame
        int length = 0;                         // the whole frame's length
        bool good = false;                      // status 0
    };
    // A frame beyond kSlots unread ones is dropped.
    void Post(const unsigned char *bytes, int length, bool good);
    bool Take(Entry *entry);
    void Clear() { count_ = 0; }
    bool empty() const { return count_ == 0; }

private:
    Entry entries_[kSlots];
    int first_ = 0;
    int count_ = 0;
};

struct ReaderSession {
    platform::SerialPort port;
    // Heap-held so that a forked child, where the thread does not exist, can
    // let go of it without joining.
    std::unique_ptr<std::thread> receive_thread;
    std::atomic<bool> open{false};
    std::atomic<bool> stop_requested{false};

    // Guards everything down to `mailbox`. Never held while writing to
    // standard output: a caller may hold the stream's lock around a command.
    std::mutex data_lock;
    // Signalled when an answer is posted or an exchange stops awaiting one.
    std::condition_variable answer_cv;
    int pending_command = 0;
    unsigned send_tick = 0;  // 0: the no-answer notice is not due
    bool last_answer_ok = true;
    // Counts sends; bytes read before the latest send belong to an older exchange.
    unsigned exchange_number = 0;
    // Answer frames the latest send still awaits; a later send waits for them
    // (or for the no-answer window to close) so that a late answer cannot be
    // taken for its own.
    int answers_outstanding = 0;
    std::chrono::steady_clock::time_point sent_at{};
    // A send is waiting for the previous exchange to settle. It prints that
    // exchange's no-answer notice itself, so the notice always comes before
    // the new send's trace.
    bool settling = false;
    AnswerAssembly assembly;
    // The latest answer frame since the send, as far as it arrived; upload
    // data only while no frame has begun.
    unsigned char received_copy[kCopySize] = {};
    int received_length = 0;
    bool frame_received = false;
    AnswerMailbox mailbox;

    // Caller's thread only.
    unsigned char sent_copy[kCopySize] = {};
    int sent_length = 0;
    unsigned char answer[kAnswerSize] = {};
    unsigned char select_code = 0x93;
};

// The session. It is never destroyed; the teardown at process exit ends it
// only in the process that opened it.
ReaderSession &Session();

// True while a session opened by this process is open.
bool SessionUsable(ReaderSession &session);

// The number of the current exchange, for ReceiveChunk.
unsigned CurrentExchange(ReaderSession &session);

// Assembles the bytes of one read into frames and upload data; each piece is
// traced and evaluated in order, and each answer frame is posted to the
// waiting command after its trace is written. Bytes read during exchange
// `exchange_number` are dropped once a newer send began.
void ReceiveChunk(ReaderSession &session, const unsigned char *bytes, int count,
                  unsigned exchange_number);

// When the latest send still awaits an answer, ends that exchange's wait and
// returns true; the caller prints the no-answer notice (without the lock).
// Requires `data_lock`.
bool TakeNoAnswerNotice(ReaderSession &session);

// Receive thread body.
void ReceiveLoop(ReaderSession &session);

// Stops and joins the receive thread and releases the port. False when the
// port could not be closed, or when the session belongs to the process that
// forked this one (it is then forgotten here and left alone there).
bool EndSession(ReaderSession &session);

}  // namespace zelkor
