// The library's one reader session: the port, the receive thread and the
// state that the caller's thread and the receive thread share.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "answer_assembly.h"
#include "platform/serial_port.h"

namespace zelkor {

inline constexpr int kCopySize = 1024;
inline constexpr int kAnswerSize = 128;
inline constexpr int kAnswerWaitMs = 1000;
inline constexpr int kNoAnswerNoticeMs = 2000;
inline constexpr int kPollPeriodMs = 50;

// Binary semaphore: a release beyond the first pending one is lost.
class AnswerSignal {
public:
    void Release();
    // Takes the release, waiting at most `timeout_ms`; false when none came.
    bool Wait(int timeout_ms);
    // Takes back a release that nobody waited for.
    void Reset();

private:
    std::mutex mutex_;
    std::condition_variable released_cv_;
    bool released_ = false;
};

struct ReaderSession {
    ReaderSession() = default;
    ~ReaderSession();  // ends a session still open at process exit
    ReaderSession(const ReaderSession &) = delete;
    ReaderSession &operator=(const ReaderSession &) = delete;

    platform::SerialPort port;
    std::thread receive_thread;
    AnswerSignal answer_signal;

    // Touched by both threads.
    std::atomic<bool> open{false};
    std::atomic<bool> stop_requested{false};
    std::atomic<int> pending_command{0};
    std::atomic<unsigned> send_tick{0};  // 0: no answer awaited
    std::atomic<bool> last_answer_ok{true};
    // Counts sends; bytes read before the latest send belong to an older exchange.
    std::atomic<unsigned> exchange_number{0};

    // Guards the buffers below and the send/time-out bookkeeping.
    std::mutex data_lock;
    AnswerAssembly assembly;
    unsigned char received_copy[kCopySize] = {};  // the latest answer, as far as it arrived
    int received_length = 0;
    unsigned char woken_copy[kCopySize] = {};  // the answer that released answer_signal
    int woken_length = 0;

    // Caller's thread only.
    unsigned char sent_copy[kCopySize] = {};
    int sent_length = 0;
    unsigned char answer[kAnswerSize] = {};
    unsigned char select_code = 0x93;
};

ReaderSession &Session();

// Hands the bytes of one read to the answer assembly; a complete answer is
// traced, evaluated and, when good, handed to the waiting command. Bytes
// read during exchange `exchange_number` are dropped once a newer send began.
void ReceiveChunk(ReaderSession &session, const unsigned char *bytes, int count,
                  unsigned exchange_number);

// Receive thread body.
void ReceiveLoop(ReaderSession &session);

// Stops and joins the receive thread and releases the port. False when the
// port could not be closed.
bool EndSession(ReaderSession &session);

}  // namespace zelkor
