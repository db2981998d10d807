// JSON dumps: {"Created", "FileType", "Card": {UID, ATQA, SAK}, "blocks",
// "SectorKeys"}. Reading takes the file types mfcard, "mfc v2" and "mfc v3".
#include <algorithm>
#include <charconv>
#include <map>

#include <nlohmann/json.hpp>

#include "card/dump_format_io.h"
#include "card/hex.h"
#include "card/json_support.h"

namespace zelkor::card::detail {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view kFileTypes[] = {"mfcard", "mfc v2", "mfc v3"};

std::optional<std::vector<std::uint8_t>> HexField(const JsonReader &reader, const Json &object, const char *name,
                                                  const std::string &path, std::size_t size) {
    if (!object.contains(name)) return std::nullopt;
    const std::string text = reader.String(object.at(name), path + "/" + name);
    const auto bytes = ParseHex(text);
    if (!bytes || (size != 0 && bytes->size() != size))
        reader.Fail(path + "/" + name, FileProblem::BadHex, {.expected = static_cast<std::int64_t>(size * 2)});
    return bytes;
}

void ReadCardSection(const JsonReader &reader, const Json &root, CardImage &image) {
    if (!root.contains("Card")) return;
    const Json &card = reader.Object(root.at("Card"), "/Card");
    if (auto uid = HexField(reader, card, "UID", "/Card", 0)) image.uid = *uid;
    if (auto atqa = HexField(reader, card, "ATQA", "/Card", 2)) image.atqa = std::array<std::uint8_t, 2>{(*atqa)[0], (*atqa)[1]};
    if (auto sak = HexField(reader, card, "SAK", "/Card", 1)) image.sak = (*sak)[0];
}

int BlockIndex(const JsonReader &reader, const std::string &name, const std::string &path) {
    int block = -1;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), block);
    if (ec != std::errc() || end != name.data() + name.size() || block < 0 || block >= BlockCount(CardKind::Classic4K))
        reader.Fail(path, FileProblem::NumberOutOfRange, {.expected = BlockCount(CardKind::Classic4K) - 1});
    return block;
}

// The key bytes of a sector's trailer, when all six are known.
std::optional<Key> TrailerKey(const CardImage &image, int sector, KeyType type) {
    const auto trailer = static_cast<std::size_t>(TrailerBlock(sector));
    const ByteMask mask = type == KeyType::A ? kKeyAMask : kKeyBMask;
    if ((image.known_mask[trailer] & mask) != mask) return std::nullopt;
    Key key{};
    std::copy_n(image.blocks[trailer].begin() + (type == KeyType::A ? 0 : 10), key.size(), key.begin());
    return key;
}

void ReadSectorKeys(const JsonReader &reader, const Json &root, CardImage &image) {
    if (!root.contains("SectorKeys")) return;
    const Json &all = reader.Object(root.at("SectorKeys"), "/SectorKeys");
    for (const auto &[name, entry] : all.items()) {
        const std::string path = "/SectorKeys/" + name;
        int sector = -1;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), sector);
        if (ec != std::errc() || end != name.data() + name.size() || sector < 0 || sector >= image.sector_count())
            reader.Fail(path, FileProblem::NumberOutOfRange, {.expected = image.sector_count() - 1, .unit = FileUnit::Sectors});
        reader.Object(entry, path);
        SectorKeys &keys = image.keys[static_cast<std::size_t>(sector)];
        for (const KeyType type : {KeyType::A, KeyType::B}) {
            const std::string field = std::string("Key") + KeyLetter(type);
            const auto key = reader.OptionalKey(entry, field, path);
            if (!key) continue;
            if (const auto in_trailer = TrailerKey(image, sector, type); in_trailer && *in_trailer != *key) {
                reader.Fail(path + "/" + field, FileProblem::ConflictingKey,
                            {.found = KeyToHex(*key), .other_place = "/blocks/" + std::to_string(TrailerBlock(sector)),
                             .other_value = KeyToHex(*in_trailer), .key_type = type});
            }
            keys.Of(type) = key;
        }
        if (auto access = HexField(reader, entry, "AccessConditions", path, 4)) {
            const int trailer = TrailerBlock(sector);
            if (!image.AccessBytes(sector)) {
                Block t = image.blocks[static_cast<std::size_t>(trailer)];
                std::copy(access->begin(), access->end(), t.begin() + 6);
                image.SetBlock(trailer, t, static_cast<ByteMask>(image.known_mask[static_cast<std::size_t>(trailer)] | kAccessMask));
            }
        }
    }
}

