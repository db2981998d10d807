#include "card/dump_formats.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "card/dump_format_io.h"
#include "card/hex.h"
#include "card/safe_file.h"

namespace zelkor::card {

std::optional<DumpFormat> FormatForPath(std::string_view path) {
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return std::nullopt;
    std::string ext(path.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "mct") return DumpFormat::Mct;
    if (ext == "bin" || ext == "mfd") return DumpFormat::Bin;
    if (ext == "json") return DumpFormat::Json;
    if (ext == "nfc") return DumpFormat::Flipper;
    if (ext == "eml") return DumpFormat::Eml;
    return std::nullopt;
}

std::optional<DumpFormat> FormatOfContents(std::string_view bytes) {
    const bool raw_size = bytes.size() % kBlockSize == 0 && KindOfBlockCount(static_cast<int>(bytes.size() / kBlockSize));
    // Text formats have no control bytes; a raw dump's first byte may look
    // like the start of one.
    const bool binary = std::any_of(bytes.begin(), bytes.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') || byte == 0x7F;
    });
    if (binary) return raw_size ? std::optional(DumpFormat::Bin) : std::nullopt;
    const std::string_view text = detail::Trim(bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes);
    if (text.starts_with("+Sector:")) return DumpFormat::Mct;
    if (text.starts_with("Filetype:")) return DumpFormat::Flipper;
    if (text.starts_with("{")) return DumpFormat::Json;
    if (raw_size) return DumpFormat::Bin;
    const auto lines = detail::SplitLines(text);
    const bool all_blocks = !lines.empty() && std::all_of(lines.begin(), lines.end(), [](std::string_view line) {
        return detail::ParseMaskedBlock(detail::Trim(line), '\0').has_value();
    });
    if (all_blocks) return DumpFormat::Eml;
    return std::nullopt;
}

std::string_view FormatName(DumpFormat format) {
    switch (format) {
    case DumpFormat::Mct: return "mct";
    case DumpFormat::Bin: return "bin";
    case DumpFormat::Json: return "json";
    case DumpFormat::Flipper: return "nfc";
    case DumpFormat::Eml: return "eml";
    }
    return "";
}

bool FormatKeepsUnknownBytes(DumpFormat format) { return format != DumpFormat::Bin && format != DumpFormat::Eml; }

bool FormatHasUidField(DumpFormat format) { return format == DumpFormat::Json || format == DumpFormat::Flipper; }

bool FormatHoldsUid(DumpFormat format, const CardImage &image) {
    if (FormatHasUidField(format) || image.uid.empty()) return true;
    if (image.uid.size() != 4 || image.blocks.empty()) return false;
    const Block &maker = image.blocks[kManufacturerBlock];
    return std::equal(image.uid.begin(), image.uid.end(), maker.begin()) && (image.known_mask[kManufacturerBlock] & 0x001F) == 0x001F &&
           (maker[0] ^ maker[1] ^ maker[2] ^ maker[3]) == maker[4];
}

namespace {
CardImage ReadFormat(std::string_view bytes, DumpFormat format, std::string_view file_name) {
    switch (format) {
    case DumpFormat::Mct: return detail::ReadMct(bytes, file_name);
    case DumpFormat::Bin: return detail::ReadBin(bytes, file_name);
    case DumpFormat::Json: return detail::ReadJson(bytes, file_name);
    case DumpFormat::Flipper: return detail::ReadFlipper(bytes, file_name);
    case DumpFormat::Eml: return detail::ReadEml(bytes, file_name);
    }
    throw FileError(std::string(file_name), FileProblem::UnknownFormat);
}
}  // namespace

CardImage ParseDump(std::string_view bytes, DumpFormat format, std::string_view file_name) {
    CardImage image = ReadFormat(bytes, format, file_name);
    // Keys given apart from the trailers (JSON) belong in them too.
    image.FillTrailerKeys();
    return image;
}

namespace {
std::string WriteFormat(const CardImage &image, DumpFormat format, std::vector<FileWarning> &warnings) {
    switch (format) {
    case DumpFormat::Mct: return detail::WriteMct(image, warnings);
    case DumpFormat::Bin: return detail::WriteBin(image, warnings);
    case DumpFormat::Json: return detail::WriteJson(image, warnings);
    case DumpFormat::Flipper: return detail::WriteFlipper(image, warnings);
    case DumpFormat::Eml: return detail::WriteEml(image, warnings);
    }
    return {};
}
}  // namespace

