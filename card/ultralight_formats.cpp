#include "card/ultralight_formats.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <tuple>

#include <nlohmann/json.hpp>

#include "card/dump_format_io.h"
#include "card/hex.h"
#include "card/json_support.h"

namespace zelkor::card {

namespace {

using Json = nlohmann::ordered_json;

// The Flipper's names of the kinds, as its files write them.
constexpr std::pair<std::string_view, UltraLightKind> kFlipperTypes[] = {
    {"Mifare Ultralight", UltraLightKind::UltraLight}, {"Mifare Ultralight 11", UltraLightKind::Ev1Small},
    {"Mifare Ultralight 21", UltraLightKind::Ev1Large}, {"NTAG213", UltraLightKind::Ntag213},
    {"NTAG215", UltraLightKind::Ntag215},               {"NTAG216", UltraLightKind::Ntag216}};
constexpr std::string_view kFlipperFamily = "NTAG/Ultralight";

std::vector<std::string> PageCounts() {
    std::vector<std::string> counts;
    for (const UltraLightKind kind : kUltraLightKinds) counts.push_back(std::to_string(PageCount(kind)));
    return counts;
}

FileProblemArgs PageBeyondCard(const UltraLightImage &image, int page) {
    return {.kind = std::string(UltraLightKindName(image.kind)), .number = page, .expected = image.page_count(), .unit = FileUnit::Pages};
}

std::optional<UltraLightKind> KindOfFlipperType(std::string_view name) {
    for (const auto &[text, kind] : kFlipperTypes) {
        if (text == name) return kind;
    }
    return std::nullopt;
}

std::string_view FlipperTypeOf(UltraLightKind kind) {
    for (const auto &[text, k] : kFlipperTypes) {
        if (k == kind) return text;
    }
    return "";
}

std::optional<UltraLightKind> KindOfName(std::string_view name) {
    for (const UltraLightKind kind : kUltraLightKinds) {
        if (UltraLightKindName(kind) == name) return kind;
    }
    return std::nullopt;
}

// 8 characters, two per byte: hex digits or `unknown` twice.
std::optional<std::pair<Page, PageMask>> ParseMaskedPage(std::string_view text, char unknown) {
    if (text.size() != 2 * kPageSize) return std::nullopt;
    Page page{};
    PageMask mask = 0;
    for (std::size_t i = 0; i < page.size(); ++i) {
        const std::string_view pair = text.substr(2 * i, 2);
        if (pair[0] == unknown && pair[1] == unknown) continue;
        const auto byte = ParseHex(pair);
        if (!byte || byte->size() != 1) return std::nullopt;
        page[i] = (*byte)[0];
        mask = static_cast<PageMask>(mask | 1u << i);
    }
    return std::pair{page, mask};
}

std::string MaskedPageText(const Page &page, PageMask mask, char unknown, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (i != 0) out += separator;
        if ((mask >> i & 1u) != 0) {
            out += ToHex(std::span<const std::uint8_t>(&page[i], 1));
        } else {
            out += std::string(2, unknown);
        }
    }
    return out;
}

std::string Spaced(std::span<const std::uint8_t> bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) out += (i == 0 ? "" : " ") + ToHex(bytes.subspan(i, 1));
    return out;
}

void TakeUidFromPages(UltraLightImage &image) {
    if (image.uid.empty()) {
        if (auto uid = image.UidOfPages()) image.uid = *uid;
    }
}

// ---- Flipper ---------------------------------------------------------------

struct FlipperField {
    std::string value;
    int line = 0;
};

struct FlipperFile {
    std::string file;
    std::map<std::string, FlipperField, std::less<>> fields;
    struct PageLine {
        int page;
        std::string value;
        int line;
    };
    std::vector<PageLine> pages;

    [[noreturn]] void Fail(int line, FileProblem problem, FileProblemArgs args = {}) const {
        throw FileError(file, line, problem, std::move(args));
    }
    const FlipperField *Field(std::string_view key) const {
        const auto it = fields.find(key);
        return it == fields.end() ? nullptr : &it->second;
    }
    int Number(const FlipperField &field, FileValue what) const {
        int value = -1;
        const auto [end, ec] = std::from_chars(field.value.data(), field.value.data() + field.value.size(), value);
        if (ec != std::errc() || end != field.value.data() + field.value.size() || value < 0)
            Fail(field.line, FileProblem::BadValue, {.found = field.value, .value = what});
        return value;
    }
};

