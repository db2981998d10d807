// Messages that the commands say alike for both card families: blocks of
// MIFARE Classic, pages of the UltraLight family.
#pragma once

#include <cstddef>
#include <string>

#include "card/dump_formats.h"
#include "cli/output_files.h"
#include "cli/program.h"

namespace zelkor::cli {

enum class CardUnit { Block, Page };

// Where a result went, for the messages that follow: its file or standard output.
std::string WrittenName(const Program &program, const SavedResult &saved);

// `path` has an extension of no dump format; "use `formats` or `last`".
UsageError UnknownDumpFormat(const std::string &path, const std::string &formats, const std::string &last);
// `input` has unknown bytes that `format` cannot mark; "convert to
// `alternatives` or `last`", which can.
UsageError UnmarkableUnknownBytes(const std::string &input, card::DumpFormat format, const std::string &alternatives,
                                  const std::string &last);

// Every format of a MIFARE Classic dump, for UnknownDumpFormat.
inline const std::string kClassicFormats = ".mct .bin .mfd .json .nfc";
inline const std::string kClassicFormatLast = ".eml";

// A format that cannot mark unknown bytes was asked for without --fill-unknown.
void NoteKeptBeside(Program &program, const std::string &output, const std::string &kept_as);

struct UnitCounts {
    int known = 0;
    int total = 0;
    bool partial = false;
};
// "wrote OUT (1K, 64 of 64 blocks known)" after a conversion.
void NoteConverted(Program &program, const std::string &output, const std::string &kind, const UnitCounts &counts,
                   CardUnit unit);

// The plan of a restore has fatal problems: nothing is written.
void NoteFatalPlan(Program &program);

// The card work was stopped before the first write.
CardError StoppedBeforeWriting();

struct WriteCounts {
    int written = 0;
    int skipped = 0;
    int verified = 0;
    bool cancelled = false;
};
// "12 block(s) written, 3 skipped, 12 verified".
void NoteWriteCounts(Program &program, const WriteCounts &counts, CardUnit unit);

// "card: 1K / 4K" and "UID: … / …" lines for what differs.
std::string DiffHeader(bool kinds_differ, const std::string &kind_a, const std::string &kind_b, bool uids_differ,
                       const std::string &uid_a, const std::string &uid_b, Language language);
// "the UIDs differ, 2 block(s) differ"; names what differs when no block does.
std::string DifferenceSummary(bool kinds_differ, bool uids_differ, std::size_t differing, CardUnit unit,
                              Language language);
std::string DumpsEqualText(Language language);

}  // namespace zelkor::cli
