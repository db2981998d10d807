#include "cli/key_sources.h"

#include <algorithm>
#include <cctype>
#include <span>

#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/key_files.h"
#include "cli/platform.h"
#include "cli/progress_display.h"

namespace zelkor::cli {
namespace {

bool HasExtension(const std::string &path, std::string_view extension) {
    return path.size() >= extension.size() &&
           std::equal(path.end() - static_cast<std::ptrdiff_t>(extension.size()), path.end(), extension.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

bool IsKeyMapFile(const std::string &path) { return HasExtension(path, ".json") || HasExtension(path, ".bin"); }

std::vector<card::SectorKeys> LoadAnyKeyMap(const std::string &path) {
    return HasExtension(path, ".bin") ? card::LoadKeyBinary(path) : card::LoadKeyMap(path);
}

// Notes each key the search's map gained since `shown`, and remembers it.
void NoteNewKeys(Program &program, std::span<const card::SectorKeys> now, std::vector<card::SectorKeys> &shown) {
    if (shown.size() < now.size()) shown.resize(now.size());
    for (std::size_t sector = 0; sector < now.size(); ++sector) {
        for (card::KeyType type : {card::KeyType::A, card::KeyType::B}) {
            const auto &key = now[sector].Of(type);
            if (!key || shown[sector].Of(type) == key) continue;
            shown[sector].Of(type) = key;
            const std::string found = card::KeyToHex(*key);
            program.Note("sector " + std::to_string(sector) + ": key " + card::KeyLetter(type) + " " + found,
                         "扇区 " + std::to_string(sector) + "：密钥" + card::KeyLetter(type) + " " + found);
        }
    }
}

void MergeKnown(std::vector<card::SectorKeys> &into, const std::vector<card::SectorKeys> &from) {
    if (into.size() < from.size()) into.resize(from.size());
    for (std::size_t sector = 0; sector < from.size(); ++sector) {
        if (from[sector].a && !into[sector].a) into[sector].a = from[sector].a;
        if (from[sector].b && !into[sector].b) into[sector].b = from[sector].b;
    }
}

}  // namespace

void AddKeySourceOptions(CLI::App *command, KeySourceOptions &options) {
    command->add_option("-k,--keys", options.files,
                        "Key file: a dictionary (one 12-digit hexadecimal key a line, # comments) or a key map "
                        "(.json or .bin, as `zelkor keys` writes them); repeatable, tried after the built-in keys")
        ->allow_extra_args(false)
        ->type_name("FILE");
    command->add_flag("--no-builtin", options.no_builtin, "Leave out the built-in list of well-known keys");
}

LoadedKeys LoadKeySources(const KeySourceOptions &options, bool maps_as_known, const std::vector<card::Key> &extra) {
    LoadedKeys loaded;
    // Factory keys open most sectors of most cards: a long dictionary before
    // them costs an authentication per key in every such sector.
    std::vector<card::Key> candidates;
    if (!options.no_builtin) {
        const auto builtin = card::BuiltinKeys();
        candidates.insert(candidates.end(), builtin.begin(), builtin.end());
    }
    candidates.insert(candidates.end(), extra.begin(), extra.end());
    const platform::InterruptEndsAtOnce reading_files;
    for (const auto &file : options.files) {
        if (IsKeyMapFile(file)) {
            const auto map = LoadAnyKeyMap(file);
            MergeKnown(maps_as_known ? loaded.known : loaded.hints, map);
            const auto keys = card::KeysOfMap(map);
            candidates.insert(candidates.end(), keys.begin(), keys.end());
        } else {
            const auto keys = card::LoadKeyDictionary(file);
            candidates.insert(candidates.end(), keys.begin(), keys.end());
        }
    }
    loaded.dictionary = card::UniqueKeys(candidates);
    if (loaded.dictionary.empty() && loaded.known.empty()) {
        throw UsageError("no keys to try: give a key file with -k or leave out --no-builtin",
                         "没有可尝试的密钥：请用 -k 给出密钥文件，或去掉 --no-builtin");
    }
    return loaded;
}

card::KeySearchResult RunKeySearch(Program &program, card::CardLink &link, card::CardKind kind,
                                   const LoadedKeys &keys) {
    std::vector<card::SectorKeys> known = keys.known;
    if (!known.empty()) known.resize(static_cast<std::size_t>(card::SectorCount(kind)));
    std::vector<card::SectorKeys> shown = known;
    ProgressDisplay display(program.console(), program.language());
    const auto progress = [&](const card::Progress &step) {
        NoteNewKeys(program, step.keys, shown);
        display.Show(step);
    };
    card::KeySearchResult result =
        card::SearchKeys(link, kind, keys.dictionary, progress, program.stop_token(), known, keys.hints);
    NoteNewKeys(program, result.keys, shown);
    return result;
}

}  // namespace zelkor::cli
