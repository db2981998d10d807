// Dump files of the UltraLight family, beside the MIFARE Classic ones of
// dump_formats.h and chosen by the same extensions; the contents tell the
// families apart:
//
//  .nfc         Flipper NFC device text, "Device type: NTAG/Ultralight" with
//               "NTAG/Ultralight type", or the older device types
//               ("NTAG213", "Mifare Ultralight 11", ...); "Page N:" lines,
//               pages from "Pages read" on are unknown. ATQA as in the
//               Classic files (Version 2 in the card's order, later versions
//               reversed); written as Version 4.
//  .json        Proxmark3's "FileType": "mfu": "blocks" of 8 hex digits per
//               page; ours adds "Kind", "Card"/"ATQA"/"SAK", '-' for an
//               unknown digit and "Partial": true.
//  .bin / .mfd  the pages, 4 bytes each from page 0 (64 to 924 bytes);
//               unknown bytes are written as zeros.
// .mct and .eml hold MIFARE Classic sectors only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card/dump_formats.h"
#include "card/ultralight_image.h"

namespace zelkor::card {

// What a format could not hold when writing, with the pages concerned.
enum class UltraLightFileWarning {
    UnknownBytesWrittenAsZeros,  // .bin
    KnownPagesAfterUnreadDropped,  // .nfc: pages from "Pages read" on
    IdentityAssumed,               // .nfc: ATQA/SAK unknown, written as the family's usual 44 00 / 00
};
inline constexpr UltraLightFileWarning kAllUltraLightFileWarnings[] = {
    UltraLightFileWarning::UnknownBytesWrittenAsZeros, UltraLightFileWarning::KnownPagesAfterUnreadDropped,
    UltraLightFileWarning::IdentityAssumed};
static_assert(std::size(kAllUltraLightFileWarnings) == static_cast<std::size_t>(UltraLightFileWarning::IdentityAssumed) + 1);
struct UltraLightFileNote {
    UltraLightFileWarning warning;
    std::vector<int> pages;
};

// Whether the contents are a dump of the UltraLight family in `format`
// (malformed files of the family included, so that they are refused with
// the family's messages).
bool IsUltraLightDump(std::string_view bytes, DumpFormat format);
bool FormatHoldsUltraLight(DumpFormat format);  // all but .mct and .eml

// Throws FileError naming `file_name` with its line or JSON path.
UltraLightImage ParseUltraLightDump(std::string_view bytes, DumpFormat format, std::string_view file_name);
std::string WriteUltraLightDump(const UltraLightImage &image, DumpFormat format, std::vector<UltraLightFileNote> *notes);

// The file's UltraLight dump; nothing when it holds another family's dump
// (load that with LoadDump). Format by extension; FileError when it is
// unknown, the file cannot be read or its UltraLight dump is malformed.
std::optional<UltraLightImage> LoadUltraLightDumpIfAny(const std::string &path);
// FileError for .mct or a file that cannot be written.
void SaveUltraLightDump(const std::string &path, const UltraLightImage &image, std::vector<UltraLightFileNote> *notes);

}  // namespace zelkor::card
