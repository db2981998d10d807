#include "ultralight_commands.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "card/hex.h"
#include "card/ultralight_card.h"
#include "card/ultralight_formats.h"
#include "card/safe_file.h"
#include "card_text.h"
#include "dump_files.h"
#include "output_files.h"
#include "progress_display.h"
#include "cli/toolkit_text.h"
#include "words/plan_text.h"

namespace zelkor::cli {
namespace {

void SaveWithNotes(Program &program, const std::string &path, const card::UltraLightImage &image) {
    std::vector<card::UltraLightFileNote> notes;
    card::SaveUltraLightDump(path, image, &notes);
    for (const auto &note : notes) program.Note(path + ": " + WarningText(note));
}

void RequireUltraLightFormat(const std::string &path) {
    const auto format = card::FormatForPath(path);
    if (!format) throw UsageError(path + ": unknown dump format (use .nfc .json .bin or .mfd)");
    if (!card::FormatHoldsUltraLight(*format))
        throw UsageError(path + ": a ." + std::string(card::FormatName(*format)) +
                         " file holds MIFARE Classic sectors only; use .nfc .json .bin or .mfd for the UltraLight family");
}

card::UltraLightRead ReadCard(Program &program, ReaderAccess &reader, const card::CardIdentity &identity) {
    ProgressDisplay display(program.console());
    auto read = card::ReadUltraLight(reader.link(), identity, display.Callback(), program.stop_token());
    if (!read) throw CardError("the card does not answer a read of page 0");
    return *read;
}

std::string KindText(const card::UltraLightRead &read) {
    std::string text(card::UltraLightKindName(read.image.kind));
    if (!read.kind_certain) text = "UltraLight family, at least " + text;
    return text;
}

// What a read could not reach, for standard error.
void NoteUnread(Program &program, const card::UltraLightRead &read) {
    const int count = read.image.page_count();
    if (read.refused_pages)
        program.Note("pages " + std::to_string(read.readable_pages) + "-" + std::to_string(count - 1) +
                     " cannot be read (password protected)");
    if (read.lost)
        program.Note("stopped after page " + std::to_string(read.readable_pages - 1) + ": " +
                     LossText(*read.lost, read.image.uid));
    if (!read.kind_certain)
        program.Note("the card's size could not be told: " + std::to_string(read.readable_pages) + " pages answered");
}

}  // namespace

bool IsUltraLightCard(const card::CardIdentity &identity) { return identity.type_code == card::kUltraLightTypeCode; }

int RunUltraLightInfo(Program &program, ReaderAccess &reader, const card::CardIdentity &identity) {
    const card::UltraLightRead read = ReadCard(program, reader, identity);
    const std::string uid = card::ToHex(read.image.uid);
    auto hex = [](const auto &value) { return value ? card::ToHex(std::span(&*value, 1)) : std::string(); };
    const std::string atqa = identity.atqa ? card::ToHex(*identity.atqa) : std::string("(not given by the reader)");
    const std::string sak = identity.sak ? hex(identity.sak) : std::string("(not given by the reader)");
    if (program.json()) {
        nlohmann::json out = {{"type", "UltraLight"},
                              {"type_code", identity.type_code},
                              {"kind", card::UltraLightKindName(read.image.kind)},
                              {"kind_certain", read.kind_certain},
                              {"pages", read.image.page_count()},
                              {"readable_pages", read.readable_pages},
                              {"uid", uid},
                              {"reader_serial", card::ToHex(identity.reader_serial)}};
        out["atqa"] = identity.atqa ? nlohmann::json(card::ToHex(*identity.atqa)) : nlohmann::json();
        out["sak"] = identity.sak ? nlohmann::json(hex(identity.sak)) : nlohmann::json();
        program.Result(out.dump(2) + "\n");
    } else {
        program.Result("card:          " + KindText(read) + " (UltraLight family, type code " +
                       std::to_string(identity.type_code) + ")\n" + "pages:         " +
                       std::to_string(read.image.page_count()) + " (" + std::to_string(read.readable_pages) +
                       " readable)\nUID:           " + uid + "\nATQA:          " + atqa + "\nSAK:           " + sak +
                       "\nreader serial: " +
                       (identity.reader_serial.empty() ? std::string("(not given)") : card::ToHex(identity.reader_serial)) +
                       "\n");
    }
    NoteUnread(program, read);
    return read.cancelled || read.card_lost ? kExitFailure : kExitSuccess;
}

int RunUltraLightDump(Program &program, ReaderAccess &reader, const card::CardIdentity &identity,
                      const std::string &output, bool fill_unknown) {
    RequireUltraLightFormat(output);
    const card::UltraLightRead read = ReadCard(program, reader, identity);
    program.Note(KindText(read) + ", UID " + card::ToHex(read.image.uid));
    NoteUnread(program, read);
    const card::UltraLightImage &image = read.image;
    const bool complete = !image.partial && image.KnownPageCount() == image.page_count();

    // A raw dump cannot mark unknown bytes: without --fill-unknown the pages
    // read are kept as JSON beside the output instead.
    std::string path = output;
    card::DumpFormat format = *card::FormatForPath(output);
    const bool forced_beside = !complete && !card::FormatKeepsUnknownBytes(format) && !fill_unknown;
    if (forced_beside) {
        path = card::PartialPathFor(output);
        path = path.substr(0, path.rfind('.')) + ".json";
        format = card::DumpFormat::Json;
        NoteKeptBeside(program, output, path);
    }
    std::vector<card::UltraLightFileNote> notes;
    const std::string contents = card::WriteUltraLightDump(image, format, &notes);
    const SavedResult saved = SaveCardResult(program, path, contents, complete || forced_beside);
    const std::string written = NoteSaved(program, saved, notes);
    const int status = image.partial ? kExitFailure : kExitSuccess;
    if (!saved.saved_as_asked) return ExitStatusAfterSaving(saved, status);
    program.Note("wrote " + written + ": " + std::to_string(image.KnownPageCount()) + " of " +
                 std::to_string(image.page_count()) + " pages read" + (image.partial ? " (partial)" : ""));
    if (program.json()) {
        const nlohmann::json summary = {{"file", saved.path},
                                        {"uid", card::ToHex(image.uid)},
                                        {"card", card::UltraLightKindName(image.kind)},
                                        {"pages_read", image.KnownPageCount()},
                                        {"pages", image.page_count()},
                                        {"partial", image.partial},
                                        {"warnings", WarningsJson(notes)}};
        program.Result(summary.dump(2) + "\n");
    }
    return status;
}

int RunUltraLightRestore(Program &program, const card::UltraLightImage &file, const ReaderOptions &reader_options,
                         const UltraLightRestoreOptions &options) {
    if (options.trailers) program.Note("--trailers: the UltraLight family has no sector trailers; ignored");
    ReaderAccess reader(reader_options);
    const card::CardIdentity identity = reader.Identify();
    if (!IsUltraLightCard(identity))
        throw CardError("the file holds an " + std::string(card::UltraLightKindName(file.kind)) +
                        " dump, but the card in the field is not of the UltraLight family (type code " +
                        std::to_string(identity.type_code) + ")");
    const card::UltraLightRead now = ReadCard(program, reader, identity);
    program.Note(KindText(now) + ", UID " + card::ToHex(now.image.uid));
    if (now.lost) throw CardError(LossText(*now.lost, identity.uid) + ": stopped before anything was written");
    if (now.cancelled) throw CardError("stopped before anything was written");

    const card::UltraLightPlan plan = card::PlanUltraLightRestore(file, now.image, options.force);
    nlohmann::json out = {{"plan", PlanJson(plan)}, {"dry_run", options.dry_run}};
    if (const auto status = EndsWithPlan(program, words::PlanText(plan, ToolkitLanguage()), plan.HasFatal(), options.dry_run, out))
        return *status;
    card::UltraLightRestoreReport report;
    {
        ProgressDisplay display(program.console());
        report = card::RestoreUltraLight(reader.link(), plan, display.Callback(), program.stop_token());
    }
    NoteFailures(program, report.failures);
    if (report.lost) program.Note("stopped: " + LossText(*report.lost, identity.uid) + "; nothing more was written");
    NoteRestoreCounts(program, report, "page");
    if (program.json()) {
        AddRestoreJson(out, report);
        program.Result(out.dump(2) + "\n");
    }
    return report.ok() ? kExitSuccess : kExitFailure;
}

namespace {

std::string PageText(const card::UltraLightImage &image, int page) {
    if (page >= image.page_count()) return "(no such page)";
    std::string text;
    for (int byte = 0; byte < card::kPageSize; ++byte) {
        if (byte > 0) text += ' ';
        text += image.ByteKnown(page, byte)
                    ? card::ToHex(std::span(&image.pages[static_cast<std::size_t>(page)][static_cast<std::size_t>(byte)], 1))
                    : "??";
    }
    return text;
}

std::string Markers(card::PageMask differing) {
    std::string text;
    for (int i = 0; i < card::kPageSize; ++i) text += std::string(i > 0 ? " " : "") + ((differing >> i & 1) != 0 ? "^^" : "  ");
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

int ReportDiff(Program &program, const card::UltraLightImage &a, const card::UltraLightImage &b) {
    const card::UltraLightDifference diff = card::DiffUltraLight(a, b);
    if (program.json()) {
        nlohmann::json pages = nlohmann::json::array();
        for (const auto &page : diff.pages) {
            nlohmann::json bytes = nlohmann::json::array();
            for (int i = 0; i < card::kPageSize; ++i) {
                if ((page.differing >> i & 1) != 0) bytes.push_back(i);
            }
            pages.push_back({{"page", page.page}, {"a", PageText(a, page.page)}, {"b", PageText(b, page.page)},
                             {"differing_bytes", bytes}});
        }
        program.Result(nlohmann::json{{"equal", diff.equal()}, {"kinds_differ", diff.kinds_differ},
                                      {"uids_differ", diff.uids_differ}, {"pages", pages}}
                           .dump(2) + "\n");
    } else if (diff.equal()) {
        program.Note("the dumps are equal");
    } else {
        std::string text;
        if (diff.kinds_differ)
            text += "card: " + std::string(card::UltraLightKindName(a.kind)) + " / " + std::string(card::UltraLightKindName(b.kind)) + "\n";
        if (diff.uids_differ) text += "UID: " + card::ToHex(a.uid) + " / " + card::ToHex(b.uid) + "\n";
        for (const auto &page : diff.pages) {
            text += "page " + std::to_string(page.page) + "\n  < " + PageText(a, page.page) + "\n  > " +
                    PageText(b, page.page) + "\n    " + Markers(page.differing) + "\n";
        }
        program.Result(text);
        std::string summary;
        if (diff.kinds_differ) summary += "the card types differ, ";
        if (diff.uids_differ) summary += "the UIDs differ, ";
        program.Note(summary + (diff.pages.empty() ? "no page differs" : std::to_string(diff.pages.size()) + " page(s) differ"));
    }
    return diff.equal() ? kExitSuccess : kExitFailure;
}

}  // namespace

std::optional<int> DiffUltraLightFiles(Program &program, const std::string &first, const std::string &second) {
    const auto a = card::LoadUltraLightDumpIfAny(first);
    const auto b = card::LoadUltraLightDumpIfAny(second);
    if (!a && !b) return std::nullopt;
    if (a && b) return ReportDiff(program, *a, *b);
    // One card of each family: they differ as a whole.
    const card::CardImage classic = LoadDumpFile(a ? second : first);
    const std::string ultralight(card::UltraLightKindName(a ? a->kind : b->kind));
    const std::string other = "MIFARE Classic " + std::string(card::KindName(classic.kind));
    if (program.json()) {
        program.Result(nlohmann::json{{"equal", false}, {"kinds_differ", true}}.dump(2) + "\n");
    } else {
        program.Result("card: " + (a ? ultralight + " / " + other : other + " / " + ultralight) + "\n");
    }
    return kExitFailure;
}

std::optional<int> ConvertUltraLightFile(Program &program, const std::string &input, const std::string &output,
                                         bool fill_unknown) {
    const auto image = card::LoadUltraLightDumpIfAny(input);
    if (!image) return std::nullopt;
    RequireUltraLightFormat(output);
    const card::DumpFormat format = *card::FormatForPath(output);
    if (!card::FormatKeepsUnknownBytes(format) && !fill_unknown && image->KnownPageCount() < image->page_count()) {
        throw UsageError(input + " has unknown bytes, which " + std::string(card::FormatName(format)) +
                         " cannot mark: convert to .json or .nfc, or give --fill-unknown zeros");
    }
    CheckWritable(output);
    SaveWithNotes(program, output, *image);
    program.Note("wrote " + output + " (" + std::string(card::UltraLightKindName(image->kind)) + ", " +
                 std::to_string(image->KnownPageCount()) + " of " + std::to_string(image->page_count()) + " pages known" +
                 (image->partial ? ", partial" : "") + ")");
    return kExitSuccess;
}

}  // namespace zelkor::cli
