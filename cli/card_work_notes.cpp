#include "cli/card_work_notes.h"

namespace zelkor::cli {
namespace {

std::string UnitsEnglish(CardUnit unit) { return unit == CardUnit::Block ? "block(s)" : "page(s)"; }
std::string UnitChinese(CardUnit unit) { return unit == CardUnit::Block ? "块" : "页"; }

}  // namespace

std::string WrittenName(const Program &program, const SavedResult &saved) {
    return saved.path.empty() ? program.Say("standard output", "标准输出") : saved.path;
}

UsageError UnknownDumpFormat(const std::string &path, const std::string &formats, const std::string &last) {
    return UsageError(path + ": unknown dump format (use " + formats + " or " + last + ")",
                      path + "：不支持的文件类型（请使用 " + formats + " 或 " + last + "）");
}

UsageError UnmarkableUnknownBytes(const std::string &input, card::DumpFormat format, const std::string &alternatives,
                                  const std::string &last) {
    const std::string name(card::FormatName(format));
    return UsageError(input + " has unknown bytes, which " + name + " cannot mark: convert to " + alternatives +
                          " or " + last + ", or give --fill-unknown zeros",
                      input + " 有未知字节，" + name + " 无法标记它们：请转换为 " + alternatives + " 或 " + last +
                          "，或给出 --fill-unknown zeros");
}

void NoteKeptBeside(Program &program, const std::string &output, const std::string &kept_as) {
    const std::string format(card::FormatName(*card::FormatForPath(output)));
    program.Note(output + ": unknown bytes cannot be written as " + format +
                     " without --fill-unknown zeros; the dump is kept as " + kept_as,
                 output + "：没有 --fill-unknown zeros 时未知字节无法写成 " + format + "；数据已另存为 " + kept_as);
}

void NoteConverted(Program &program, const std::string &output, const std::string &kind, const UnitCounts &counts,
                   CardUnit unit) {
    const std::string known = std::to_string(counts.known);
    const std::string total = std::to_string(counts.total);
    const std::string units = unit == CardUnit::Block ? " blocks known" : " pages known";
    program.Note("wrote " + output + " (" + kind + ", " + known + " of " + total + units +
                     (counts.partial ? ", partial" : "") + ")",
                 "已写入 " + output + "（" + kind + "，已知 " + known + " " + UnitChinese(unit) + "，共 " + total + " " +
                     UnitChinese(unit) + (counts.partial ? "，不完整" : "") + "）");
}

void NoteFatalPlan(Program &program) {
    program.Note("nothing written: the plan has fatal problems", "没有写入任何数据：写卡计划有严重问题");
}

CardError StoppedBeforeWriting() {
    return CardError("stopped before anything was written", "已停止：没有写入任何数据");
}

void NoteWriteCounts(Program &program, const WriteCounts &counts, CardUnit unit) {
    const std::string written = std::to_string(counts.written);
    const std::string skipped = std::to_string(counts.skipped);
    const std::string verified = std::to_string(counts.verified);
    const std::string chinese_unit = " " + UnitChinese(unit);
    program.Note(written + " " + UnitsEnglish(unit) + " written, " + skipped + " skipped, " + verified + " verified" +
                     (counts.cancelled ? " (stopped by the user)" : ""),
                 "写入 " + written + chinese_unit + "，跳过 " + skipped + chinese_unit + "，校验通过 " + verified +
                     chinese_unit + (counts.cancelled ? "（已被用户停止）" : ""));
}

std::string DiffHeader(bool kinds_differ, const std::string &kind_a, const std::string &kind_b, bool uids_differ,
                       const std::string &uid_a, const std::string &uid_b, Language language) {
    std::string text;
    if (kinds_differ) text += Say(language, "card: ", "卡片：") + kind_a + " / " + kind_b + "\n";
    if (uids_differ) text += Say(language, "UID: ", "卡号：") + uid_a + " / " + uid_b + "\n";
    return text;
}

std::string DifferenceSummary(bool kinds_differ, bool uids_differ, std::size_t differing, CardUnit unit,
                              Language language) {
    const bool blocks = unit == CardUnit::Block;
    std::string text;
    if (kinds_differ) text += Say(language, "the card types differ, ", "卡片类型不同，");
    if (uids_differ) text += Say(language, "the UIDs differ, ", "卡号不同，");
    if (differing == 0) {
        return text + Say(language, blocks ? "no block differs" : "no page differs", "没有不同的" + UnitChinese(unit));
    }
    const std::string count = std::to_string(differing);
    return text + Say(language, count + " " + UnitsEnglish(unit) + " differ", count + " " + UnitChinese(unit) + "不同");
}

std::string DumpsEqualText(Language language) { return Say(language, "the dumps are equal", "两个文件的数据相同"); }

}  // namespace zelkor::cli
