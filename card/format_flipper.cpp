// The NFC device text of the Flipper app: "Key: value" lines, "Block N:" with
// 16 bytes separated by blanks and "??" for an unknown byte. Files of Version
// 2 and earlier give the ATQA in the order the card sends it, Version 3 and
// later most significant byte first; the image keeps the card's order.
#include <charconv>
#include <map>

#include "card/dump_format_io.h"
#include "card/hex.h"

namespace zelkor::card::detail {

namespace {

struct Reader {
    std::string file;
    int line = 0;
    [[noreturn]] void Fail(FileProblem problem, FileProblemArgs args = {}) const { throw FileError(file, line, problem, std::move(args)); }
};

std::vector<std::uint8_t> SpacedBytes(const Reader &reader, std::string_view value, std::size_t size, FileValue what) {
    const auto bytes = ParseHex(value);
    if (!bytes || (size != 0 && bytes->size() != size) || bytes->empty())
        reader.Fail(FileProblem::BadValue, {.found = std::string(value), .value = what});
    return *bytes;
}

MaskedBlock BlockBytes(const Reader &reader, std::string_view value) {
    std::string compact;
    std::size_t tokens = 0;
    while (!(value = Trim(value)).empty()) {
        const auto end = value.find(' ');
        const std::string_view token = value.substr(0, end);
        if (token.size() != 2) reader.Fail(FileProblem::BadSpacedByte, {.found = std::string(token)});
        compact += token;
        ++tokens;
        value = end == std::string_view::npos ? std::string_view() : value.substr(end);
    }
    const auto block = tokens == 16 ? ParseMaskedBlock(compact, '?') : std::nullopt;
    if (!block) reader.Fail(FileProblem::BadSpacedBytes, {.expected = kBlockSize});
    return *block;
}

int BlockNumber(const Reader &reader, std::string_view key) {
    const std::string_view digits = Trim(key.substr(6));
    int block = -1;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), block);
    if (ec != std::errc() || end != digits.data() + digits.size() || block < 0) reader.Fail(FileProblem::BadBlockLabel, {.found = std::string(key)});
    return block;
}

std::string Spaced(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) out += (i == 0 ? "" : " ") + ToHex(bytes.subspan(i, 1));
    return out;
}

// The names of "Mifare Classic type".
constexpr std::pair<std::string_view, CardKind> kTypeNames[] = {
    {"MINI", CardKind::Mini}, {"1K", CardKind::Classic1K}, {"4K", CardKind::Classic4K}};

std::optional<CardKind> KindOfTypeName(std::string_view name) {
    for (const auto &[text, kind] : kTypeNames) {
        if (text == name) return kind;
    }
    return std::nullopt;
}

std::string_view TypeNameOf(CardKind kind) {
    for (const auto &[text, k] : kTypeNames) {
        if (k == kind) return text;
    }
    return "";
}

}  // namespace

namespace {

// The file's "Key: value" lines with their line numbers, and its blocks.
struct FlipperLines {
    std::map<std::string, std::pair<std::string, int>, std::less<>> fields;
    std::vector<std::pair<int, std::pair<MaskedBlock, int>>> blocks;

    const std::pair<std::string, int> *Field(std::string_view key) const {
        const auto it = fields.find(key);
        return it == fields.end() ? nullptr : &it->second;
    }
};

FlipperLines SplitFlipper(std::string_view text, Reader &reader) {
    FlipperLines out;
    for (std::string_view raw : SplitLines(text)) {
        ++reader.line;
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#') continue;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) reader.Fail(FileProblem::ExpectedKeyValue, {.found = std::string(line)});
        const std::string_view key = Trim(line.substr(0, colon));
        const std::string_view value = Trim(line.substr(colon + 1));
        if (key.starts_with("Block ")) {
            out.blocks.push_back({BlockNumber(reader, key), {BlockBytes(reader, value), reader.line}});
        } else {
            out.fields[std::string(key)] = {std::string(value), reader.line};
        }
    }
    return out;
}

// The header lines that make it a MIFARE Classic dump, and its size.
CardKind KindOfFlipper(const FlipperLines &lines, Reader &reader) {
    reader.line = 1;
    const auto *filetype = lines.Field("Filetype");
    if (filetype == nullptr || filetype->first != "Flipper NFC device")
        reader.Fail(FileProblem::NotFlipperFile);
    const auto *device = lines.Field("Device type");
    if (device == nullptr || device->first != "Mifare Classic") {
        reader.line = device != nullptr ? device->second : 1;
        reader.Fail(FileProblem::NotThisFamily,
                    {.found = device != nullptr ? device->first : std::string(), .kind_field = KindField::DeviceType});
    }
    const auto *type = lines.Field("Mifare Classic type");
    reader.line = type != nullptr ? type->second : 1;
    const std::optional<CardKind> kind = type != nullptr ? KindOfTypeName(type->first) : std::nullopt;
    if (!kind) {
        std::vector<std::string> names;
        for (const auto &[text, k] : kTypeNames) names.emplace_back(text);
        reader.Fail(FileProblem::BadClassicType, {.choices = names});
    }
    return *kind;
}

// Version 3 turned the ATQA round; a file without a version is taken as new.
bool AtqaInCardOrder(const FlipperLines &lines, Reader &reader) {
    constexpr int kFirstReversedVersion = 3;
    const auto *version = lines.Field("Version");
    if (version == nullptr) return false;
    reader.line = version->second;
    int number = 0;
    const std::string &text = version->first;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (ec != std::errc() || end != text.data() + text.size() || number < 1) reader.Fail(FileProblem::BadValue, {.found = text, .value = FileValue::Version});
    return number < kFirstReversedVersion;
}

void ReadIdentity(const FlipperLines &lines, Reader &reader, CardImage &image) {
    if (const auto *uid = lines.Field("UID")) {
        reader.line = uid->second;
        image.uid = SpacedBytes(reader, uid->first, 0, FileValue::Uid);
    }
    if (const auto *atqa = lines.Field("ATQA")) {
        reader.line = atqa->second;
        const auto bytes = SpacedBytes(reader, atqa->first, 2, FileValue::Atqa);
        const bool card_order = AtqaInCardOrder(lines, reader);
        image.atqa = card_order ? std::array<std::uint8_t, 2>{bytes[0], bytes[1]} : std::array<std::uint8_t, 2>{bytes[1], bytes[0]};
    }
    if (const auto *sak = lines.Field("SAK")) {
        reader.line = sak->second;
        image.sak = SpacedBytes(reader, sak->first, 1, FileValue::Sak)[0];
        if (image.sak == kMiniSak && image.kind != CardKind::Mini) {
            const auto *type = lines.Field("Mifare Classic type");
            reader.line = type->second;
            reader.Fail(FileProblem::SakSaysMini, {.name = type->first});
        }
    }
}

}  // namespace