FlipperFile SplitFlipper(std::string_view text, std::string_view file_name) {
    FlipperFile file{std::string(file_name), {}, {}};
    int line_number = 0;
    for (const std::string_view raw : detail::SplitLines(text)) {
        ++line_number;
        const std::string_view line = detail::Trim(raw);
        if (line.empty() || line.front() == '#') continue;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) file.Fail(line_number, FileProblem::ExpectedKeyValue, {.found = std::string(line)});
        const std::string key(detail::Trim(line.substr(0, colon)));
        const std::string value(detail::Trim(line.substr(colon + 1)));
        if (key.starts_with("Page ")) {
            FlipperField number{key.substr(5), line_number};
            file.pages.push_back({file.Number(number, FileValue::PageNumber), value, line_number});
        } else {
            file.fields[key] = {value, line_number};
        }
    }
    return file;
}

UltraLightKind FlipperKind(const FlipperFile &file) {
    const FlipperField *device = file.Field("Device type");
    if (device == nullptr) file.Fail(1, FileProblem::MissingField, {.name = "Device type"});
    if (device->value != kFlipperFamily) {
        if (const auto kind = KindOfFlipperType(device->value)) return *kind;
        file.Fail(device->line, FileProblem::NotThisFamily,
                  {.found = device->value, .family = CardFamily::UltraLight, .kind_field = KindField::DeviceType});
    }
    const FlipperField *type = file.Field("NTAG/Ultralight type");
    if (type == nullptr) file.Fail(device->line, FileProblem::MissingField, {.name = "NTAG/Ultralight type"});
    const auto kind = KindOfFlipperType(type->value);
    if (!kind)
        file.Fail(type->line, FileProblem::NotThisFamily,
                  {.found = type->value, .family = CardFamily::UltraLight, .kind_field = KindField::UltraLightType});
    return *kind;
}

Page FlipperPageBytes(const FlipperFile &file, const FlipperFile::PageLine &line, PageMask &mask) {
    std::string compact;
    std::size_t tokens = 0;
    std::string_view value = line.value;
    while (!(value = detail::Trim(value)).empty()) {
        const auto end = value.find(' ');
        compact += value.substr(0, end);
        ++tokens;
        value = end == std::string_view::npos ? std::string_view() : value.substr(end);
    }
    const auto page = tokens == kPageSize ? ParseMaskedPage(compact, '?') : std::nullopt;
    if (!page) file.Fail(line.line, FileProblem::BadSpacedBytes, {.found = line.value, .expected = kPageSize, .unit = FileUnit::Pages});
    mask = page->second;
    return page->first;
}

void ReadFlipperIdentity(const FlipperFile &file, UltraLightImage &image) {
    auto bytes = [&](const FlipperField &field, std::size_t size, FileValue what) {
        const auto parsed = ParseHex(field.value);
        if (!parsed || parsed->empty() || (size != 0 && parsed->size() != size))
            file.Fail(field.line, FileProblem::BadValue, {.found = field.value, .value = what});
        return *parsed;
    };
    if (const auto *uid = file.Field("UID"); uid != nullptr && !uid->value.empty()) image.uid = bytes(*uid, 0, FileValue::Uid);
    const FlipperField *version = file.Field("Version");
    const bool card_order = version != nullptr && file.Number(*version, FileValue::Version) < 3;
    if (const auto *atqa = file.Field("ATQA")) {
        const auto b = bytes(*atqa, 2, FileValue::Atqa);
        image.atqa = card_order ? std::array<std::uint8_t, 2>{b[0], b[1]} : std::array<std::uint8_t, 2>{b[1], b[0]};
    }
    if (const auto *sak = file.Field("SAK")) image.sak = bytes(*sak, 1, FileValue::Sak)[0];
}

UltraLightImage ReadFlipper(std::string_view text, std::string_view file_name) {
    const FlipperFile file = SplitFlipper(text, file_name);
    const FlipperField *filetype = file.Field("Filetype");
    if (filetype == nullptr || filetype->value != "Flipper NFC device")
        file.Fail(1, FileProblem::NotFlipperFile);
    UltraLightImage image = UltraLightImage::Blank(FlipperKind(file));
    if (const auto *total = file.Field("Pages total")) {
        const int pages = file.Number(*total, FileValue::PageCount);
        if (!UltraLightKindOfPageCount(pages))
            file.Fail(total->line, FileProblem::PageCountFitsNoCard, {.choices = PageCounts(), .actual = pages});
        if (pages != image.page_count())
            file.Fail(total->line, FileProblem::PageCountDiffers,
                      {.kind = std::string(UltraLightKindName(image.kind)), .actual = pages, .expected = image.page_count()});
    }
    int pages_read = image.page_count();
    if (const auto *read = file.Field("Pages read")) {
        pages_read = file.Number(*read, FileValue::PageCount);
        if (pages_read > image.page_count()) file.Fail(read->line, FileProblem::MorePagesRead);
    }
    ReadFlipperIdentity(file, image);
    for (const auto &line : file.pages) {
        if (line.page >= image.page_count())
            file.Fail(line.line, FileProblem::BeyondCard, PageBeyondCard(image, line.page));
        PageMask mask = 0;
        const Page page = FlipperPageBytes(file, line, mask);
        if (line.page < pages_read) image.SetPage(line.page, page, mask);
    }
    image.partial = pages_read < image.page_count();
    TakeUidFromPages(image);
    return image;
}

