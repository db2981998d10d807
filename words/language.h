// The language the front ends speak to their user. The command-line program
// follows the locale; Parvex always speaks Chinese.
#pragma once

namespace zelkor::words {

enum class Language { English, Chinese };

// Chinese when the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty starts with "zh"; English otherwise.
Language LanguageFromEnvironment();

}  // namespace zelkor::words
