#include "output_files.h"

#include "card/safe_file.h"
#include "words/file_problem_words.h"

namespace zelkor::cli {

std::string FileErrorText(const card::FileError &error) {
    return words::FileErrorText(error, words::LanguageFromEnvironment());
}

SavedResult SaveCardResult(Program &program, const std::string &output, std::string_view contents, bool complete,
                           std::string_view shown_instead) {
    SavedResult saved;
    saved.beside = !complete && card::OutputExists(output);
    saved.path = saved.beside ? card::PartialPathFor(output) : output;
    try {
        card::ReplaceFileContents(saved.path, contents);
        if (saved.beside) {
            program.Note("the result is incomplete: saved as " + saved.path + "; " + output + " was left as it was");
        }
        return saved;
    } catch (const card::FileError &error) {
        program.Note("zelkor: cannot save the result: " + FileErrorText(error));
    }
    saved.saved_as_asked = false;
    saved.beside = false;
    try {
        saved.path = card::SaveFallbackFile(output, contents);
        program.Note("zelkor: the result was saved as " + saved.path + " instead");
    } catch (const card::FileError &error) {
        program.Note("zelkor: " + FileErrorText(error) + "; the result follows on standard output");
        saved.path.clear();
        program.Result(shown_instead.empty() ? contents : shown_instead);
    }
    return saved;
}

int ExitStatusAfterSaving(const SavedResult &saved, int status) {
    return saved.saved_as_asked ? status : kExitSaveFailed;
}

}  // namespace zelkor::cli
