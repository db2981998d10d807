// The reader and writer of each dump format (internal to the toolkit; callers
// use ParseDump and WriteDump). Each reader throws FileError naming `file`.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "card/card_image.h"
#include "card/dump_formats.h"

namespace zelkor::card::detail {

CardImage ReadMct(std::string_view text, std::string_view file);
std::string WriteMct(const CardImage &image, std::vector<FileWarning> &warnings);

CardImage ReadBin(std::string_view bytes, std::string_view file);
std::string WriteBin(const CardImage &image, std::vector<FileWarning> &warnings);

CardImage ReadJson(std::string_view text, std::string_view file);
std::string WriteJson(const CardImage &image, std::vector<FileWarning> &warnings);

CardImage ReadFlipper(std::string_view text, std::string_view file);
std::string WriteFlipper(const CardImage &image, std::vector<FileWarning> &warnings);

CardImage ReadEml(std::string_view text, std::string_view file);
std::string WriteEml(const CardImage &image, std::vector<FileWarning> &warnings);

// Lines of a text file without their line ends ("\n" or "\r\n").
std::vector<std::string_view> SplitLines(std::string_view text);
std::string_view Trim(std::string_view text);

// 32 characters, two per byte: hex digits, or `unknown` twice for an unknown
// byte. Nothing when malformed.
struct MaskedBlock {
    Block data{};
    ByteMask mask = kNoneKnown;
};
std::optional<MaskedBlock> ParseMaskedBlock(std::string_view text, char unknown);
std::string MaskedBlockText(const Block &data, ByteMask mask, char unknown, std::string_view separator = "");

// The image with known keys copied into trailers, as every format stores them.
CardImage WithTrailerKeys(const CardImage &image);
// Warnings for unknown keys that a format has to write as zeros.
void WarnUnknownKeys(const CardImage &image, std::vector<FileWarning> &warnings);
// Appends a warning of `code`, for its arguments to be filled in.
FileWarning &Warn(std::vector<FileWarning> &warnings, FileWarningCode code);

}  // namespace zelkor::card::detail