std::string WriteFlipper(const UltraLightImage &image, std::vector<UltraLightFileNote> &notes) {
    int pages_read = 0;
    while (pages_read < image.page_count() && image.PageKnown(pages_read)) ++pages_read;
    std::vector<int> dropped;
    for (int page = pages_read; page < image.page_count(); ++page) {
        if (image.known_mask[static_cast<std::size_t>(page)] != 0) dropped.push_back(page);
    }
    if (!dropped.empty()) notes.push_back({UltraLightFileWarning::KnownPagesAfterUnreadDropped, dropped});
    if (!image.atqa || !image.sak) notes.push_back({UltraLightFileWarning::IdentityAssumed, {}});
    const auto atqa = image.atqa.value_or(std::array<std::uint8_t, 2>{0x44, 0x00});
    const std::uint8_t sak = image.sak.value_or(0x00);
    std::string out =
        "Filetype: Flipper NFC device\n"
        "Version: 4\n"
        "# Device type can be ISO14443-3A, ISO14443-3B, ISO14443-4A, NTAG/Ultralight, Mifare Classic, Mifare DESFire\n"
        "Device type: NTAG/Ultralight\n"
        "# UID is common for all formats\n";
    out += "UID: " + Spaced(image.uid) + "\n";
    out += "# ISO14443-3A specific data\n";
    out += "ATQA: " + Spaced(std::array<std::uint8_t, 2>{atqa[1], atqa[0]}) + "\n";
    out += "SAK: " + Spaced(std::span<const std::uint8_t>(&sak, 1)) + "\n";
    out += "# NTAG/Ultralight specific data\n";
    out += "Data format version: 2\n";
    out += "NTAG/Ultralight type: " + std::string(FlipperTypeOf(image.kind)) + "\n";
    // Signature, version and counters are not read through this reader.
    out += "Signature: " + Spaced(std::vector<std::uint8_t>(32, 0)) + "\n";
    out += "Mifare version: " + Spaced(std::vector<std::uint8_t>(8, 0)) + "\n";
    for (int counter = 0; counter < 3; ++counter) {
        out += "Counter " + std::to_string(counter) + ": 0\n";
        out += "Tearing " + std::to_string(counter) + ": 00\n";
    }
    out += "Pages total: " + std::to_string(image.page_count()) + "\n";
    out += "Pages read: " + std::to_string(pages_read) + "\n";
    for (int page = 0; page < image.page_count(); ++page) {
        const auto i = static_cast<std::size_t>(page);
        const Page data = page < pages_read ? image.pages[i] : Page{};
        out += "Page " + std::to_string(page) + ": " + MaskedPageText(data, kPageKnown, '?', " ") + "\n";
    }
    out += "Failed authentication attempts: 0\n";
    return out;
}

// ---- JSON ------------------------------------------------------------------

std::optional<std::vector<std::uint8_t>> HexField(const detail::JsonReader &reader, const Json &object, const char *name,
                                                  const std::string &path, std::size_t size) {
    if (!object.contains(name)) return std::nullopt;
    const std::string where = path + "/" + name;
    const auto bytes = ParseHex(reader.String(object.at(name), where));
    if (!bytes || bytes->empty() || (size != 0 && bytes->size() != size))
        reader.Fail(where, FileProblem::BadHex, {.expected = static_cast<std::int64_t>(size * 2)});
    return bytes;
}

