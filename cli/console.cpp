#include "cli/console.h"

#include "cli/platform.h"

namespace zelkor::cli {

namespace {
constexpr std::string_view kEraseLine = "\r\033[K";
}

void Console::Message(std::string_view text) {
    std::lock_guard lock(mutex_);
    ClearStatusLocked();
    std::string line(text);
    if (line.empty() || line.back() != '\n') line += '\n';
    platform::WriteStderr(line);
}

void Console::Status(std::string_view line) {
    if (!interactive_) return;
    std::lock_guard lock(mutex_);
    std::string text(kEraseLine);
    text += line;
    platform::WriteStderr(text);
    status_shown_ = true;
}

void Console::ClearStatus() {
    std::lock_guard lock(mutex_);
    ClearStatusLocked();
}

void Console::ClearStatusLocked() {
    if (!status_shown_) return;
    platform::WriteStderr(kEraseLine);
    status_shown_ = false;
}

}  // namespace zelkor::cli
