// The two languages the program speaks: each message is written in both at
// the place it is made, and the language chosen once at start picks one.
#pragma once

#include <string>

#include "words/language.h"

namespace zelkor::cli {

using words::Language;
using words::Say;

// The language the locale asks for, read once.
inline Language ProgramLanguage() {
    static const Language language = words::LanguageFromEnvironment();
    return language;
}

// A message made where the language is not known, shown by whoever knows it.
struct Bilingual {
    std::string english;
    std::string chinese;

    std::string In(Language language) const { return language == Language::Chinese ? chinese : english; }
};

}  // namespace zelkor::cli
