// The UltraLight family's paths of info, dump, restore, diff and convert; the
// commands hand over to these once the card or the file is one of them.
#pragma once

#include <optional>
#include <string>

#include "card/card_link.h"
#include "card/ultralight_image.h"
#include "cli/program.h"
#include "cli/reader_access.h"

namespace zelkor::cli {

bool IsUltraLightCard(const card::CardIdentity &identity);

int RunUltraLightInfo(Program &program, ReaderAccess &reader, const card::CardIdentity &identity);
// UsageError before any card work when the output's format cannot hold the
// family. `fill_unknown`: unknown bytes may go into a raw dump as zeros.
int RunUltraLightDump(Program &program, ReaderAccess &reader, const card::CardIdentity &identity,
                      const std::string &output, bool fill_unknown);

struct UltraLightRestoreOptions {
    bool force = false;
    bool dry_run = false;
    bool trailers = false;  // meaningless here: said and ignored
};
int RunUltraLightRestore(Program &program, const card::UltraLightImage &file, const ReaderOptions &reader_options,
                         const UltraLightRestoreOptions &options);

// diff and convert when either file holds an UltraLight dump; nothing when
// neither does (FileError for a malformed one).
std::optional<int> DiffUltraLightFiles(Program &program, const std::string &first, const std::string &second);
std::optional<int> ConvertUltraLightFile(Program &program, const std::string &input, const std::string &output,
                                         bool fill_unknown);

}  // namespace zelkor::cli
