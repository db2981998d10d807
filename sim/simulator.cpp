#include "sim/simulator.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace sim {

using Clock = std::chrono::steady_clock;

Simulator::Simulator(std::shared_ptr<Responder> model) : model_(std::move(model)) {}

Simulator::~Simulator() { Stop(); }

bool Simulator::Start() {
    if (!pty_.Open()) return false;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    wake_read_ = fds[0];
    wake_write_ = fds[1];
    stop_ = false;
    thread_ = std::thread(&Simulator::Run, this);
    return true;
}

void Simulator::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    WakeThread();
    if (thread_.joinable()) thread_.join();
    pty_.Close();
    if (wake_read_ >= 0) ::close(wake_read_);
    if (wake_write_ >= 0) ::close(wake_write_);
    wake_read_ = wake_write_ = -1;
}

bool Simulator::Publish(const std::string &dir, int port) {
    return PublishPort(dir, port, pty_.slave_path());
}

void Simulator::Enqueue(Reaction reaction) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(reaction));
}

void Simulator::SendUnprompted(const Bytes &bytes, int delay_ms) {
    Reaction r;
    r.pieces.push_back({delay_ms, bytes});
    {
        std::lock_guard lock(mutex_);
        Schedule(r);
    }
    WakeThread();
}

void Simulator::Unplug(int delay_ms) {
    Reaction r;
    r.pieces.push_back({delay_ms, {}});
    r.unplug = true;
    {
        std::lock_guard lock(mutex_);
        Schedule(r);
    }
    WakeThread();
}

// The thread may be waiting with a timeout computed before this schedule.
void Simulator::WakeThread() {
    if (wake_write_ >= 0) {
        const char b = 1;
        [[maybe_unused]] auto n = ::write(wake_write_, &b, 1);
    }
}

bool Simulator::unplugged() const {
    std::lock_guard lock(mutex_);
    return unplugged_;
}

void Simulator::SetModel(std::shared_ptr<Responder> model) {
    std::lock_guard lock(mutex_);
    model_ = std::move(model);
}

void Simulator::SetWireBaud(int baud) {
    std::lock_guard lock(mutex_);
    wire_baud_ = baud;
}

std::size_t Simulator::PendingOutgoing() const {
    std::lock_guard lock(mutex_);
    return outgoing_.size();
}

std::vector<Bytes> Simulator::Frames() const {
    std::lock_guard lock(mutex_);
    return std::vector<Bytes>(frames_.begin(), frames_.end());
}

std::size_t Simulator::FrameCount() const {
    std::lock_guard lock(mutex_);
    return frame_count_;
}

bool Simulator::WaitForFrames(std::size_t count, int timeout_ms) const {
    std::unique_lock lock(mutex_);
    return frames_cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                               [&] { return frame_count_ >= count; });
}

void Simulator::ClearFrames() {
    std::lock_guard lock(mutex_);
    frames_.clear();
    frame_count_ = 0;
}

int Simulator::reader_baud() const {
    std::lock_guard lock(mutex_);
    return reader_baud_;
}

// Called with mutex_ held. Pieces follow each other: each delay counts from
// the end of the previous piece (or from now for the first).
void Simulator::Schedule(const Reaction &reaction) {
    Clock::time_point at = Clock::now();
    if (wire_baud_ > 0) at += std::chrono::microseconds(reaction.card_time_us);
    for (const Piece &piece : reaction.pieces) {
        at += std::chrono::milliseconds(piece.delay_ms);
        outgoing_.push_back({at, piece.bytes, false});
    }
    if (reaction.unplug) outgoing_.push_back({at, {}, true});
    std::stable_sort(outgoing_.begin(), outgoing_.end(),
                     [](const Outgoing &a, const Outgoing &b) { return a.due < b.due; });
}

// Exact to the nanosecond: answers due in under a millisecond (the reader's
// time on the card) are neither late nor waited for by spinning.
std::chrono::nanoseconds Simulator::TimeUntilNextDue() const {
    constexpr std::chrono::nanoseconds kIdlePoll = std::chrono::milliseconds(50);
    if (outgoing_.empty()) return kIdlePoll;
    const std::chrono::nanoseconds left = outgoing_.front().due - Clock::now();
    return std::clamp(left, std::chrono::nanoseconds(0), kIdlePoll);
}