UltraLightImage ReadJson(std::string_view text, std::string_view file_name) {
    const detail::JsonReader reader(file_name);
    const Json root = reader.Parse(text);
    reader.Object(root, "/");
    if (!root.contains("FileType") || reader.String(root.at("FileType"), "/FileType") != "mfu")
        reader.Fail("/FileType", FileProblem::NotThisFamily, {.choices = {"mfu"}, .family = CardFamily::UltraLight});
    if (!root.contains("blocks")) reader.Fail("/blocks", FileProblem::MissingBlocks, {.unit = FileUnit::Pages});
    const Json &blocks = reader.Object(root.at("blocks"), "/blocks");
    std::vector<std::tuple<int, std::pair<Page, PageMask>, std::string>> parsed;
    int highest = -1;
    for (const auto &[name, value] : blocks.items()) {
        const std::string path = "/blocks/" + name;
        int page = -1;
        const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), page);
        if (ec != std::errc() || end != name.data() + name.size() || page < 0 || page >= kMaxUltraLightPages)
            reader.Fail(path, FileProblem::NumberOutOfRange, {.expected = kMaxUltraLightPages - 1, .unit = FileUnit::Pages});
        const auto masked = ParseMaskedPage(reader.String(value, path), '-');
        if (!masked) reader.Fail(path, FileProblem::BadHex, {.expected = 2 * kPageSize, .flag = true});
        parsed.emplace_back(page, *masked, path);
        highest = std::max(highest, page);
    }
    std::optional<UltraLightKind> kind;
    if (root.contains("Kind")) {
        const std::string name = reader.String(root.at("Kind"), "/Kind");
        kind = KindOfName(name);
        if (!kind)
            reader.Fail("/Kind", FileProblem::NotThisFamily, {.found = name, .family = CardFamily::UltraLight, .kind_field = KindField::Kind});
    } else {
        kind = UltraLightKindOfPageCount(highest + 1);
        if (!kind) reader.Fail("/blocks", FileProblem::PageCountFitsNoCard, {.choices = PageCounts(), .actual = highest + 1});
    }
    UltraLightImage image = UltraLightImage::Blank(*kind);
    for (const auto &[page, masked, path] : parsed) {
        if (page >= image.page_count())
            reader.Fail(path, FileProblem::BeyondCard, PageBeyondCard(image, page));
        image.SetPage(page, masked.first, masked.second);
    }
    if (root.contains("Card")) {
        const Json &card = reader.Object(root.at("Card"), "/Card");
        if (auto uid = HexField(reader, card, "UID", "/Card", 0)) image.uid = *uid;
        if (auto atqa = HexField(reader, card, "ATQA", "/Card", 2)) image.atqa = std::array<std::uint8_t, 2>{(*atqa)[0], (*atqa)[1]};
        if (auto sak = HexField(reader, card, "SAK", "/Card", 1)) image.sak = (*sak)[0];
    }
    if (root.contains("Partial")) image.partial = reader.Bool(root.at("Partial"), "/Partial");
    TakeUidFromPages(image);
    return image;
}

std::string WriteJson(const UltraLightImage &image) {
    Json root;
    root["Created"] = "zelkor";
    root["FileType"] = "mfu";
    root["Kind"] = std::string(UltraLightKindName(image.kind));
    root["Card"] = detail::CardIdentityJson(image.uid, image.atqa, image.sak);
    if (image.partial) root["Partial"] = true;
    Json blocks = Json::object();
    for (int page = 0; page < image.page_count(); ++page) {
        const auto i = static_cast<std::size_t>(page);
        blocks[std::to_string(page)] = MaskedPageText(image.pages[i], image.known_mask[i], '-', "");
    }
    root["blocks"] = blocks;
    return root.dump(2) + "\n";
}

// ---- raw pages -------------------------------------------------------------

constexpr std::size_t kMiniDumpSize = 320;  // a MIFARE Mini's raw dump

UltraLightImage ReadBin(std::string_view bytes, std::string_view file_name) {
    const auto kind = bytes.size() % kPageSize == 0 ? UltraLightKindOfPageCount(static_cast<int>(bytes.size() / kPageSize))
                                                    : std::nullopt;
    if (!kind)
        throw FileError(std::string(file_name), FileProblem::UltraLightDumpSize,
                        {.choices = PageCounts(), .actual = static_cast<std::int64_t>(bytes.size())});
    UltraLightImage image = UltraLightImage::Blank(*kind);
    for (int page = 0; page < image.page_count(); ++page) {
        Page data{};
        for (std::size_t b = 0; b < data.size(); ++b) data[b] = static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(page) * kPageSize + b]);
        image.SetPage(page, data);
    }
    TakeUidFromPages(image);
    return image;
}

