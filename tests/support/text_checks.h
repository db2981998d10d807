// Checks on the texts the front ends show, without std::regex (GCC 12 warns
// falsely inside it under the sanitizers).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zelkor::test {

// "key_not_accepted": lower-case words joined by single underscores.
inline bool IsSnakeCase(std::string_view name) {
    if (name.empty() || name.front() == '_' || name.back() == '_') return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '_' && name[i + 1] == '_') return false;
        if (c != '_' && (c < 'a' || c > 'z')) return false;
    }
    return true;
}

inline bool IsLatinLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
inline bool IsWordCharacter(char c) { return IsLatinLetter(c) || (c >= '0' && c <= '9') || c == '_'; }

// The runs of characters that `in_run` accepts, in order.
template <class Predicate>
std::vector<std::string> Runs(std::string_view text, Predicate in_run) {
    std::vector<std::string> runs;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t end = i;
        while (end < text.size() && in_run(text[end])) ++end;
        if (end > i) runs.emplace_back(text.substr(i, end - i));
        i = end > i ? end : i + 1;
    }
    return runs;
}

// The words of Latin letters in `text`.
inline std::vector<std::string> LatinWords(std::string_view text) { return Runs(text, IsLatinLetter); }
// The runs of letters, digits and underscores in `text` (what \b bounds).
inline std::vector<std::string> Tokens(std::string_view text) { return Runs(text, IsWordCharacter); }

}  // namespace zelkor::test
