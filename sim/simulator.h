// The simulated reader on a pseudo-terminal. A thread reads command frames
// from the master side and answers each one: first from the script of
// reactions queued by a test, otherwise from the device model (Responder),
// otherwise with a plain good answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/pty.h"
#include "sim/responder.h"

namespace sim {

class Simulator {
public:
    static constexpr std::size_t kFrameHistory = 4096;

    explicit Simulator(std::shared_ptr<Responder> model = nullptr);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens the pseudo-terminal and starts answering.
    bool Start();
    void Stop();

    const std::string &device_path() const { return pty_.slave_path(); }
    // Publishes the device as `dir`/COM<port>.
    bool Publish(const std::string &dir, int port);

    // The next frames are answered by these reactions, in order.
    void Enqueue(Reaction reaction);
    // Bytes the reader sends on its own, after `delay_ms`.
    void SendUnprompted(const Bytes &bytes, int delay_ms = 0);
    // The reader goes away (both pty sides close) after `delay_ms`.
    void Unplug(int delay_ms = 0);
    bool unplugged() const;

    void SetModel(std::shared_ptr<Responder> model);

    // Scheduled pieces not written yet (answers, unprompted bytes).
    std::size_t PendingOutgoing() const;

    // Paces every byte written or accepted at `baud` (10 bits per byte), and
    // delays each answer by the reader's time on the card (Reaction's
    // card_time_us); 0 off: answers go out at once.
    void SetWireBaud(int baud);

    // The latest frames received (at most kFrameHistory), oldest first.
    std::vector<Bytes> Frames() const;
    // Frames received since the start or the last ClearFrames, all counted.
    std::size_t FrameCount() const;
    // Waits until FrameCount() reaches `count`; false on time-out.
    bool WaitForFrames(std::size_t count, int timeout_ms) const;
    void ClearFrames();
    // Line speed the reader talks at (0: whatever the line is set to).
    int reader_baud() const;
    // Line speed of the pseudo-terminal as the library set it (0 unknown).
    int line_baud() const { return pty_.SlaveBaud(); }

private:
    struct Outgoing {
        std::chrono::steady_clock::time_point due;
        Bytes bytes;
        bool unplug = false;
    };

    void Run();
    void HandleCommand(const Command &command);
    void Schedule(const Reaction &reaction);
    void FlushDue();
    std::chrono::nanoseconds TimeUntilNextDue() const;
    void WriteAll(const Bytes &bytes);
    void WakeThread();
    std::chrono::nanoseconds ByteTime() const;

    PseudoTerminal pty_;
    std::shared_ptr<Responder> model_;
    std::thread thread_;
    int wake_read_ = -1;
    int wake_write_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable frames_cv_;
    std::deque<Reaction> script_;
    std::deque<Outgoing> outgoing_;  // sorted by due time
    std::deque<Bytes> frames_;  // bounded: a long run must not grow without end
    std::size_t frame_count_ = 0;
    bool stop_ = false;
    bool unplugged_ = false;
    int reader_baud_ = 0;
    int wire_baud_ = 0;
    std::chrono::steady_clock::time_point tx_free_{};  // simulator thread only
    std::chrono::steady_clock::time_point rx_free_{};  // simulator thread only
};

}  // namespace sim
