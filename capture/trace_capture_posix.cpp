// POSIX capture: the descriptor is dup2'ed onto a pipe; the thread polls the
// pipe and a wake pipe that Stop rings, so it ends even while some forked
// child still holds a write end.
#include "capture/trace_capture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zelkor::capture {
namespace {

constexpr int kSmallestPipeSize = 64 * 1024;
constexpr int kWritersGonePollMs = 10;

void CloseFd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

bool Fail(StartError *error, StartFailure what, int system_error) {
    if (error != nullptr) *error = {what, system_error};
    return false;
}

// Asks for `size` bytes of buffer, then for less: the kernel caps the size
// for unprivileged processes.
int GrowPipe(int write_fd, int size) {
    for (; size >= kSmallestPipeSize; size /= 2) {
        if (::fcntl(write_fd, F_SETPIPE_SZ, size) >= 0) break;
    }
    const int capacity = ::fcntl(write_fd, F_GETPIPE_SZ);
    return capacity > 0 ? capacity : 0;
}

}  // namespace

struct TraceCapture::State {
    const int target;
    int saved_fd = -1;
    int saved_flags = 0;
    bool target_was_closed = false;
    int read_fd = -1;
    int wake_read = -1;
    int wake_write = -1;
    int capacity = 0;
    Sink sink;
    std::vector<char> buffer;
    std::mutex delivery;  // held while bytes are between the pipe and the sink
    std::thread reader;

    explicit State(int descriptor) : target(descriptor) {}

    void FlushStdio() const {
        if (target == STDOUT_FILENO) std::fflush(stdout);
    }

    // Hands the sink what the pipe holds now; false once every writer is gone.
    bool DeliverAvailable() {
        std::lock_guard lock(delivery);
        for (;;) {
            const ssize_t n = ::read(read_fd, buffer.data(), buffer.size());
            if (n > 0) {
                sink(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
                continue;
            }
            if (n == 0) return false;
            if (errno != EINTR) return true;
        }
    }

    // True once Stop rang, after at most `timeout_ms`.
    bool WaitForWake(int timeout_ms) const {
        pollfd wake{wake_read, POLLIN, 0};
        int ready;
        while ((ready = ::poll(&wake, 1, timeout_ms)) < 0 && errno == EINTR) {
        }
        return ready > 0;
    }

    void ReadLoop() {
        for (;;) {
            pollfd fds[2] = {{read_fd, POLLIN, 0}, {wake_read, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                // Stop: the descriptor is restored, so take the rest and end.
                DeliverAvailable();
                return;
            }
            // Every writer gone (the descriptor closed or replaced for a while):
            // the pipe reports that at once, so look again only now and then.
            if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !DeliverAvailable() &&
                WaitForWake(kWritersGonePollMs)) {
                DeliverAvailable();
                return;
            }
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
    // Without the descriptor the pipe could take its number: give it one.
    s.target_was_closed = ::fcntl(s.target, F_GETFD) < 0;
    if (s.target_was_closed) {
        const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null_fd >= 0 && null_fd != s.target) {
            ::dup2(null_fd, s.target);
            ::close(null_fd);
        }
    }
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return Fail(error, StartFailure::kPipe, errno);
    int wake_fds[2];
    if (::pipe2(wake_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int system_error = errno;
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        return Fail(error, StartFailure::kPipe, system_error);
    }
    const int capacity = options.pipe_size > 0 ? GrowPipe(pipe_fds[1], options.pipe_size)
                                               : ::fcntl(pipe_fds[1], F_GETPIPE_SZ);
    s.FlushStdio();
    s.saved_flags = std::max(::fcntl(s.target, F_GETFD), 0);
    const int saved = ::fcntl(s.target, F_DUPFD_CLOEXEC, 3);
    if (saved < 0 || ::dup2(pipe_fds[1], s.target) < 0) {
        const int system_error = errno;
        if (saved >= 0) ::close(saved);
        for (int fd : {pipe_fds[0], pipe_fds[1], wake_fds[0], wake_fds[1]}) ::close(fd);
        return Fail(error, StartFailure::kRedirect, system_error);
    }
    ::close(pipe_fds[1]);
    ::fcntl(pipe_fds[0], F_SETFL, ::fcntl(pipe_fds[0], F_GETFL) | O_NONBLOCK);
    s.saved_fd = saved;
    s.read_fd = pipe_fds[0];
    s.wake_read = wake_fds[0];
    s.wake_write = wake_fds[1];
    s.capacity = capacity > 0 ? capacity : 0;
    s.sink = std::move(sink);
    s.buffer.assign(static_cast<std::size_t>(std::max(options.chunk_size, 1)), '\0');
    s.reader = std::thread([&s] { s.ReadLoop(); });
    return true;
}

void TraceCapture::Stop() {
    State &s = *state_;
    if (!active()) return;
    s.FlushStdio();
    ::dup2(s.saved_fd, s.target);
    ::fcntl(s.target, F_SETFD, s.saved_flags);
    CloseFd(s.saved_fd);
    const char wake = 1;
    while (::write(s.wake_write, &wake, 1) < 0 && errno == EINTR) {
    }
    if (s.reader.joinable()) s.reader.join();
    CloseFd(s.read_fd);
    CloseFd(s.wake_read);
    CloseFd(s.wake_write);
    if (s.target_was_closed) ::close(s.target);
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
            int waiting = 0;
            if (::ioctl(s.read_fd, FIONREAD, &waiting) != 0 || waiting == 0) return true;
        }
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace zelkor::capture
