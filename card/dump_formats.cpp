#include "card/dump_formats.h"

#include <algorithm>
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

FileError::FileError(std::string file, int line, const std::string &message)
    : std::runtime_error(EscapeForMessage(file, kMaxEchoedName) + ":" + std::to_string(line) + ": " + EscapeForMessage(message)),
      file_(std::move(file)), line_(line), message_(EscapeForMessage(message)) {}

FileError::FileError(std::string file, std::string json_path, const std::string &message)
    : std::runtime_error(EscapeForMessage(file, kMaxEchoedName) + ": at " + EscapeForMessage(json_path) + ": " + EscapeForMessage(message)),
      file_(std::move(file)), json_path_(std::move(json_path)), message_(EscapeForMessage(message)) {}

FileError::FileError(std::string file, const std::string &message)
    : std::runtime_error(EscapeForMessage(file, kMaxEchoedName) + ": " + EscapeForMessage(message)), file_(std::move(file)),
      message_(EscapeForMessage(message)) {}

std::optional<DumpFormat> FormatForPath(std::string_view path) {
    const auto dot = path.rfind('.');
    if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return std::nullopt;
    std::string ext(path.substr(dot + 1));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "mct") return DumpFormat::Mct;
    if (ext == "bin" || ext == "mfd") return DumpFormat::Bin;
    if (ext == "json") return DumpFormat::Json;
    if (ext == "nfc") return DumpFormat::Flipper;
    return std::nullopt;
}

std::string_view FormatName(DumpFormat format) {
    switch (format) {
    case DumpFormat::Mct: return "mct";
    case DumpFormat::Bin: return "bin";
    case DumpFormat::Json: return "json";
    case DumpFormat::Flipper: return "nfc";
    }
    return "";
}

bool FormatKeepsUnknownBytes(DumpFormat format) { return format != DumpFormat::Bin; }

namespace {
CardImage ReadFormat(std::string_view bytes, DumpFormat format, std::string_view file_name) {
    switch (format) {
    case DumpFormat::Mct: return detail::ReadMct(bytes, file_name);
    case DumpFormat::Bin: return detail::ReadBin(bytes, file_name);
    case DumpFormat::Json: return detail::ReadJson(bytes, file_name);
    case DumpFormat::Flipper: return detail::ReadFlipper(bytes, file_name);
    }
    throw FileError(std::string(file_name), "unknown dump format");
}
}  // namespace

CardImage ParseDump(std::string_view bytes, DumpFormat format, std::string_view file_name) {
    CardImage image = ReadFormat(bytes, format, file_name);
    // Keys given apart from the trailers (JSON) belong in them too.
    image.FillTrailerKeys();
    return image;
}

std::string WriteDump(const CardImage &image, DumpFormat format, std::vector<std::string> *warnings) {
    std::vector<std::string> local;
    std::vector<std::string> &out = warnings != nullptr ? *warnings : local;
    switch (format) {
    case DumpFormat::Mct: return detail::WriteMct(image, out);
    case DumpFormat::Bin: return detail::WriteBin(image, out);
    case DumpFormat::Json: return detail::WriteJson(image, out);
    case DumpFormat::Flipper: return detail::WriteFlipper(image, out);
    }
    return {};
}

namespace {
DumpFormat RequireFormat(const std::string &path) {
    const auto format = FormatForPath(path);
    if (!format) throw FileError(path, "unknown dump format: use .mct, .bin, .mfd, .json or .nfc");
    return *format;
}
}  // namespace

CardImage LoadDump(const std::string &path) {
    const DumpFormat format = RequireFormat(path);
    return ParseDump(ReadWholeFile(path), format, path);
}

void SaveDump(const std::string &path, const CardImage &image, std::vector<std::string> *warnings) {
    const DumpFormat format = RequireFormat(path);
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

void WarnUnknownKeys(const CardImage &image, std::vector<std::string> &warnings) {
    for (const KeyType type : {KeyType::A, KeyType::B}) {
        std::string sectors;
        const ByteMask mask = type == KeyType::A ? kKeyAMask : kKeyBMask;
        for (int sector = 0; sector < image.sector_count(); ++sector) {
            if ((image.known_mask[static_cast<std::size_t>(TrailerBlock(sector))] & mask) != mask)
                sectors += (sectors.empty() ? "" : ", ") + std::to_string(sector);
        }
        if (!sectors.empty())
            warnings.push_back(std::string("key ") + KeyLetter(type) + " unknown in sectors " + sectors + ": written as zeros");
    }
}

}  // namespace detail

}  // namespace zelkor::card
