// A restore plan as the command-line program lists it: fatal problems and
// card-wide notes one by one, then the blocks (pages) skipped or noted,
// grouped by reason, then the counts.
#pragma once

#include <string>

#include "card/restore.h"
#include "card/ultralight_card.h"
#include "words/language.h"

namespace zelkor::words {

std::string PlanText(const card::RestorePlan &plan, Language language);
std::string PlanText(const card::UltraLightPlan &plan, Language language);

// "block 5" or "card" (-1), for a line about one block.
std::string BlockName(int block, Language language);

}  // namespace zelkor::words
