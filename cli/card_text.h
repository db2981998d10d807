// Card data as the program shows it: blocks with unknown bytes, keys that
// may be unknown, the sector map of a key search.
#pragma once

#include <span>
#include <string>

#include "card/card_image.h"
#include "card/card_link.h"
#include "cli/bilingual.h"

namespace zelkor::cli {

// "48 65 6C ?? …": two digits per byte, "??" for an unknown one.
std::string BlockText(const card::CardImage &image, int block);
// "FFFFFFFFFFFF", or "------------" when unknown.
std::string KeyText(const std::optional<card::Key> &key);
// One line per sector: "sector  0  A FFFFFFFFFFFF  B ------------".
std::string SectorMap(std::span<const card::SectorKeys> keys, Language language);
// "sectors with both keys: 14 of 16, one key: 1, none: 1".
std::string KeySummary(std::span<const card::SectorKeys> keys, Language language);

// Why card work stopped when a new selection did not find the card with
// `uid`: "another card (UID …) is in the field, not the card UID …".
std::string LossText(const card::Reselection &found, std::span<const std::uint8_t> uid);

}  // namespace zelkor::cli
