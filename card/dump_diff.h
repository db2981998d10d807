// Block-by-block comparison of two dumps.
#pragma once

#include <vector>

#include "card/card_image.h"

namespace zelkor::card {

struct BlockDifference {
    int block = 0;
    // Bit i: byte i differs, or is known in one dump only.
    ByteMask differing = 0;
};

struct DumpDifference {
    bool kinds_differ = false;
    bool uids_differ = false;
    std::vector<BlockDifference> blocks;
    bool equal() const { return !kinds_differ && !uids_differ && blocks.empty(); }
};

// Blocks beyond the smaller card count as differing entirely.
DumpDifference DiffDumps(const CardImage &a, const CardImage &b);

}  // namespace zelkor::card
