// File problems of the toolkit (card/file_problem.h) in words: English (the
// toolkit's own, also FileError::what()), Chinese, and a stable name for
// scripts.
#pragma once

#include <string>
#include <string_view>

#include "card/file_problem.h"
#include "words/language.h"

namespace zelkor::words {

// The problem alone: "no such file", "文件不存在".
std::string FileProblemText(card::FileProblem problem, const card::FileProblemArgs &args, Language language);
// With the file and the place: "card.mct:3: ...", "文件 card.mct 第 3 行：...".
std::string FileErrorText(const card::FileError &error, Language language);
// snake_case, never changed once given: "not_found", "bad_hex".
std::string_view FileProblemName(card::FileProblem problem);

}  // namespace zelkor::words
