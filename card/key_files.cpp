#include "card/key_files.h"

#include <algorithm>
#include <charconv>
#include <set>

#include <nlohmann/json.hpp>

#include "card/dump_format_io.h"
#include "card/dump_formats.h"
#include "card/hex.h"
#include "card/json_support.h"

namespace zelkor::card {

namespace {

constexpr Key kBuiltinKeys[] = {
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, {0xD3, 0xF7, 0xD3, 0xF7, 0xD3, 0xF7},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, {0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5}, {0x4D, 0x3A, 0x99, 0xC3, 0x51, 0xDD},
    {0x1A, 0x98, 0x2C, 0x7E, 0x45, 0x9A}, {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}, {0x71, 0x4C, 0x5C, 0x88, 0x6E, 0x97},
    {0x58, 0x7E, 0xE5, 0xF9, 0x35, 0x0F}, {0xA0, 0x47, 0x8C, 0xC3, 0x90, 0x91}, {0x53, 0x3C, 0xB6, 0xC7, 0x23, 0xF6},
    {0x8F, 0xD0, 0xA4, 0xF2, 0x56, 0xE9},
};

// The key text of a dictionary line: up to a comment, without blanks.
std::string_view KeyText(std::string_view line) {
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    return detail::Trim(line);
}

}  // namespace

std::span<const Key> BuiltinKeys() { return kBuiltinKeys; }

std::vector<Key> ParseKeyDictionary(std::string_view text, std::string_view file_name) {
    std::vector<Key> keys;
    int line_number = 0;
    for (std::string_view line : detail::SplitLines(text)) {
        ++line_number;
        const std::string_view key_text = KeyText(line);
        if (key_text.empty()) continue;
        const auto key = ParseKey(key_text);
        if (!key)
            throw FileError(std::string(file_name), line_number, FileProblem::BadKey, {.found = std::string(key_text)});
        keys.push_back(*key);
    }
    return keys;
}

std::vector<Key> LoadKeyDictionary(const std::string &path) { return ParseKeyDictionary(ReadWholeFile(path), path); }

std::vector<Key> UniqueKeys(std::span<const Key> keys) {
    std::vector<Key> out;
    std::set<Key> seen;
    for (const Key &key : keys) {
        if (seen.insert(key).second) out.push_back(key);
    }
    return out;
}

std::vector<Key> KeysOfMap(std::span<const SectorKeys> keys) {
    std::vector<Key> all;
    for (const SectorKeys &k : keys) {
        if (k.a) all.push_back(*k.a);
        if (k.b) all.push_back(*k.b);
    }
    return UniqueKeys(all);
}

std::vector<SectorKeys> ParseKeyMap(std::string_view json_text, std::string_view file_name) {
    const detail::JsonReader reader(file_name);
    const auto root = reader.Parse(json_text);
    reader.Object(root, "/");
    if (!root.contains("SectorKeys")) reader.Fail("/SectorKeys", FileProblem::NotKeyFile);
    const auto &all = reader.Object(root.at("SectorKeys"), "/SectorKeys");
    std::vector<SectorKeys> keys;
    for (const auto &[name, entry] : all.items()) {
        const std::string path = "/SectorKeys/" + name;
        int sector = -1;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), sector);
        if (ec != std::errc() || end != name.data() + name.size() || sector < 0 || sector >= SectorCount(CardKind::Classic4K))
            reader.Fail(path, FileProblem::NumberOutOfRange, {.expected = SectorCount(CardKind::Classic4K) - 1, .unit = FileUnit::Sectors});
        reader.Object(entry, path);
        if (static_cast<int>(keys.size()) <= sector) keys.resize(static_cast<std::size_t>(sector) + 1);
        keys[static_cast<std::size_t>(sector)].a = reader.OptionalKey(entry, "KeyA", path);
        keys[static_cast<std::size_t>(sector)].b = reader.OptionalKey(entry, "KeyB", path);
    }
    return keys;
}

std::vector<SectorKeys> LoadKeyMap(const std::string &path) { return ParseKeyMap(ReadWholeFile(path), path); }

std::string WriteKeyMap(std::span<const SectorKeys> keys) {
    nlohmann::ordered_json all = nlohmann::ordered_json::object();
    for (std::size_t sector = 0; sector < keys.size(); ++sector) {
        nlohmann::ordered_json entry = nlohmann::ordered_json::object();
        if (keys[sector].a) entry["KeyA"] = KeyToHex(*keys[sector].a);
        if (keys[sector].b) entry["KeyB"] = KeyToHex(*keys[sector].b);
        all[std::to_string(sector)] = entry;
    }
    nlohmann::ordered_json root;
    root["Created"] = "zelkor";
    root["SectorKeys"] = all;
    return root.dump(2) + "\n";
}

void SaveKeyMap(const std::string &path, std::span<const SectorKeys> keys) { WriteWholeFile(path, WriteKeyMap(keys)); }

std::vector<SectorKeys> ParseKeyBinary(std::string_view bytes, std::string_view file_name) {
    constexpr std::size_t kKeysPerSector = 2;
    const std::size_t sectors = bytes.size() / (kKeysPerSector * Key{}.size());
    std::optional<CardKind> kind;
    for (const CardKind k : {CardKind::Mini, CardKind::Classic1K, CardKind::Classic4K}) {
        if (bytes.size() == static_cast<std::size_t>(SectorCount(k)) * kKeysPerSector * Key{}.size()) kind = k;
    }
    if (!kind) {
        const bool dump = bytes.size() % kBlockSize == 0 && KindOfBlockCount(static_cast<int>(bytes.size() / kBlockSize));
        throw FileError(std::string(file_name), FileProblem::KeyFileSize, {.actual = static_cast<std::int64_t>(bytes.size()), .flag = dump});
    }
    std::vector<SectorKeys> keys(sectors);
    const auto key_at = [&](std::size_t index) {
        Key key{};
        for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(bytes[index * key.size() + i]);
        return key;
    };
    for (std::size_t sector = 0; sector < sectors; ++sector) {
        keys[sector].a = key_at(sector);
        keys[sector].b = key_at(sectors + sector);
    }
    return keys;
}

std::vector<SectorKeys> LoadKeyBinary(const std::string &path) { return ParseKeyBinary(ReadWholeFile(path), path); }

std::string WriteKeyBinary(std::span<const SectorKeys> keys) {
    std::string out;
    for (const KeyType type : {KeyType::A, KeyType::B}) {
        for (const SectorKeys &sector : keys) {
            const Key key = sector.Of(type).value_or(Key{});
            out.append(reinterpret_cast<const char *>(key.data()), key.size());
        }
    }
    return out;
}

}  // namespace zelkor::card
