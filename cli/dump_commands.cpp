// zelkor dump, zelkor restore: a whole card into a file and back.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "card/card_dump.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/key_files.h"
#include "card/restore.h"
#include "card/safe_file.h"
#include "card/ultralight_formats.h"
#include "cli/card_text.h"
#include "cli/card_work_notes.h"
#include "cli/dump_files.h"
#include "cli/commands.h"
#include "cli/key_sources.h"
#include "cli/output_files.h"
#include "cli/progress_display.h"
#include "cli/reader_access.h"
#include "cli/ultralight_commands.h"
#include "cli/toolkit_text.h"
#include "words/plan_text.h"
#include "words/toolkit_words.h"

namespace zelkor::cli {
namespace {

struct DumpOptions {
    ReaderOptions reader;
    KeySourceOptions sources;
    std::string output;
    std::string fill_unknown;
};

struct RestoreOptions {
    ReaderOptions reader;
    KeySourceOptions sources;
    std::string input;
    bool trailers = false;
    bool force = false;
    bool dry_run = false;
};

std::string IdentityText(const card::CardIdentity &identity, Language language) {
    return "MIFARE Classic " + std::string(card::KindName(*identity.kind)) + Say(language, ", UID ", "，卡号 ") +
           card::ToHex(identity.uid);
}

// The card as read, and what was found instead of it when the work stopped
// because the card changed, left or the reader went away.
struct WholeCardRead {
    card::CardImage image;
    std::optional<card::Reselection> lost;
};

// Finds the keys (known ones kept, the rest searched) and reads every block
// they open, all on the card `identity` names.
WholeCardRead ReadWholeCard(Program &program, ReaderAccess &reader, const card::CardIdentity &identity,
                            const LoadedKeys &keys) {
    const card::KeySearchResult search = RunKeySearch(program, reader.link(), *identity.kind, keys);
    program.Note(KeySummary(search.keys, program.language()));
    WholeCardRead read{card::CardImage::Blank(*identity.kind), search.lost};
    if (read.lost) {
        read.image.uid = identity.uid;
        read.image.keys = search.keys;
        read.image.FillTrailerKeys();
        read.image.partial = true;
        return read;
    }
    ProgressDisplay display(program.console(), program.language());
    read.image = card::ReadCard(reader.link(), identity, search.keys, display.Callback(), program.stop_token(),
                                &read.lost);
    if (search.cancelled || search.card_lost) read.image.partial = true;
    return read;
}

// Where the dump goes and in which format: a format that cannot mark unknown
// bytes gets them only with --fill-unknown; otherwise the result is kept as
// .mct beside the output.
struct DumpTarget {
    std::string path;
    card::DumpFormat format;
    bool forced_beside = false;
};

DumpTarget ChooseDumpTarget(const DumpOptions &options, const card::CardImage &image) {
    const card::DumpFormat format = *card::FormatForPath(options.output);
    if (card::FormatKeepsUnknownBytes(format) || !options.fill_unknown.empty() || !HasUnknownBytes(image)) {
        return {options.output, format};
    }
    std::string path = card::PartialPathFor(options.output);
    path = path.substr(0, path.rfind('.')) + ".mct";
    return {path, card::DumpFormat::Mct, true};
}

int RunDump(Program &program, const DumpOptions &options) {
    if (!card::FormatForPath(options.output)) {
        throw UnknownDumpFormat(options.output, kClassicFormats, kClassicFormatLast);
    }
    const LoadedKeys keys = LoadKeySources(options.sources, true);
    CheckWritable(options.output);
    ReaderAccess reader(options.reader);
    const card::CardIdentity identity = reader.Identify();
    if (IsUltraLightCard(identity)) return RunUltraLightDump(program, reader, identity, options.output, !options.fill_unknown.empty());
    ReaderAccess::RequireClassic(identity);
    program.Note(IdentityText(identity, program.language()));
    const WholeCardRead read = ReadWholeCard(program, reader, identity, keys);
    const card::CardImage &image = read.image;
    if (read.lost) {
        const std::string loss = LossText(*read.lost, identity.uid);
        const std::string uid = card::ToHex(identity.uid);
        program.Note("stopped: " + loss + "; only what was read of UID " + uid + " is kept",
                     "已停止：" + loss + "；只保留了卡号 " + uid + " 读出的数据");
    }
    const bool complete = IsCompleteRead(image);

    const DumpTarget target = ChooseDumpTarget(options, image);
    std::vector<card::FileWarning> warnings;
    const std::string contents = card::WriteDump(image, target.format, &warnings);
    if (target.forced_beside) NoteKeptBeside(program, options.output, target.path);
    const SavedResult saved = SaveCardResult(program, target.path, contents,
                                             complete || target.forced_beside);  // already beside the output
    const std::string written = NoteSaved(program, saved, warnings);
    const std::string known = std::to_string(image.KnownBlockCount());
    const std::string total = std::to_string(image.block_count());
    program.Note("wrote " + written + ": " + known + " of " + total + " blocks read" + (complete ? "" : " (partial)"),
                 "已写入 " + written + "：读出 " + known + " 块，共 " + total + " 块" + (complete ? "" : "（不完整）"));
    if (program.json() && saved.saved_as_asked) {
        nlohmann::json summary = {{"file", saved.path},
                                  {"uid", card::ToHex(identity.uid)},
                                  {"card", card::KindName(image.kind)},
                                  {"blocks_read", image.KnownBlockCount()},
                                  {"blocks", image.block_count()},
                                  {"partial", !complete},
                                  {"warnings", WarningsJson(warnings)}};
        if (read.lost) summary["stopped"] = LossJson(*read.lost);
        program.Result(summary.dump(2) + "\n");
    }
    return ExitStatusAfterSaving(saved, complete && !target.forced_beside ? kExitSuccess : kExitFailure);
}


std::vector<card::Key> KeysOfImage(const card::CardImage &image) { return card::KeysOfMap(image.keys); }

// Which card was found, what the right card received, and that the other
// received nothing.
std::string StoppedRestoreText(const card::RestoreReport &report, const card::CardIdentity &identity,
                               Language language) {
    std::vector<int> blocks = report.written_blocks;
    std::sort(blocks.begin(), blocks.end());
    const std::string uid = card::ToHex(identity.uid);
    const std::string other = card::ToHex(report.lost->uid);
    const std::string loss = LossText(*report.lost, identity.uid);
    std::string text = Say(language, "stopped: " + loss + ".\n", "已停止：" + loss + "。\n");
    if (blocks.empty()) {
        text += Say(language, "nothing was written to the card UID " + uid, "卡片 " + uid + " 上没有写入任何数据");
    } else {
        const std::string ranges = words::RangesText(blocks, ", ");
        text += Say(language, "written to the card UID " + uid + ": block(s) " + ranges,
                    "已写入卡片 " + uid + " 的块：" + ranges);
    }
    if (report.lost->outcome == card::Selection::OtherCard) {
        text += Say(language, "; nothing was written to the card UID " + other,
                    "；另一张卡（卡号 " + other + "）上没有写入任何数据");
    }
    if (report.lost->outcome == card::Selection::ReaderGone) {
        return text + Say(language, "; connect the reader and run the restore again", "；请连接读卡器后重新写卡");
    }
    return text + Say(language, "; put the card UID " + uid + " back and run the restore again",
                      "；请放回卡片 " + uid + " 后重新写卡");
}

card::RestoreReport WritePlan(Program &program, ReaderAccess &reader, const card::RestorePlan &plan) {
    ProgressDisplay display(program.console(), program.language());
    return card::Restore(reader.link(), plan, display.Callback(), program.stop_token());
}

int RunRestore(Program &program, const RestoreOptions &options) {
    // Every file is read before the card is touched.
    if (const auto ultralight = card::LoadUltraLightDumpIfAny(options.input)) {
        return RunUltraLightRestore(program, *ultralight, options.reader,
                                    {options.force, options.dry_run, options.trailers});
    }
    const card::CardImage file = LoadDumpFile(options.input);
    const LoadedKeys keys = LoadKeySources(options.sources, true, KeysOfImage(file));
    ReaderAccess reader(options.reader);
    const card::CardIdentity identity = reader.IdentifyClassic();
    program.Note(IdentityText(identity, program.language()));
    const WholeCardRead read = ReadWholeCard(program, reader, identity, keys);
    if (read.lost) {
        const std::string loss = LossText(*read.lost, identity.uid);
        throw CardError(loss + ": nothing written", loss + "：没有写入任何数据");
    }
    if (program.stop_token().stop_requested()) throw StoppedBeforeWriting();
    const card::CardImage &card_now = read.image;

    const card::RestorePlan plan = card::PlanRestore(file, card_now, {options.trailers, options.force});
    nlohmann::json out = {{"plan", PlanJson(plan)}, {"dry_run", options.dry_run}};
    if (const auto status = EndsWithPlan(program, words::PlanText(plan, ProgramLanguage()), plan.HasFatal(), options.dry_run, out))
        return *status;
    const card::RestoreReport report = WritePlan(program, reader, plan);
    NoteFailures(program, report.failures);
    NoteWriteCounts(program, {report.written, report.skipped, report.verified, report.cancelled}, CardUnit::Block);
    if (report.lost) program.Note(StoppedRestoreText(report, identity, program.language()));
    if (program.json()) {
        AddRestoreJson(out, report);
        out["written_blocks"] = report.written_blocks;
        program.Result(out.dump(2) + "\n");
    }
    return report.ok() ? kExitSuccess : kExitFailure;
}

void AddDumpCommand(Program &program) {
    auto options = std::make_shared<DumpOptions>();
    CLI::App *command = program.app().add_subcommand(
        "dump", "Read every block the keys open into a file (.mct .bin .mfd .json .nfc .eml)");
    AddReaderOptions(program, command, options->reader);
    AddKeySourceOptions(command, options->sources);
    command->add_option("-o,--output", options->output,
                        "Dump file; its extension chooses the format. An incomplete dump never replaces an "
                        "existing file: it goes beside it as NAME.partial.EXT")
        ->required()
        ->type_name("FILE");
    AddFillUnknownOption(command, options->fill_unknown);
    program.AddJsonOption(command);
    program.Register(command, [&program, options] { return RunDump(program, *options); });
}

void AddRestoreCommand(Program &program) {
    auto options = std::make_shared<RestoreOptions>();
    CLI::App *command = program.app().add_subcommand(
        "restore", "Write a dump back onto a card after a check that lists every problem; every block written "
                   "is read back and compared");
    AddReaderOptions(program, command, options->reader);
    AddKeySourceOptions(command, options->sources);
    command->add_option("-i,--input", options->input, "Dump file to write (any format)")
        ->required()
        ->type_name("FILE");
    command->add_flag("--trailers", options->trailers, "Write sector trailers too (keys and access bits)");
    command->add_flag("--force", options->force,
                      "Write even onto a card with another UID, and trailers whose access bits can never be "
                      "written again");
    command->add_flag("--dry-run", options->dry_run, "Show the plan only; write nothing");
    program.AddJsonOption(command);
    program.Register(command, [&program, options] { return RunRestore(program, *options); });
}

}  // namespace

void AddDumpCommands(Program &program) {
    AddDumpCommand(program);
    AddRestoreCommand(program);
}

}  // namespace zelkor::cli
