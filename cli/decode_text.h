// The results of `zelkor acl` and `zelkor value` in the user's language:
// the toolkit decodes, these lay the tables out.
#pragma once

#include <string>

#include "card/access_conditions.h"
#include "card/value_block.h"
#include "cli/bilingual.h"

namespace zelkor::cli {

std::string AccessText(const card::DecodedAccess &access, bool sixteen_block_sector, Language language);
std::string ValueBlockText(const card::ValueBlockInfo &info, Language language);

}  // namespace zelkor::cli