std::chrono::nanoseconds Simulator::ByteTime() const {
    std::lock_guard lock(mutex_);
    // One byte is ten bits on the line: start bit, eight data bits, stop bit.
    return wire_baud_ > 0 ? std::chrono::nanoseconds(10'000'000'000LL / wire_baud_)
                          : std::chrono::nanoseconds(0);
}

void Simulator::WriteAll(const Bytes &bytes) {
    const std::chrono::nanoseconds byte_time = ByteTime();
    // Paced bytes follow an absolute schedule, so a late wake-up catches up
    // instead of adding its delay to every byte.
    const Clock::time_point start = std::max(Clock::now(), tx_free_);
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t allowed = bytes.size();
        if (byte_time.count() > 0) {
            allowed = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>((Clock::now() - start) / byte_time));
            if (allowed <= done) {
                std::this_thread::sleep_until(start + byte_time * static_cast<long>(done + 1));
                continue;
            }
        }
        const ssize_t n = ::write(pty_.master(), bytes.data() + done, allowed - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd pfd{pty_.master(), POLLOUT, 0};
            ::poll(&pfd, 1, 10);
        } else if (n < 0 && errno != EINTR) {
            return;
        }
    }
    if (byte_time.count() > 0) tx_free_ = start + byte_time * static_cast<long>(bytes.size());
}

void Simulator::FlushDue() {
    for (;;) {
        Outgoing next;
        {
            std::lock_guard lock(mutex_);
            if (outgoing_.empty() || outgoing_.front().due > Clock::now() || unplugged_) return;
            next = std::move(outgoing_.front());
            outgoing_.pop_front();
            if (next.unplug) {
                unplugged_ = true;
                outgoing_.clear();
            }
        }
        if (next.unplug) {
            pty_.Close();
            return;
        }
        WriteAll(next.bytes);
    }
}

void Simulator::HandleCommand(const Command &command) {
    std::shared_ptr<Responder> model;
    Reaction reaction;
    bool scripted = false;
    {
        std::lock_guard lock(mutex_);
        frames_.push_back(command.raw);
        if (frames_.size() > kFrameHistory) frames_.pop_front();
        ++frame_count_;
        if (!script_.empty()) {
            reaction = std::move(script_.front());
            script_.pop_front();
            scripted = true;
        }
        model = model_;
    }
    frames_cv_.notify_all();
    if (!scripted) {
        if (model) {
            // A reader switched to another speed does not hear a line set to
            // the old one, where the line speed can be seen at all.
            const int heard_at = line_baud();
            int reader_baud;
            {
                std::lock_guard lock(mutex_);
                reader_baud = reader_baud_;
            }
            if (reader_baud != 0 && heard_at != 0 && heard_at != reader_baud) return;
            reaction = model->Respond(command);
        } else {
            reaction = Answer(0x00);
        }
    }
    std::lock_guard lock(mutex_);
    Schedule(reaction);
    if (reaction.line_baud != 0) reader_baud_ = reaction.line_baud;
}

void Simulator::Run() {
    // Paced bytes keep to their schedule only if sleeps end on time; the
    // default timer slack would add 50 us to every one of them.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    CommandDecoder decoder;
    std::uint8_t buffer[1024];
    for (;;) {
        std::chrono::nanoseconds wait;
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
            wait = unplugged_ ? std::chrono::milliseconds(50) : TimeUntilNextDue();
        }
        pollfd fds[2] = {{unplugged_ ? -1 : pty_.master(), POLLIN, 0}, {wake_read_, POLLIN, 0}};
        const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000), static_cast<long>(wait.count() % 1'000'000'000)};
        ::ppoll(fds, 2, &timeout, nullptr);
        if (fds[1].revents != 0) {
            char drain[16];
            while (::read(wake_read_, drain, sizeof drain) > 0) {
            }
        }
        if (!unplugged_ && (fds[0].revents & POLLIN) != 0) {
            const ssize_t n = ::read(pty_.master(), buffer, sizeof buffer);
            if (n > 0) {
                // Paced: the bytes are only all here once the line carried them.
                const std::chrono::nanoseconds byte_time = ByteTime();
                if (byte_time.count() > 0) {
                    rx_free_ = std::max(rx_free_, Clock::now()) + byte_time * n;
                    std::this_thread::sleep_until(rx_free_);
                }
                decoder.Feed(buffer, static_cast<std::size_t>(n));
                while (auto command = decoder.Next()) HandleCommand(*command);
            }
        }
        FlushDue();
    }
}

}  // namespace sim
