#include "key_sources.h"

#include <algorithm>
#include <cctype>
#include <functional>

#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/key_files.h"
#include "progress_display.h"

namespace zelkor::cli {
namespace {

bool IsKeyMapFile(const std::string &path) {
    return path.size() >= 5 && std::equal(path.end() - 5, path.end(), ".json", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

// Passes every call on to the real link and reports each key that opened a
// sector, so the sector map can grow while the search runs.
class ObservedLink final : public card::CardLink {
public:
    using KeyFound = std::function<void(int sector, card::KeyType type, const card::Key &key)>;
    ObservedLink(card::CardLink &link, KeyFound on_found) : link_(link), on_found_(std::move(on_found)) {}

    std::optional<card::CardIdentity> Identify() override { return link_.Identify(); }
    bool Reselect() override { return link_.Reselect(); }
    bool Authenticate(int sector, card::KeyType type, const card::Key &key) override {
        const bool opened = link_.Authenticate(sector, type, key);
        if (opened) on_found_(sector, type, key);
        return opened;
    }
    std::optional<card::Block> ReadBlock(int block) override { return link_.ReadBlock(block); }
    bool WriteBlock(int block, const card::Block &data) override { return link_.WriteBlock(block, data); }
    bool WriteTrailer(int sector, const card::Block &trailer, card::KeyType type, const card::Key &key) override {
        return link_.WriteTrailer(sector, trailer, type, key);
    }
    bool InitValue(int block, std::int32_t value) override { return link_.InitValue(block, value); }
    std::optional<std::int32_t> ReadValue(int block) override { return link_.ReadValue(block); }
    bool ChangeValue(int block, bool increment, std::int32_t amount) override {
        return link_.ChangeValue(block, increment, amount);
    }
    std::optional<std::vector<std::uint8_t>> ActivateCos() override { return link_.ActivateCos(); }
    std::optional<std::vector<std::uint8_t>> SendApdu(std::span<const std::uint8_t> apdu) override {
        return link_.SendApdu(apdu);
    }
    bool DeactivateCos() override { return link_.DeactivateCos(); }

private:
    card::CardLink &link_;
    KeyFound on_found_;
};

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
                        "(.json, as `zelkor keys` writes it); repeatable")
        ->allow_extra_args(false)
        ->type_name("FILE");
    command->add_flag("--no-builtin", options.no_builtin, "Leave out the built-in list of well-known keys");
}

LoadedKeys LoadKeySources(const KeySourceOptions &options, bool maps_as_known, const std::vector<card::Key> &extra) {
    LoadedKeys loaded;
    std::vector<card::Key> candidates = extra;
    for (const auto &file : options.files) {
        if (IsKeyMapFile(file)) {
            const auto map = card::LoadKeyMap(file);
            if (maps_as_known) {
                MergeKnown(loaded.known, map);
            }
            const auto keys = card::KeysOfMap(map);
            candidates.insert(candidates.end(), keys.begin(), keys.end());
        } else {
            const auto keys = card::LoadKeyDictionary(file);
            candidates.insert(candidates.end(), keys.begin(), keys.end());
        }
    }
    if (!options.no_builtin) {
        const auto builtin = card::BuiltinKeys();
        candidates.insert(candidates.end(), builtin.begin(), builtin.end());
    }
    loaded.dictionary = card::UniqueKeys(candidates);
    if (loaded.dictionary.empty() && loaded.known.empty()) {
        throw UsageError("no keys to try: give a key file with -k or leave out --no-builtin");
    }
    return loaded;
}

card::KeySearchResult RunKeySearch(Program &program, card::CardLink &link, card::CardKind kind,
                                   const LoadedKeys &keys) {
    std::vector<card::SectorKeys> found(static_cast<std::size_t>(card::SectorCount(kind)));
    ObservedLink observed(link, [&](int sector, card::KeyType type, const card::Key &key) {
        auto &slot = found[static_cast<std::size_t>(sector)].Of(type);
        if (slot == key) return;
        slot = key;
        program.Note("sector " + std::to_string(sector) + ": key " + card::KeyLetter(type) + " " +
                     card::KeyToHex(key));
    });
    ProgressDisplay display(program.console());
    std::vector<card::SectorKeys> known = keys.known;
    if (!known.empty()) known.resize(found.size());
    return card::SearchKeys(observed, kind, keys.dictionary, display.Callback(), program.stop_token(), known);
}

}  // namespace zelkor::cli
