// Windows capture: the descriptor is _dup2'ed onto a CRT pipe. An anonymous
// pipe cannot be waited on, so the thread looks into it (PeekNamedPipe) and
// sleeps a little longer each time it finds nothing.
#include "capture/trace_capture.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace zelkor::capture {
namespace {

constexpr unsigned kDefaultPipeSize = 64 * 1024;
constexpr DWORD kLongestIdleSleepMs = 16;

bool Fail(StartError *error, StartFailure what, int system_error) {
    if (error != nullptr) *error = {what, system_error};
    return false;
}

}  // namespace

struct TraceCapture::State {
    const int target;
    int saved_fd = -1;
    bool target_was_closed = false;
    int read_fd = -1;
    HANDLE read_handle = INVALID_HANDLE_VALUE;
    int capacity = 0;
    Sink sink;
    std::vector<char> buffer;
    std::mutex delivery;  // held while bytes are between the pipe and the sink
    std::atomic<bool> stopping{false};
    std::thread reader;

    explicit State(int descriptor) : target(descriptor) {}

    void FlushStdio() const {
        if (target == 1) std::fflush(stdout);
    }

    DWORD Waiting() const {
        DWORD available = 0;
        if (::PeekNamedPipe(read_handle, nullptr, 0, nullptr, &available, nullptr) == 0) return 0;
        return available;
    }

    // Hands the sink what the pipe holds now; true when there was something.
    bool DeliverAvailable() {
        std::lock_guard lock(delivery);
        bool delivered = false;
        for (DWORD available = Waiting(); available > 0; available = Waiting()) {
            const auto want = static_cast<unsigned>(std::min<std::size_t>(available, buffer.size()));
            const int n = ::_read(read_fd, buffer.data(), want);
            if (n <= 0) break;
            sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
            delivered = true;
        }
        return delivered;
    }

    void ReadLoop() {
        DWORD idle_ms = 1;
        for (;;) {
            // Read the flag first: what was written before Stop is then taken.
            const bool last_round = stopping.load();
            const bool delivered = DeliverAvailable();
            if (last_round) return;
            idle_ms = delivered ? 1 : std::min<DWORD>(idle_ms * 2, kLongestIdleSleepMs);
            ::Sleep(idle_ms);
        }
    }
};

TraceCapture::TraceCapture(int descriptor) : state_(std::make_unique<State>(descriptor)) {}

TraceCapture::~TraceCapture() { Stop(); }

bool TraceCapture::active() const { return state_->saved_fd >= 0; }

int TraceCapture::original_descriptor() const { return state_->saved_fd; }

int TraceCapture::pipe_capacity() const { return state_->capacity; }

bool TraceCapture::Start(Sink sink, const CaptureOptions &options, StartError *error) {
    State &s = *state_;
    if (active()) return true;
    // A program started from a GUI may have no descriptor 1: give it one, or
    // the pipe could take its number.
    s.target_was_closed = ::_get_osfhandle(s.target) == -1;
    if (s.target_was_closed) {
        const int null_fd = ::_open("NUL", _O_WRONLY | _O_BINARY);
        if (null_fd >= 0 && null_fd != s.target) {
            ::_dup2(null_fd, s.target);
            ::_close(null_fd);
        }
    }
    // Binary, so the bytes and line ends arrive as written.
    const unsigned size = options.pipe_size > 0 ? static_cast<unsigned>(options.pipe_size) : kDefaultPipeSize;
    int fds[2];
    if (::_pipe(fds, size, _O_BINARY | _O_NOINHERIT) != 0) return Fail(error, StartFailure::kPipe, errno);
    s.FlushStdio();
    const int saved = ::_dup(s.target);
    if (saved < 0 || ::_dup2(fds[1], s.target) != 0) {
        const int system_error = errno;
        if (saved >= 0) ::_close(saved);
        ::_close(fds[0]);
        ::_close(fds[1]);
        return Fail(error, StartFailure::kRedirect, system_error);
    }
    ::_close(fds[1]);
    if (options.text_mode) ::_setmode(s.target, _O_TEXT);
    s.saved_fd = saved;
    s.read_fd = fds[0];
    s.read_handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fds[0]));
    s.capacity = static_cast<int>(size);
    s.sink = std::move(sink);
    s.buffer.assign(static_cast<std::size_t>(std::max(options.chunk_size, 1)), '\0');
    s.stopping = false;
    s.reader = std::thread([&s] { s.ReadLoop(); });
    return true;
}

void TraceCapture::Stop() {
    State &s = *state_;
    if (!active()) return;
    s.FlushStdio();
    ::_dup2(s.saved_fd, s.target);  // closes the pipe's write end
    ::_close(s.saved_fd);
    s.saved_fd = -1;
    s.stopping = true;
    if (s.reader.joinable()) s.reader.join();
    ::_close(s.read_fd);
    s.read_fd = -1;
    s.read_handle = INVALID_HANDLE_VALUE;
    if (s.target_was_closed) ::_close(s.target);
    s.capacity = 0;
}

bool TraceCapture::Flush(int timeout_ms) {
    State &s = *state_;
    if (!active()) return true;
    s.FlushStdio();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        {
            std::lock_guard lock(s.delivery);
            if (s.Waiting() == 0) return true;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        ::Sleep(1);
    }
}

}  // namespace zelkor::capture
