// Captures what the process writes on a descriptor (standard output, where
// the library prints its trace): the descriptor is pointed at a pipe whose
// other end a thread of its own reads, so a writer never waits for whoever
// consumes the text. Each operating system supplies its own implementation
// file; CMake picks the one.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

namespace zelkor::capture {

enum class StartFailure {
    kNone,
    kPipe,      // no pipe could be created
    kRedirect,  // the descriptor could not be pointed at the pipe
};

struct StartError {
    StartFailure what = StartFailure::kNone;
    int system_error = 0;  // errno of the failed call
};

struct CaptureOptions {
    int chunk_size = 4096;  // most bytes one call of the sink receives
    int pipe_size = 0;      // buffer to ask for (0: the system's default); the system may grant less
    bool text_mode = false; // Windows: "\n" becomes "\r\n" on the way in, as on a program's standard output
};

// Create, start and stop it on one thread.
class TraceCapture {
public:
    // Bytes as they were written; called on the capture's thread, never for
    // two pieces at once.
    using Sink = std::function<void(std::string_view bytes)>;

    explicit TraceCapture(int descriptor = 1);
    ~TraceCapture();  // stops
    TraceCapture(const TraceCapture &) = delete;
    TraceCapture &operator=(const TraceCapture &) = delete;

    // Points the descriptor at a new pipe; false (nothing redirected) when
    // the system refuses, with the reason in `error`.
    bool Start(Sink sink, const CaptureOptions &options, StartError *error);
    // Gives the descriptor back as it was, then hands the sink what was still
    // in the pipe before it returns.
    void Stop();
    // Waits until everything written so far has reached the sink; false when
    // that took longer than `timeout_ms`.
    bool Flush(int timeout_ms);

    bool active() const;
    // A copy of what the descriptor was before Start, for writing past the
    // capture; -1 when not active.
    int original_descriptor() const;
    // The pipe's buffer in bytes (0 when not active).
    int pipe_capacity() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zelkor::capture
