// Progress of a long card operation. The callback runs on the caller's thread
// between two card operations; cancellation is asked through std::stop_token
// and takes effect before the next card operation, keeping what was found.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "card/card_image.h"

namespace zelkor::card {

struct Progress {
    std::string_view stage;  // "keys", "dump", "restore"
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
