// Key search: which keys open each sector, for key A and key B.
//
// Every new selection (after each failed authentication, and once at the
// end) must find the card the search started on, the one the link
// identified; keys found since the last selection are kept only when it does.
//
// Strategy: a key found anywhere is tried first on every other sector; where
// the access bits let key A read key B out of the trailer, key B is read
// rather than searched; the card is selected again after every failed
// authentication (it drops out of its session); a sector stops as soon as
// both keys are known.
#pragma once

#include <optional>
#include <span>
#include <stop_token>
#include <vector>

#include "card/card_image.h"
#include "card/card_link.h"
#include "card/progress.h"

namespace zelkor::card {

struct KeySearchResult {
    std::vector<SectorKeys> keys;  // one entry per sector
    bool complete = false;   // both keys of every sector known
    bool cancelled = false;  // stopped through the stop token
    bool card_lost = false;  // the card could not be selected again: see `lost`
    // What a new selection found instead of the card the search started on.
    // Keys found since the selection before are left out: they may be another card's.
    std::optional<Reselection> lost;
    int authentications = 0;
    int reselects = 0;
    int keys_read_from_trailers = 0;
};

// The order in which keys are tried on a sector: keys found so far first (in
// the order found), then the dictionary without them.
std::vector<Key> CandidateOrder(std::span<const Key> found, std::span<const Key> dictionary);

// `known` (may be empty) seeds keys already known per sector; they are checked
// by nothing and kept as they are. `hints` (may be empty) names keys per
// sector that are tried on that sector before any other.
KeySearchResult SearchKeys(CardLink &link, CardKind kind, std::span<const Key> dictionary,
                           const ProgressFn &progress, std::stop_token stop,
                           std::span<const SectorKeys> known = {}, std::span<const SectorKeys> hints = {});

}  // namespace zelkor::card
