#include "cli/output_files.h"

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
            program.Note("the result is incomplete: saved as " + saved.path + "; " + output + " was left as it was",
                         "结果不完整：已另存为 " + saved.path + "，" + output + " 保持不变");
        }
        return saved;
    } catch (const card::FileError &error) {
        program.Note(program.Say("zelkor: cannot save the result: ", "zelkor：无法保存结果：") + FileErrorText(error));
    }
    saved.saved_as_asked = false;
    saved.beside = false;
    try {
        saved.path = card::SaveFallbackFile(output, contents);
        program.Note("zelkor: the result was saved as " + saved.path + " instead",
                     "zelkor：结果已改为保存到 " + saved.path);
    } catch (const card::FileError &error) {
        program.Note(program.Say("zelkor: ", "zelkor：") + FileErrorText(error) +
                     program.Say("; the result follows on standard output", "；结果输出到标准输出"));
        saved.path.clear();
        program.Result(shown_instead.empty() ? contents : shown_instead);
    }
    return saved;
}

int ExitStatusAfterSaving(const SavedResult &saved, int status) {
    return saved.saved_as_asked ? status : kExitSaveFailed;
}

}  // namespace zelkor::cli
