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
    // False when a side's file had no place for the UID.
    bool uids_compared = true;
    std::vector<BlockDifference> blocks;
    bool equal() const { return !kinds_differ && !uids_differ && blocks.empty(); }
};

// Blocks beyond the smaller card count as differing entirely.
// `compare_uids` false leaves the UIDs out (a file that cannot hold one
// would otherwise differ only for that).
DumpDifference DiffDumps(const CardImage &a, const CardImage &b, bool compare_uids = true);

}  // namespace zelkor::card
