// Reading a whole card with known keys into a CardImage. Every block some
// known key may read is read; trailers get the known keys in their key bytes
// (a card never reveals key A, and key B only where the access bits allow).
// A sector without a usable key stays unknown and the image is partial.
// Every sector read ends with a new selection that must find the card
// `identity` names; when another card or none answers (or the reader is
// gone) the read stops, the sector in work is left out (it may be another
// card's) and `lost`, when given, says what was found.
#pragma once

#include <optional>
#include <span>
#include <stop_token>

#include "card/card_image.h"
#include "card/card_link.h"
#include "card/progress.h"

namespace zelkor::card {

CardImage ReadCard(CardLink &link, const CardIdentity &identity, std::span<const SectorKeys> keys,
                   const ProgressFn &progress, std::stop_token stop, std::optional<Reselection> *lost = nullptr);

}  // namespace zelkor::card
