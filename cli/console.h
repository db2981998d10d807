// Standard error, shared by the progress line, the library's trace and the
// program's messages from more than one thread. On a terminal the progress
// line is redrawn in place and cleared before any other text, so lines never
// mix; elsewhere there is no progress line at all.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace zelkor::cli {

class Console {
public:
    explicit Console(bool interactive) : interactive_(interactive) {}

    bool interactive() const { return interactive_; }
    // Whole lines of text (a missing final newline is added).
    void Message(std::string_view text);
    // Replaces the progress line; ignored when not interactive.
    void Status(std::string_view line);
    void ClearStatus();

private:
    void ClearStatusLocked();

    std::mutex mutex_;
    const bool interactive_;
    bool status_shown_ = false;
};

}  // namespace zelkor::cli
