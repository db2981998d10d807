// Progress of a long card operation. The callback runs on the caller's thread
// between two card operations; cancellation is asked through std::stop_token
// and takes effect before the next card operation, keeping what was found.
#pragma once

#include <cstddef>
#include <functional>
#include <iterator>
#include <span>

#include "card/card_image.h"

namespace zelkor::card {

// What long card work is doing.
enum class Stage { KeySearch, Dump, Restore };
inline constexpr Stage kAllStages[] = {Stage::KeySearch, Stage::Dump, Stage::Restore};
static_assert(std::size(kAllStages) == static_cast<std::size_t>(Stage::Restore) + 1);

struct Progress {
    Stage stage = Stage::KeySearch;
    int done = 0;            // units of work finished
    int total = 0;           // units of work expected (an upper bound)
    int sector = -1;         // sector being worked on, -1 none
    int authentications = 0;  // card authentications so far
    // The key search's map so far, one entry per sector (empty in other
    // stages); valid during the call only.
    std::span<const SectorKeys> keys;
};

using ProgressFn = std::function<void(const Progress &)>;

}  // namespace zelkor::card
