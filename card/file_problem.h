// What is wrong with a file the toolkit was asked to read or write, as a
// code with its arguments: the front ends put it in words in their language
// (words/file_problem_words.h). The English wording here is what() of
// FileError, for logs and for callers that show no other language.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "card/card_layout.h"

namespace zelkor::card {

// The arguments a code uses are named beside it.
enum class FileProblem {
    // Opening, reading or writing the file (the whole file).
    NotFound,
    NotRegularFile,        // a directory, a FIFO, a device, ...
    IsDirectory,           // an output that names a directory
    TooLarge,              // limit
    CannotRead,            // system_error
    OutOfMemory,           // no memory for the contents
    DirectoryMissing,      // an output's directory does not exist
    DirectoryNotWritable,  // system_error
    ReadOnly,              // an existing output that may not be written
    NameTooLong,           // the output's name (with the temporary suffix)
    CannotWrite,           // system_error (ENOSPC, ...)
    CannotReplace,         // system_error: the finished file could not take the output's place
    // What the file is (the whole file).
    UnknownFormat,         // choices: the extensions taken; writing
    ClassicOnlyFormat,     // name: the extension; when writing, choices and kind: the card to save
    UidNeeded,             // name: the extension of a format that must hold the UID; writing
    RawDumpSize,           // actual: bytes
    KeyFileSize,           // actual: bytes; flag: a dump has this size
    UltraLightDumpSize,    // actual: bytes; choices: the page counts of the family
    NoSectors,             // a .mct file without "+Sector:"
    JsonUnreadable,        // found: the parser's words
    // Where the file goes wrong (a line or a JSON path).
    JsonSyntax,            // found: the parser's words
    JsonWrongType,         // json_type: what was expected
    DuplicateName,         // found: a name that appears twice in one JSON object
    MissingBlocks,         // unit: block or page
    NotKeyFile,            // no "SectorKeys"
    MissingField,          // name: the field
    NotFlipperFile,        // no "Filetype: Flipper NFC device"
    NotThisFamily,         // family expected; kind_field: where the file names its kind; found: that name
    BadClassicType,        // choices: the names of "Mifare Classic type"
    SakSaysMini,           // name: the type the file states
    ExpectedKeyValue,      // found: the line
    BadSectorHeader,       // found: the line; expected: the highest sector
    BlockBeforeSector,
    DeadSectorAfterBlocks,
    DuplicateSector,       // number: the sector
    TooManyBlocks,         // number: the sector
    SectorBlockCount,      // number: the sector; actual, expected: blocks
    BlockCount,            // actual: blocks of an .eml file
    BadBlockLine,          // found: the line; flag: '-' marks an unknown digit
    BadHex,                // expected: digits (0: any number); flag: '-' marks an unknown digit
    BadSpacedBytes,        // unit; expected: bytes; found: the value, when shown
    BadSpacedByte,         // found: the token
    BadKey,                // found: the text, when shown
    BadValue,              // value: which; found: the text
    BadBlockLabel,         // found: the label
    NumberOutOfRange,      // unit; expected: the highest number
    BeyondCard,            // unit, number; kind: the card; for pages expected: its page count
    BeyondMini,            // number: the block (the file's SAK 09 makes it a Mini)
    DuplicateBlock,        // number; other_place: its other JSON name, or other_line
    ConflictingKey,        // key_type; found: the key; other_place: the trailer; other_value: its key
    PageCountFitsNoCard,   // actual: pages; choices: the page counts of the family
    PageCountDiffers,      // actual: pages; kind: the card; expected: its page count
    MorePagesRead,         // "Pages read" above the card's page count
};
inline constexpr int kFileProblemCount = static_cast<int>(FileProblem::MorePagesRead) + 1;

enum class FileUnit { Blocks, Pages, Sectors };
enum class FileValue { Uid, Atqa, Sak, Version, PageNumber, PageCount };
enum class JsonType { Object, String, Boolean };
enum class CardFamily { Classic, UltraLight };
// Where a file names the kind of card it holds.
enum class KindField { FileType, DeviceType, UltraLightType, Kind };

// Text taken from the file (found, name, other_value) is kept made safe to
// show: see EscapeForMessage.
struct FileProblemArgs {
    std::optional<std::string> found{};
    std::string name{};
    std::vector<std::string> choices{};
    std::string kind{};
    std::string other_place{};
    std::string other_value{};
    int number = 0;
    int other_line = 0;
    std::int64_t actual = 0;
    std::int64_t expected = 0;
    bool flag = false;
    bool writing = false;
    FileUnit unit = FileUnit::Blocks;
    FileValue value = FileValue::Uid;
    JsonType json_type = JsonType::Object;
    CardFamily family = CardFamily::Classic;
    KindField kind_field = KindField::FileType;
    KeyType key_type = KeyType::A;
    int system_error = 0;     // errno or the system's error code; 0: none
    std::uint64_t limit = 0;  // bytes
};

// The file and where in it: a line (1-based, 0: none) or a JSON path.
struct FilePlace {
    std::string file;
    int line = 0;
    std::string json_path;
};

// The English words of a problem, without its place.
std::string FileProblemEnglish(FileProblem problem, const FileProblemArgs &args);

// A file that cannot be read or written as asked, or whose contents are
// malformed. what() is the English text: "file:line: words",
// "file: at path: words" or "file: words".
class FileError : public std::runtime_error {
public:
    FileError(std::string file, FileProblem problem, FileProblemArgs args = {});
    FileError(std::string file, int line, FileProblem problem, FileProblemArgs args = {});
    FileError(std::string file, std::string json_path, FileProblem problem, FileProblemArgs args = {});

    const std::string &file() const { return place_.file; }
    int line() const { return place_.line; }  // 0: none
    const std::string &json_path() const { return place_.json_path; }
    const FilePlace &place() const { return place_; }
    FileProblem problem() const { return problem_; }
    const FileProblemArgs &args() const { return args_; }

private:
    FileError(FilePlace place, FileProblem problem, FileProblemArgs args);

    FilePlace place_;
    FileProblem problem_;
    FileProblemArgs args_;
};

}  // namespace zelkor::card
