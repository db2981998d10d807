// zelkor diff, zelkor convert: dump files of any format, no reader involved.
#include <nlohmann/json.hpp>

#include "card/card_layout.h"
#include "card/dump_diff.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "cli/card_text.h"
#include "cli/card_work_notes.h"
#include "cli/dump_files.h"
#include "cli/commands.h"
#include "cli/ultralight_commands.h"
#include "cli/toolkit_text.h"

namespace zelkor::cli {
namespace {

std::string BlockOrAbsent(const card::CardImage &image, int block, Language language) {
    return block < image.block_count() ? BlockText(image, block) : Say(language, "(no such block)", "（没有这一块）");
}

// "      ^^    ^^": under each differing byte of a BlockText line.
std::string Markers(card::ByteMask differing) {
    std::string text;
    for (int i = 0; i < card::kBlockSize; ++i) {
        if (i > 0) text += ' ';
        text += (differing >> i & 1) != 0 ? "^^" : "  ";
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string DiffText(const card::CardImage &a, const card::CardImage &b, const card::DumpDifference &diff,
                     Language language) {
    std::string text = DiffHeader(diff.kinds_differ, std::string(card::KindName(a.kind)),
                                  std::string(card::KindName(b.kind)), diff.uids_differ, card::ToHex(a.uid),
                                  card::ToHex(b.uid), language);
    for (const auto &block : diff.blocks) {
        const std::string number = std::to_string(block.block);
        const std::string sector = std::to_string(card::SectorOfBlock(block.block));
        text += Say(language, "block " + number + " (sector " + sector + ")\n", "块 " + number + "（扇区 " + sector + "）\n");
        text += "  < " + BlockOrAbsent(a, block.block, language) + "\n";
        text += "  > " + BlockOrAbsent(b, block.block, language) + "\n";
        text += "    " + Markers(block.differing) + "\n";
    }
    return text;
}

nlohmann::json DiffJson(const card::CardImage &a, const card::CardImage &b, const card::DumpDifference &diff) {
    nlohmann::json blocks = nlohmann::json::array();
    for (const auto &block : diff.blocks) {
        nlohmann::json bytes = nlohmann::json::array();
        for (int i = 0; i < card::kBlockSize; ++i) {
            if ((block.differing >> i & 1) != 0) bytes.push_back(i);
        }
        blocks.push_back({{"block", block.block},
                          {"a", BlockOrAbsent(a, block.block, Language::English)},
                          {"b", BlockOrAbsent(b, block.block, Language::English)},
                          {"differing_bytes", bytes}});
    }
    return {{"equal", diff.equal()},
            {"kinds_differ", diff.kinds_differ},
            {"uids_differ", diff.uids_differ},
            {"uids_compared", diff.uids_compared},
            {"blocks", blocks}};
}

void AddDiffCommand(Program &program) {
    struct Options {
        std::string first;
        std::string second;
    };
    auto options = std::make_shared<Options>();
    CLI::App *command = program.app().add_subcommand(
        "diff", "Compare two dumps of any formats block by block; exit status 0 when equal, 1 when not");
    command->add_option("A", options->first, "First dump (.mct .bin .mfd .json .nfc .eml)")->required()->type_name("FILE");
    command->add_option("B", options->second, "Second dump")->required()->type_name("FILE");
    program.AddJsonOption(command);
    program.Register(command, [&program, options]() -> int {
        if (const auto status = DiffUltraLightFiles(program, options->first, options->second)) return *status;
        const card::CardImage a = LoadDumpFile(options->first);
        const card::CardImage b = LoadDumpFile(options->second);
        const bool a_holds_uid = DumpFileHoldsUid(options->first, a);
        const bool b_holds_uid = DumpFileHoldsUid(options->second, b);
        const card::DumpDifference diff = card::DiffDumps(a, b, a_holds_uid && b_holds_uid);
        if (!diff.uids_compared && a.uid != b.uid) {
            const std::string without = a_holds_uid ? options->second : options->first;
            program.Note("UID not compared: " + without + " has no UID", "卡号未比较：" + without + " 中没有卡号");
        }
        if (program.json()) {
            program.Result(DiffJson(a, b, diff).dump(2) + "\n");
        } else if (diff.equal()) {
            program.Note(DumpsEqualText(program.language()));
        } else {
            program.Result(DiffText(a, b, diff, program.language()));
            program.Note(DifferenceSummary(diff.kinds_differ, diff.uids_differ, diff.blocks.size(), CardUnit::Block,
                                           program.language()));
        }
        return diff.equal() ? kExitSuccess : kExitFailure;
    });
}

void AddConvertCommand(Program &program) {
    struct Options {
        std::string input;
        std::string output;
        std::string fill_unknown;
    };
    auto options = std::make_shared<Options>();
    CLI::App *command = program.app().add_subcommand(
        "convert", "Convert a dump between formats, chosen by extension (.mct .bin .mfd .json .nfc .eml)");
    command->add_option("IN", options->input, "Dump to read")->required()->type_name("FILE");
    command->add_option("OUT", options->output, "Dump to write")->required()->type_name("FILE");
    AddFillUnknownOption(command, options->fill_unknown);
    program.Register(command, [&program, options]() -> int {
        const auto format = card::FormatForPath(options->output);
        if (!format) {
            throw UnknownDumpFormat(options->output, kClassicFormats, kClassicFormatLast);
        }
        if (const auto status = ConvertUltraLightFile(program, options->input, options->output, !options->fill_unknown.empty())) return *status;
        const card::CardImage image = LoadDumpFile(options->input);
        if (!card::FormatKeepsUnknownBytes(*format) && options->fill_unknown.empty() && HasUnknownBytes(image)) {
            throw UnmarkableUnknownBytes(options->input, *format, ".mct, .json", ".nfc");
        }
        CheckWritable(options->output);
        std::vector<card::FileWarning> warnings;
        card::SaveDump(options->output, image, &warnings);
        for (const auto &warning : warnings) program.Note(options->output + ": " + WarningText(warning));
        NoteConverted(program, options->output, std::string(card::KindName(image.kind)),
                      {image.KnownBlockCount(), image.block_count(), image.partial}, CardUnit::Block);
        return image.partial ? kExitFailure : kExitSuccess;
    });
}

}  // namespace

void AddFileCommands(Program &program) {
    AddDiffCommand(program);
    AddConvertCommand(program);
}

}  // namespace zelkor::cli
