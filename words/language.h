// The language the front ends speak to their user. The command-line program
// follows the locale; Parvex always speaks Chinese.
#pragma once

#include <string>
#include <utility>

namespace zelkor::words {

enum class Language { English, Chinese };

// Chinese when the first of LC_ALL, LC_MESSAGES and LANG that is set and not
// empty starts with "zh"; English otherwise.
Language LanguageFromEnvironment();

// `english` or `chinese`, as `language` asks.
inline std::string Say(Language language, std::string english, std::string chinese) {
    return language == Language::Chinese ? std::move(chinese) : std::move(english);
}

}  // namespace zelkor::words
