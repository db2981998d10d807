#include "card/dump_diff.h"

#include <algorithm>

namespace zelkor::card {

namespace {
ByteMask DifferingBytes(const CardImage &a, const CardImage &b, int block) {
    const auto i = static_cast<std::size_t>(block);
    const ByteMask known_a = a.known_mask[i];
    const ByteMask known_b = b.known_mask[i];
    ByteMask differing = known_a ^ known_b;
    for (int byte = 0; byte < kBlockSize; ++byte) {
        const auto bit = static_cast<ByteMask>(1u << byte);
        if ((known_a & known_b & bit) != 0 && a.blocks[i][static_cast<std::size_t>(byte)] != b.blocks[i][static_cast<std::size_t>(byte)])
            differing |= bit;
    }
    return differing;
}
}  // namespace

DumpDifference DiffDumps(const CardImage &a, const CardImage &b, bool compare_uids) {
    DumpDifference diff;
    diff.kinds_differ = a.kind != b.kind;
    diff.uids_compared = compare_uids;
    diff.uids_differ = compare_uids && a.uid != b.uid;
    const int common = std::min(a.block_count(), b.block_count());
    for (int block = 0; block < common; ++block) {
        const ByteMask differing = DifferingBytes(a, b, block);
        if (differing != 0) diff.blocks.push_back({block, differing});
    }
    const int longest = std::max(a.block_count(), b.block_count());
    for (int block = common; block < longest; ++block) diff.blocks.push_back({block, kAllKnown});
    return diff;
}

}  // namespace zelkor::card