std::string WriteBin(const UltraLightImage &image, std::vector<UltraLightFileNote> &notes) {
    std::string out;
    std::vector<int> unknown;
    for (int page = 0; page < image.page_count(); ++page) {
        if (!image.PageKnown(page)) unknown.push_back(page);
        for (const std::uint8_t byte : image.pages[static_cast<std::size_t>(page)]) out += static_cast<char>(byte);
    }
    if (!unknown.empty()) notes.push_back({UltraLightFileWarning::UnknownBytesWrittenAsZeros, unknown});
    return out;
}

bool FlipperNamesUltraLight(std::string_view text) {
    for (const std::string_view raw : detail::SplitLines(text)) {
        const std::string_view line = detail::Trim(raw);
        if (!line.starts_with("Device type")) continue;
        const auto colon = line.find(':');
        if (colon == std::string_view::npos) return false;
        const std::string_view value = detail::Trim(line.substr(colon + 1));
        return value == kFlipperFamily || value.starts_with("NTAG") || value.starts_with("Mifare Ultralight");
    }
    return false;
}

}  // namespace

bool IsUltraLightDump(std::string_view bytes, DumpFormat format) {
    switch (format) {
    case DumpFormat::Flipper: return FlipperNamesUltraLight(bytes);
    case DumpFormat::Json: {
        try {
            const Json root = Json::parse(bytes.begin(), bytes.end(), nullptr, false);
            return root.is_object() && root.contains("FileType") && root["FileType"] == "mfu";
        } catch (const nlohmann::json::exception &) {
            return false;  // not one of ours: the MIFARE Classic reader says what is wrong
        }
    }
    case DumpFormat::Bin:
        // Every raw UltraLight dump is smaller than a 1K one; 320 bytes is a Mini.
        return bytes.size() % kPageSize == 0 && bytes.size() <= static_cast<std::size_t>(kMaxUltraLightPages) * kPageSize &&
               bytes.size() != kMiniDumpSize;
    case DumpFormat::Mct:
    case DumpFormat::Eml: return false;
    }
    return false;
}

bool FormatHoldsUltraLight(DumpFormat format) { return format != DumpFormat::Mct && format != DumpFormat::Eml; }

UltraLightImage ParseUltraLightDump(std::string_view bytes, DumpFormat format, std::string_view file_name) {
    switch (format) {
    case DumpFormat::Flipper: return ReadFlipper(bytes, file_name);
    case DumpFormat::Json: return ReadJson(bytes, file_name);
    case DumpFormat::Bin: return ReadBin(bytes, file_name);
    case DumpFormat::Mct:
    case DumpFormat::Eml: break;
    }
    throw FileError(std::string(file_name), FileProblem::ClassicOnlyFormat, {.name = std::string(FormatName(format))});
}

std::string WriteUltraLightDump(const UltraLightImage &image, DumpFormat format, std::vector<UltraLightFileNote> *notes) {
    std::vector<UltraLightFileNote> local;
    std::vector<UltraLightFileNote> &out = notes != nullptr ? *notes : local;
    switch (format) {
    case DumpFormat::Flipper: return WriteFlipper(image, out);
    case DumpFormat::Json: return WriteJson(image);
    case DumpFormat::Bin: return WriteBin(image, out);
    case DumpFormat::Mct:
    case DumpFormat::Eml: break;
    }
    return {};
}

std::optional<UltraLightImage> LoadUltraLightDumpIfAny(const std::string &path) {
    const std::string bytes = ReadWholeFile(path);
    // Without a known extension the contents tell; the MIFARE Classic loader
    // names a file that is no dump at all.
    auto format = FormatForPath(path);
    if (!format) format = FormatOfContents(bytes);
    if (!format || !IsUltraLightDump(bytes, *format)) return std::nullopt;
    return ParseUltraLightDump(bytes, *format, path);
}

void SaveUltraLightDump(const std::string &path, const UltraLightImage &image, std::vector<UltraLightFileNote> *notes) {
    const auto format = FormatForPath(path);
    if (!format) throw FileError(path, FileProblem::UnknownFormat, {.choices = {".bin", ".mfd", ".json", ".nfc"}, .writing = true});
    if (!FormatHoldsUltraLight(*format))
        throw FileError(path, FileProblem::ClassicOnlyFormat,
                        {.name = std::string(FormatName(*format)), .choices = {".nfc", ".json", ".bin", ".mfd"},
                         .kind = std::string(UltraLightKindName(image.kind)), .writing = true});
    WriteWholeFile(path, WriteUltraLightDump(image, *format, notes));
}

}  // namespace zelkor::card