// The file states no card size: SAK 09 or exactly blocks 0 to 19 make a
// Mini, a block past 63 a 4K.
CardKind KindOfJson(const JsonReader &reader, const CardImage &identity, const std::vector<std::pair<int, MaskedBlock>> &blocks,
                    int highest) {
    const int mini_blocks = BlockCount(CardKind::Mini);
    if (identity.sak == kMiniSak) {
        if (highest >= mini_blocks)
            reader.Fail("/blocks/" + std::to_string(highest), FileProblem::BeyondMini, {.number = highest});
        return CardKind::Mini;
    }
    if (!identity.sak && highest == mini_blocks - 1 && static_cast<int>(blocks.size()) == mini_blocks) return CardKind::Mini;
    return highest >= BlockCount(CardKind::Classic1K) ? CardKind::Classic4K : CardKind::Classic1K;
}

}  // namespace

CardImage ReadJson(std::string_view text, std::string_view file) {
    const JsonReader reader(file);
    const Json root = reader.Parse(text);
    reader.Object(root, "/");
    if (root.contains("FileType")) {
        const std::string type = reader.String(root.at("FileType"), "/FileType");
        if (std::find(std::begin(kFileTypes), std::end(kFileTypes), type) == std::end(kFileTypes))
            reader.Fail("/FileType", FileProblem::NotThisFamily,
                        {.found = type, .choices = {std::begin(kFileTypes), std::end(kFileTypes)}});
    }
    if (!root.contains("blocks")) reader.Fail("/blocks", FileProblem::MissingBlocks);
    const Json &blocks = reader.Object(root.at("blocks"), "/blocks");
    CardImage identity;
    ReadCardSection(reader, root, identity);
    std::vector<std::pair<int, MaskedBlock>> parsed;
    std::map<int, std::string> seen;  // block -> its name in the file
    int highest = 0;
    for (const auto &[name, value] : blocks.items()) {
        const std::string path = "/blocks/" + name;
        const int block = BlockIndex(reader, name, path);
        if (const auto [it, inserted] = seen.emplace(block, name); !inserted)
            reader.Fail(path, FileProblem::DuplicateBlock, {.other_place = "/blocks/" + it->second, .number = block});
        const auto masked = ParseMaskedBlock(reader.String(value, path), '-');
        if (!masked) reader.Fail(path, FileProblem::BadHex, {.expected = 32, .flag = true});
        parsed.emplace_back(block, *masked);
        highest = std::max(highest, block);
    }
    CardImage image = CardImage::Blank(KindOfJson(reader, identity, parsed, highest));
    for (const auto &[block, masked] : parsed) image.SetBlock(block, masked.data, masked.mask);
    image.TakeKeysFromTrailers();
    image.uid = identity.uid;
    image.atqa = identity.atqa;
    image.sak = identity.sak;
    ReadSectorKeys(reader, root, image);
    if (root.contains("Partial")) image.partial = reader.Bool(root.at("Partial"), "/Partial");
    return image;
}

std::string WriteJson(const CardImage &source, std::vector<FileWarning> &) {
    const CardImage image = WithTrailerKeys(source);
    Json root;
    root["Created"] = "zelkor";
    root["FileType"] = "mfcard";
    root["Card"] = CardIdentityJson(image.uid, image.atqa, image.sak);
    if (image.partial) root["Partial"] = true;
    Json blocks = Json::object();
    for (int b = 0; b < image.block_count(); ++b) {
        const auto i = static_cast<std::size_t>(b);
        blocks[std::to_string(b)] = MaskedBlockText(image.blocks[i], image.known_mask[i], '-');
    }
    root["blocks"] = blocks;
    Json keys = Json::object();
    for (int sector = 0; sector < image.sector_count(); ++sector) {
        Json entry = Json::object();
        const SectorKeys &k = image.keys[static_cast<std::size_t>(sector)];
        if (k.a) entry["KeyA"] = KeyToHex(*k.a);
        if (k.b) entry["KeyB"] = KeyToHex(*k.b);
        if (const auto access = image.AccessBytes(sector)) entry["AccessConditions"] = ToHex(*access);
        keys[std::to_string(sector)] = entry;
    }
    root["SectorKeys"] = keys;
    return root.dump(2) + "\n";
}

}  // namespace zelkor::card::detail
