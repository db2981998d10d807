#include "words/language.h"

#include <cstdlib>
#include <string_view>

namespace zelkor::words {

Language LanguageFromEnvironment() {
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char *value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::string_view(value).starts_with("zh") ? Language::Chinese : Language::English;
    }
    return Language::English;
}

}  // namespace zelkor::words
