// Dump files: one reader and one writer per format over CardImage.
//
//  .mct         text: "+Sector: N", one line of 32 hex digits per block, '-'
//               for an unknown digit; a sector with no key is its header and
//               "*No keys found or dead sector".
//  .bin / .mfd  raw 16 bytes per block from block 0 (1024 or 4096 bytes);
//               cannot mark unknown bytes: they are written as zeros
//               (callers refuse that unless the user asked for it).
//  .json        {"Created", "FileType": "mfcard", "Card": {UID, ATQA, SAK},
//               "blocks": {"0": "<32 hex>"}, "SectorKeys": {...}}, '-' for
//               an unknown digit, "Partial": true for a dump that stopped
//               early; reading accepts the file types mfcard, "mfc v2" and
//               "mfc v3".
//  .nfc         the Flipper NFC device text, "??" for an unknown byte.
//  .eml         one block a line, 32 hex digits, block 0 first; cannot mark
//               unknown bytes.
// A Mini is 20 blocks: a 320-byte raw dump, 20 lines of .eml, sectors 0 to 4
// of .mct, "Mifare Classic type: MINI", a JSON dump with SAK 09.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "card/card_image.h"
#include "card/file_problem.h"

namespace zelkor::card {

enum class DumpFormat { Mct, Bin, Json, Flipper, Eml };

// By extension (case-insensitive): .mct .bin .mfd .json .nfc .eml; nothing otherwise.
std::optional<DumpFormat> FormatForPath(std::string_view path);
// By contents, for a file whose extension names no format (the common Android
// tool saves .txt, others .raw or .dump): nothing when none fits.
std::optional<DumpFormat> FormatOfContents(std::string_view bytes);
std::string_view FormatName(DumpFormat format);
// Whether the format can mark single bytes as unknown.
bool FormatKeepsUnknownBytes(DumpFormat format);
// Whether the format has a field for the UID. The others hold it only as the
// manufacturer block's 4-byte UID and check byte.
bool FormatHasUidField(DumpFormat format);
// Whether a file of `format` keeps the image's UID, in a field or in block 0.
bool FormatHoldsUid(DumpFormat format, const CardImage &image);

// Throws FileError naming `file_name` for a malformed file. Keys found in the
// trailers (and, for JSON, in SectorKeys) end up in image.keys.
CardImage ParseDump(std::string_view bytes, DumpFormat format, std::string_view file_name);
// What a format could not hold when writing; the arguments are in the fields
// named beside each code.
enum class FileWarningCode {
    KeyUnknown,                  // `key` unknown in `sectors`: written as zeros
    UnknownBytesWrittenAsZeros,  // `count` blocks hold unknown bytes (a raw dump cannot mark them)
    UidFromManufacturerBlock,    // no UID: the one of block 0 is written
    AtqaAssumed,                 // written as the usual ATQA of a `kind` card
    SakAssumed,                  // written as the usual SAK of a `kind` card
    UidNotKept,                  // `uid` lost: a `format` file holds a UID only as block 0's
};
inline constexpr FileWarningCode kAllFileWarningCodes[] = {
    FileWarningCode::KeyUnknown, FileWarningCode::UnknownBytesWrittenAsZeros, FileWarningCode::UidFromManufacturerBlock,
    FileWarningCode::AtqaAssumed, FileWarningCode::SakAssumed, FileWarningCode::UidNotKept,
};
static_assert(std::size(kAllFileWarningCodes) == static_cast<std::size_t>(FileWarningCode::UidNotKept) + 1);

struct FileWarning {
    FileWarningCode code = FileWarningCode::KeyUnknown;
    KeyType key = KeyType::A;
    std::vector<int> sectors;
    int count = 0;
    CardKind kind = CardKind::Classic1K;
    DumpFormat format = DumpFormat::Mct;
    std::vector<std::uint8_t> uid;
};

// Adds to `warnings` (may be null) anything the format cannot hold, such as
// unknown bytes written as zeros or a UID it has no place for.
std::string WriteDump(const CardImage &image, DumpFormat format, std::vector<FileWarning> *warnings);

// Format from the extension, else from the contents; FileError when it is
// unknown or the file cannot be read or written.
CardImage LoadDump(const std::string &path);
DumpFormat DumpFormatOfFile(const std::string &path);
void SaveDump(const std::string &path, const CardImage &image, std::vector<FileWarning> *warnings);
// FileError naming `path` when `format` cannot hold `image` at all: a .nfc
// file needs the UID (or a known block 0). Checked before anything is written.
void RequireFormatHolds(const std::string &path, const CardImage &image, DumpFormat format);

// Whole file contents, through card/safe_file.h (bounded regular inputs,
// outputs replaced in one step); FileError when it cannot be read or written.
std::string ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, std::string_view contents);

}  // namespace zelkor::card
