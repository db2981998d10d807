// The progress line of a long card operation: work done, share, and an
// estimate of the time left from the pace so far.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "card/progress.h"
#include "cli/bilingual.h"
#include "cli/console.h"

namespace zelkor::cli {

// "12 s", "3 min 05 s", "1 h 02 min".
std::string FormatDuration(std::chrono::seconds duration, Language language = Language::English);
// "dump: 37/64, 57 %, about 12 s left"; no estimate before the first unit of
// work is done.
std::string FormatProgress(card::Stage stage, int done, int total, std::chrono::milliseconds elapsed,
                           Language language = Language::English);

class ProgressDisplay {
public:
    ProgressDisplay(Console &console, Language language) : console_(console), language_(language) {}
    ~ProgressDisplay() { console_.ClearStatus(); }
    ProgressDisplay(const ProgressDisplay &) = delete;
    ProgressDisplay &operator=(const ProgressDisplay &) = delete;

    // Shows `progress`, followed by `detail` when given; redraws at most ten
    // times a second.
    void Show(const card::Progress &progress, std::string_view detail = {});
    card::ProgressFn Callback();

private:
    using Clock = std::chrono::steady_clock;
    Console &console_;
    const Language language_;
    std::optional<card::Stage> stage_;
    Clock::time_point stage_start_{};
    Clock::time_point last_draw_{};
};

}  // namespace zelkor::cli