CardImage ReadFlipper(std::string_view text, std::string_view file) {
    Reader reader{std::string(file)};
    const FlipperLines lines = SplitFlipper(text, reader);
    CardImage image = CardImage::Blank(KindOfFlipper(lines, reader));
    ReadIdentity(lines, reader, image);
    std::map<int, int> first_line;  // block -> line
    for (const auto &[block, entry] : lines.blocks) {
        reader.line = entry.second;
        if (block >= image.block_count())
            reader.Fail(FileProblem::BeyondCard, {.kind = std::string(KindName(image.kind)), .number = block});
        if (const auto [it, inserted] = first_line.emplace(block, entry.second); !inserted)
            reader.Fail(FileProblem::DuplicateBlock, {.number = block, .other_line = it->second});
        image.SetBlock(block, entry.first.data, entry.first.mask);
    }
    image.TakeKeysFromTrailers();
    return image;
}

std::string WriteFlipper(const CardImage &source, std::vector<FileWarning> &warnings) {
    const CardImage image = WithTrailerKeys(source);
    const bool four_k = image.kind == CardKind::Classic4K;
    std::vector<std::uint8_t> uid = image.uid;
    if (uid.empty() && image.BlockKnown(kManufacturerBlock)) {
        uid.assign(image.blocks[0].begin(), image.blocks[0].begin() + 4);
        Warn(warnings, FileWarningCode::UidFromManufacturerBlock);
    }
    std::array<std::uint8_t, 2> atqa = image.atqa.value_or(std::array<std::uint8_t, 2>{std::uint8_t(four_k ? 0x02 : 0x04), 0x00});
    if (!image.atqa) Warn(warnings, FileWarningCode::AtqaAssumed).kind = image.kind;
    const std::uint8_t usual_sak = image.kind == CardKind::Mini ? kMiniSak : four_k ? 0x18 : 0x08;
    const std::uint8_t sak = image.sak.value_or(usual_sak);
    if (!image.sak) Warn(warnings, FileWarningCode::SakAssumed).kind = image.kind;

    std::string out =
        "Filetype: Flipper NFC device\n"
        "Version: 4\n"
        "# Device type can be ISO14443-3A, ISO14443-3B, ISO14443-4A, NTAG/Ultralight, Mifare Classic, Mifare DESFire\n"
        "Device type: Mifare Classic\n"
        "# UID is common for all formats\n";
    out += "UID: " + Spaced(uid) + "\n";
    out += "# ISO14443-3A specific data\n";
    out += "ATQA: " + Spaced(std::array<std::uint8_t, 2>{atqa[1], atqa[0]}) + "\n";
    out += "SAK: " + Spaced(std::span<const std::uint8_t>(&sak, 1)) + "\n";
    out += "# Mifare Classic specific data\n";
    out += "Mifare Classic type: " + std::string(TypeNameOf(image.kind)) + "\n";
    out += "Data format version: 2\n";
    out += "# Mifare Classic blocks, '?" "?' means unknown data\n";
    for (int b = 0; b < image.block_count(); ++b) {
        const auto i = static_cast<std::size_t>(b);
        out += "Block " + std::to_string(b) + ": " + MaskedBlockText(image.blocks[i], image.known_mask[i], '?', " ") + "\n";
    }
    return out;
}

}  // namespace zelkor::card::detail
