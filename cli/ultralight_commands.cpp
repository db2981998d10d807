#include "cli/ultralight_commands.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "card/hex.h"
#include "card/ultralight_card.h"
#include "card/ultralight_formats.h"
#include "card/safe_file.h"
#include "cli/card_text.h"
#include "cli/card_work_notes.h"
#include "cli/info_text.h"
#include "cli/dump_files.h"
#include "cli/output_files.h"
#include "cli/progress_display.h"
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
    if (!format) throw UnknownDumpFormat(path, ".nfc .json .bin", ".mfd");
    if (!card::FormatHoldsUltraLight(*format)) {
        const std::string name(card::FormatName(*format));
        throw UsageError(path + ": a ." + name +
                             " file holds MIFARE Classic sectors only; use .nfc .json .bin or .mfd for the UltraLight family",
                         path + "：." + name + " 文件只能保存 MIFARE Classic 的扇区；UltraLight 系列请使用 .nfc .json .bin 或 .mfd");
    }
}

card::UltraLightRead ReadCard(Program &program, ReaderAccess &reader, const card::CardIdentity &identity) {
    ProgressDisplay display(program.console(), program.language());
    auto read = card::ReadUltraLight(reader.link(), identity, display.Callback(), program.stop_token());
    if (!read) throw CardError("the card does not answer a read of page 0", "卡片对读第 0 页没有应答");
    return *read;
}

std::string KindText(const card::UltraLightRead &read, Language language) {
    std::string text(card::UltraLightKindName(read.image.kind));
    if (!read.kind_certain) text = Say(language, "UltraLight family, at least " + text, "UltraLight 系列，至少是 " + text);
    return text;
}

std::string KindAndUid(const card::UltraLightRead &read, Language language) {
    return KindText(read, language) + Say(language, ", UID ", "，卡号 ") + card::ToHex(read.image.uid);
}

// What a read could not reach, for standard error.
void NoteUnread(Program &program, const card::UltraLightRead &read) {
    const std::string readable = std::to_string(read.readable_pages);
    if (read.refused_pages) {
        const std::string range = readable + "-" + std::to_string(read.image.page_count() - 1);
        program.Note("pages " + range + " cannot be read (password protected)", "页 " + range + " 受密码保护，不可读");
    }
    if (read.lost) {
        const std::string last = std::to_string(read.readable_pages - 1);
        const std::string loss = LossText(*read.lost, read.image.uid);
        program.Note("stopped after page " + last + ": " + loss, "读到第 " + last + " 页后停止：" + loss);
    }
    if (!read.kind_certain) {
        program.Note("the card's size could not be told: " + readable + " pages answered",
                     "无法确定卡片容量：可读 " + readable + " 页");
    }
}

}  // namespace

bool IsUltraLightCard(const card::CardIdentity &identity) { return identity.type_code == card::kUltraLightTypeCode; }

int RunUltraLightInfo(Program &program, ReaderAccess &reader, const card::CardIdentity &identity) {
    const card::UltraLightRead read = ReadCard(program, reader, identity);
    const std::string uid = card::ToHex(read.image.uid);
    auto hex = [](const auto &value) { return value ? card::ToHex(std::span(&*value, 1)) : std::string(); };
    const std::string not_given = NotGivenByReader(program.language());
    const std::string atqa = identity.atqa ? card::ToHex(*identity.atqa) : not_given;
    const std::string sak = identity.sak ? hex(identity.sak) : not_given;
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
        const Language language = program.language();
        const std::string code = std::to_string(identity.type_code);
        const std::string pages = std::to_string(read.image.page_count());
        const std::string readable = std::to_string(read.readable_pages);
        program.Result(
            CardInfoText({KindText(read, language) + program.Say(" (UltraLight family, type code " + code + ")",
                                                                 "（UltraLight 系列，类型码 " + code + "）"),
                          uid, atqa, sak, identity.reader_serial,
                          program.Say(pages + " (" + readable + " readable)", pages + "（可读 " + readable + " 页）")},
                         language));
    }
    NoteUnread(program, read);
    return read.cancelled || read.card_lost ? kExitFailure : kExitSuccess;
}