std::string WriteDump(const CardImage &image, DumpFormat format, std::vector<FileWarning> *warnings) {
    std::vector<FileWarning> local;
    std::vector<FileWarning> &out = warnings != nullptr ? *warnings : local;
    std::string contents = WriteFormat(image, format, out);
    if (!FormatHoldsUid(format, image)) {
        FileWarning &warning = detail::Warn(out, FileWarningCode::UidNotKept);
        warning.format = format;
        warning.uid = image.uid;
    }
    return contents;
}

namespace {
constexpr std::array<const char *, 6> kClassicExtensions = {".mct", ".bin", ".mfd", ".json", ".nfc", ".eml"};

DumpFormat RequireFormat(const std::string &path) {
    const auto format = FormatForPath(path);
    if (!format) throw FileError(path, FileProblem::UnknownFormat, {.choices = {kClassicExtensions.begin(), kClassicExtensions.end()}, .writing = true});
    return *format;
}

DumpFormat FormatOfFile(const std::string &path, std::string_view bytes) {
    if (const auto format = FormatForPath(path)) return *format;
    if (const auto format = FormatOfContents(bytes)) return *format;
    throw FileError(path, FileProblem::UnknownFormat, {.choices = {kClassicExtensions.begin(), kClassicExtensions.end()}});
}
}  // namespace

CardImage LoadDump(const std::string &path) {
    const std::string bytes = ReadWholeFile(path);
    return ParseDump(bytes, FormatOfFile(path, bytes), path);
}

DumpFormat DumpFormatOfFile(const std::string &path) {
    if (const auto format = FormatForPath(path)) return *format;
    return FormatOfFile(path, ReadWholeFile(path));
}

void RequireFormatHolds(const std::string &path, const CardImage &image, DumpFormat format) {
    const bool uid_known = !image.uid.empty() || image.BlockKnown(kManufacturerBlock);
    if (format == DumpFormat::Flipper && !uid_known) {
        throw FileError(path, FileProblem::UidNeeded, {.name = std::string(FormatName(format)), .writing = true});
    }
}

void SaveDump(const std::string &path, const CardImage &image, std::vector<FileWarning> *warnings) {
    const DumpFormat format = RequireFormat(path);
    RequireFormatHolds(path, image, format);
    WriteWholeFile(path, WriteDump(image, format, warnings));
}

std::string ReadWholeFile(const std::string &path) { return ReadInputFile(path); }

void WriteWholeFile(const std::string &path, std::string_view contents) { ReplaceFileContents(path, contents); }

namespace detail {

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::optional<MaskedBlock> ParseMaskedBlock(std::string_view text, char unknown) {
    if (text.size() != 32) return std::nullopt;
    MaskedBlock out;
    for (std::size_t i = 0; i < 16; ++i) {
        const std::string_view pair = text.substr(2 * i, 2);
        if (pair[0] == unknown && pair[1] == unknown) continue;
        const auto byte = ParseHex(pair);
        if (!byte || byte->size() != 1) return std::nullopt;
        out.data[i] = (*byte)[0];
        out.mask = static_cast<ByteMask>(out.mask | 1u << i);
    }
    return out;
}

std::string MaskedBlockText(const Block &data, ByteMask mask, char unknown, std::string_view separator) {
    std::string out;
    for (std::size_t i = 0; i < 16; ++i) {
        if (i != 0) out += separator;
        if ((mask >> i & 1u) != 0) {
            out += ToHex(std::span<const std::uint8_t>(&data[i], 1));
        } else {
            out += unknown;
            out += unknown;
        }
    }
    return out;
}

CardImage WithTrailerKeys(const CardImage &image) {
    CardImage copy = image;
    copy.FillTrailerKeys();
    return copy;
}

void WarnUnknownKeys(const CardImage &image, std::vector<FileWarning> &warnings) {
    for (const KeyType type : {KeyType::A, KeyType::B}) {
        std::vector<int> sectors;
        const ByteMask mask = type == KeyType::A ? kKeyAMask : kKeyBMask;
        for (int sector = 0; sector < image.sector_count(); ++sector) {
            if ((image.known_mask[static_cast<std::size_t>(TrailerBlock(sector))] & mask) != mask) sectors.push_back(sector);
        }
        if (sectors.empty()) continue;
        FileWarning &warning = Warn(warnings, FileWarningCode::KeyUnknown);
        warning.key = type;
        warning.sectors = std::move(sectors);
    }
}

FileWarning &Warn(std::vector<FileWarning> &warnings, FileWarningCode code) {
    FileWarning &warning = warnings.emplace_back();
    warning.code = code;
    return warning;
}

}  // namespace detail

}  // namespace zelkor::card
