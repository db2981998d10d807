// How the commands put file problems in words and save what card work
// produced: a complete result replaces the output, an incomplete one never
// replaces an existing file, and a result that cannot be saved where asked is
// still kept (a fallback file, else standard output).
#pragma once

#include <string>
#include <string_view>

#include "card/dump_formats.h"
#include "cli/program.h"

namespace zelkor::cli {

// Every file problem the toolkit reports, in the language of the locale.
std::string FileErrorText(const card::FileError &error);

struct SavedResult {
    std::string path;           // where the result went; empty: standard output
    bool beside = false;        // NAME.partial.EXT next to an output left as it was
    bool saved_as_asked = true; // false: a fallback, and the exit status says so
};

// Saves `contents` for `output`: a complete result over it, an incomplete one
// over it only when nothing was there, else beside it. Never throws for a
// file problem: the result then goes to a fallback file or to standard output
// (as `shown_instead` when given: a binary file's text form).
SavedResult SaveCardResult(Program &program, const std::string &output, std::string_view contents, bool complete,
                           std::string_view shown_instead = {});

// `status` when the result was saved as asked (beside the output included),
// else kExitSaveFailed.
int ExitStatusAfterSaving(const SavedResult &saved, int status);

}  // namespace zelkor::cli