int RunUltraLightDump(Program &program, ReaderAccess &reader, const card::CardIdentity &identity,
                      const std::string &output, bool fill_unknown) {
    RequireUltraLightFormat(output);
    const card::UltraLightRead read = ReadCard(program, reader, identity);
    program.Note(KindAndUid(read, program.language()));
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
    const std::string known = std::to_string(image.KnownPageCount());
    const std::string total = std::to_string(image.page_count());
    program.Note("wrote " + written + ": " + known + " of " + total + " pages read" + (image.partial ? " (partial)" : ""),
                 "已写入 " + written + "：读出 " + known + " 页，共 " + total + " 页" + (image.partial ? "（不完整）" : ""));
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
    if (options.trailers) {
        program.Note("--trailers: the UltraLight family has no sector trailers; ignored",
                     "--trailers：UltraLight 系列没有控制块；已忽略");
    }
    ReaderAccess reader(reader_options);
    const card::CardIdentity identity = reader.Identify();
    if (!IsUltraLightCard(identity)) {
        const std::string kind(card::UltraLightKindName(file.kind));
        const std::string code = std::to_string(identity.type_code);
        throw CardError("the file holds an " + kind +
                            " dump, but the card in the field is not of the UltraLight family (type code " + code + ")",
                        "文件是 " + kind + " 卡的数据，但读卡器上的卡片不是 UltraLight 系列（类型码 " + code + "）");
    }
    const card::UltraLightRead now = ReadCard(program, reader, identity);
    program.Note(KindAndUid(now, program.language()));
    if (now.lost) {
        const std::string loss = LossText(*now.lost, identity.uid);
        throw CardError(loss + ": stopped before anything was written", loss + "：已停止，没有写入任何数据");
    }
    if (now.cancelled) throw StoppedBeforeWriting();

    const card::UltraLightPlan plan = card::PlanUltraLightRestore(file, now.image, options.force);
    nlohmann::json out = {{"plan", PlanJson(plan)}, {"dry_run", options.dry_run}};
    if (const auto status = EndsWithPlan(program, words::PlanText(plan, ProgramLanguage()), plan.HasFatal(), options.dry_run, out))
        return *status;
    card::UltraLightRestoreReport report;
    {
        ProgressDisplay display(program.console(), program.language());
        report = card::RestoreUltraLight(reader.link(), plan, display.Callback(), program.stop_token());
    }
    NoteFailures(program, report.failures);
    if (report.lost) {
        const std::string loss = LossText(*report.lost, identity.uid);
        program.Note("stopped: " + loss + "; nothing more was written", "已停止：" + loss + "；没有再写入任何数据");
    }
    NoteWriteCounts(program, {report.written, report.skipped, report.verified, report.cancelled}, CardUnit::Page);
    if (program.json()) {
        AddRestoreJson(out, report);
        program.Result(out.dump(2) + "\n");
    }
    return report.ok() ? kExitSuccess : kExitFailure;
}

namespace {

std::string PageText(const card::UltraLightImage &image, int page, Language language) {
    if (page >= image.page_count()) return Say(language, "(no such page)", "（没有这一页）");
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
            pages.push_back({{"page", page.page},
                             {"a", PageText(a, page.page, Language::English)},
                             {"b", PageText(b, page.page, Language::English)},
                             {"differing_bytes", bytes}});
        }
        program.Result(nlohmann::json{{"equal", diff.equal()}, {"kinds_differ", diff.kinds_differ},
                                      {"uids_differ", diff.uids_differ}, {"pages", pages}}
                           .dump(2) + "\n");
    } else if (diff.equal()) {
        program.Note(DumpsEqualText(program.language()));
    } else {
        const Language language = program.language();
        std::string text = DiffHeader(diff.kinds_differ, std::string(card::UltraLightKindName(a.kind)),
                                      std::string(card::UltraLightKindName(b.kind)), diff.uids_differ,
                                      card::ToHex(a.uid), card::ToHex(b.uid), language);
        for (const auto &page : diff.pages) {
            text += Say(language, "page ", "页 ") + std::to_string(page.page) + "\n  < " + PageText(a, page.page, language) +
                    "\n  > " + PageText(b, page.page, language) + "\n    " + Markers(page.differing) + "\n";
        }
        program.Result(text);
        program.Note(DifferenceSummary(diff.kinds_differ, diff.uids_differ, diff.pages.size(), CardUnit::Page, language));
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
        program.Result(DiffHeader(true, a ? ultralight : other, a ? other : ultralight, false, {}, {}, program.language()));
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
        throw UnmarkableUnknownBytes(input, format, ".json", ".nfc");
    }
    CheckWritable(output);
    SaveWithNotes(program, output, *image);
    NoteConverted(program, output, std::string(card::UltraLightKindName(image->kind)),
                  {image->KnownPageCount(), image->page_count(), image->partial}, CardUnit::Page);
    return kExitSuccess;
}

}  // namespace zelkor::cli
