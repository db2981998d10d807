// zelkor keys: the key map of every sector for key A and key B.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/card_layout.h"
#include "card/key_files.h"
#include "cli/card_text.h"
#include "cli/commands.h"
#include "cli/key_sources.h"
#include "cli/output_files.h"
#include "cli/reader_access.h"

namespace zelkor::cli {
namespace {

struct KeysOptions {
    ReaderOptions reader;
    KeySourceOptions sources;
    std::string output;
};

// The key-map layout, marked as partial when the search did not finish.
std::string KeyMapText(const card::KeySearchResult &result, const card::CardIdentity &identity, bool partial) {
    nlohmann::json map = nlohmann::json::parse(card::WriteKeyMap(result.keys));
    map["Created"] = "zelkor";
    map["UID"] = card::ToHex(identity.uid);
    if (partial) map["Partial"] = true;
    return map.dump(2) + "\n";
}

std::string StatusText(const card::KeySearchResult &result, const card::CardIdentity &identity, Language language) {
    if (result.cancelled) return Say(language, "stopped by the user", "已被用户停止");
    if (result.lost) return Say(language, "stopped: ", "已停止：") + LossText(*result.lost, identity.uid);
    return result.complete ? Say(language, "every key found", "全部密钥已找到") : Say(language, "search finished", "搜索结束");
}

bool AnyKey(const card::KeySearchResult &result) {
    return std::any_of(result.keys.begin(), result.keys.end(),
                       [](const card::SectorKeys &keys) { return keys.a || keys.b; });
}

// Every sector opened by one of its keys, without a stop on the way.
bool EverySectorOpened(const card::KeySearchResult &result, int sectors) {
    if (static_cast<int>(result.keys.size()) < sectors) return false;
    return std::all_of(result.keys.begin(), result.keys.begin() + sectors,
                       [](const card::SectorKeys &keys) { return keys.a || keys.b; });
}

bool IsKeyBinaryFile(const std::string &path) {
    const auto format = card::FormatForPath(path);
    return format == card::DumpFormat::Bin;
}

// The binary key file has no mark for a key not found.
void NoteKeysWrittenAsZeros(Program &program, const std::vector<card::SectorKeys> &keys) {
    for (const card::KeyType type : {card::KeyType::A, card::KeyType::B}) {
        std::string sectors;
        for (std::size_t sector = 0; sector < keys.size(); ++sector) {
            if (!keys[sector].Of(type)) sectors += (sectors.empty() ? "" : ", ") + std::to_string(sector);
        }
        if (!sectors.empty())
            program.Note(std::string("key ") + card::KeyLetter(type) + " not found in sectors " + sectors +
                             ": written as zeros (a .bin key file cannot mark it)",
                         std::string("扇区 ") + sectors + " 的密钥" + card::KeyLetter(type) +
                             " 没有找到：写成全 0（.bin 密钥文件无法标记它）");
    }
}

int RunKeys(Program &program, const KeysOptions &options) {
    const LoadedKeys keys = LoadKeySources(options.sources, false);
    if (!options.output.empty()) CheckWritable(options.output);
    ReaderAccess reader(options.reader);
    const card::CardIdentity identity = reader.IdentifyClassic();
    const card::KeySearchResult result = RunKeySearch(program, reader.link(), *identity.kind, keys);
    const bool partial = result.cancelled || result.card_lost;

    const Language language = program.language();
    const std::string authentications = std::to_string(result.authentications);
    program.Note(SectorMap(result.keys, language) + KeySummary(result.keys, language) + program.Say("; ", "；") +
                 StatusText(result, identity, language) +
                 program.Say(" after " + authentications + " authentications", "（验证 " + authentications + " 次）"));
    if (!AnyKey(result)) {
        program.Note("no key found: nothing written", "没有找到任何密钥：没有写入任何文件");
        return kExitFailure;
    }
    const std::string map = KeyMapText(result, identity, partial);
    const int status = partial ? kExitFailure : kExitSuccess;
    if (options.output.empty()) {
        program.Result(map);
        return status;
    }
    const bool complete = !partial && EverySectorOpened(result, card::SectorCount(*identity.kind));
    const bool binary = IsKeyBinaryFile(options.output);
    if (binary) NoteKeysWrittenAsZeros(program, result.keys);
    // Should saving fail, the keys found still reach standard output as text.
    const SavedResult saved =
        SaveCardResult(program, options.output, binary ? card::WriteKeyBinary(result.keys) : map, complete, map);
    if (!saved.saved_as_asked) return ExitStatusAfterSaving(saved, status);
    program.Note("wrote " + saved.path + (partial ? " (partial)" : ""),
                 "已写入 " + saved.path + (partial ? "（不完整）" : ""));
    if (program.json()) {
        const nlohmann::json summary = {{"file", saved.path},
                                        {"complete", result.complete},
                                        {"partial", partial},
                                        {"authentications", result.authentications}};
        program.Result(summary.dump(2) + "\n");
    }
    return status;
}

}  // namespace

void AddKeysCommand(Program &program) {
    auto options = std::make_shared<KeysOptions>();
    CLI::App *command = program.app().add_subcommand(
        "keys", "Find key A and key B of every sector (built-in keys and -k dictionaries)");
    AddReaderOptions(program, command, options->reader);
    AddKeySourceOptions(command, options->sources);
    command->add_option("-o,--output", options->output, "Write the key map into FILE instead of standard output: JSON, or the binary key file for a .bin "
                        "(key A of every sector, then key B, 6 bytes each)")
        ->type_name("FILE");
    program.AddJsonOption(command);
    program.Register(command, [&program, options] { return RunKeys(program, *options); });
}

}  // namespace zelkor::cli
