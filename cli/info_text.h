// The result of `zelkor info` for every kind of card, in either language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/bilingual.h"

namespace zelkor::cli {

struct CardInfoFields {
    std::string card;                        // name and type code
    std::string uid;
    std::string atqa;                        // hex, or why it is missing
    std::string sak;
    std::vector<std::uint8_t> reader_serial; // empty: not given
    std::string pages;                       // empty: no page line
};

// In place of ATQA or SAK when the reader does not give them.
std::string NotGivenByReader(Language language);

// One "label: value" line per field, the values aligned.
std::string CardInfoText(const CardInfoFields &fields, Language language);

}  // namespace zelkor::cli
