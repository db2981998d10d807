// zelkor diff, zelkor convert: dump files of any format, no reader involved.
#include <nlohmann/json.hpp>

#include "card/card_layout.h"
#include "card/dump_diff.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "card_text.h"
#include "dump_files.h"
#include "commands.h"
#include "ultralight_commands.h"
#include "cli/toolkit_text.h"

namespace zelkor::cli {
namespace {

std::string BlockOrAbsent(const card::CardImage &image, int block) {
    return block < image.block_count() ? BlockText(image, block) : std::string("(no such block)");
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

std::string DiffText(const card::CardImage &a, const card::CardImage &b, const card::DumpDifference &diff) {
    std::string text;
    if (diff.kinds_differ) {
        text += "card: " + std::string(card::KindName(a.kind)) + " / " + std::string(card::KindName(b.kind)) + "\n";
    }
    if (diff.uids_differ) text += "UID: " + card::ToHex(a.uid) + " / " + card::ToHex(b.uid) + "\n";
    for (const auto &block : diff.blocks) {
        text += "block " + std::to_string(block.block) + " (sector " +
                std::to_string(card::SectorOfBlock(block.block)) + ")\n";
        text += "  < " + BlockOrAbsent(a, block.block) + "\n";
        text += "  > " + BlockOrAbsent(b, block.block) + "\n";
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
                          {"a", BlockOrAbsent(a, block.block)},
                          {"b", BlockOrAbsent(b, block.block)},
                          {"differing_bytes", bytes}});
    }
    return {{"equal", diff.equal()},
            {"kinds_differ", diff.kinds_differ},
            {"uids_differ", diff.uids_differ},
            {"uids_compared", diff.uids_compared},
            {"blocks", blocks}};
}

// "the UIDs differ, 2 block(s) differ"; names what differs when no block does.
std::string DifferenceSummary(const card::DumpDifference &diff) {
    std::string text;
    if (diff.kinds_differ) text += "the card types differ, ";
    if (diff.uids_differ) text += "the UIDs differ, ";
    if (diff.blocks.empty()) return text + "no block differs";
    return text + std::to_string(diff.blocks.size()) + " block(s) differ";
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
            program.Note("UID not compared: " + (a_holds_uid ? options->second : options->first) + " has no UID");
        }
        if (program.json()) {
            program.Result(DiffJson(a, b, diff).dump(2) + "\n");
        } else if (diff.equal()) {
            program.Note("the dumps are equal");
        } else {
            program.Result(DiffText(a, b, diff));
            program.Note(DifferenceSummary(diff));
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
            throw UsageError(options->output + ": unknown dump format (use .mct .bin .mfd .json .nfc or .eml)");
        }
        if (const auto status = ConvertUltraLightFile(program, options->input, options->output, !options->fill_unknown.empty())) return *status;
        const card::CardImage image = LoadDumpFile(options->input);
        if (!card::FormatKeepsUnknownBytes(*format) && options->fill_unknown.empty() && HasUnknownBytes(image)) {
            throw UsageError(options->input + " has unknown bytes, which " + std::string(card::FormatName(*format)) +
                             " cannot mark: convert to .mct, .json or .nfc, or give --fill-unknown zeros");
        }
        CheckWritable(options->output);
        std::vector<card::FileWarning> warnings;
        card::SaveDump(options->output, image, &warnings);
        for (const auto &warning : warnings) program.Note(options->output + ": " + WarningText(warning));
        program.Note("wrote " + options->output + " (" + std::string(card::KindName(image.kind)) + ", " +
                     std::to_string(image.KnownBlockCount()) + " of " + std::to_string(image.block_count()) +
                     " blocks known" + (image.partial ? ", partial" : "") + ")");
        return image.partial ? kExitFailure : kExitSuccess;
    });
}

}  // namespace

void AddFileCommands(Program &program) {
    AddDiffCommand(program);
    AddConvertCommand(program);
}

}  // namespace zelkor::cli
