#include "card/file_problem.h"

#include <system_error>

#include "card/safe_file.h"

namespace zelkor::card {
namespace {

std::string SystemText(int error) { return error == 0 ? std::string() : ": " + std::system_category().message(error); }

// "a, b or c"
std::string Choices(const std::vector<std::string> &choices, const std::string &separator = ", ", const std::string &last = " or ") {
    std::string text;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (i != 0) text += i + 1 == choices.size() ? last : separator;
        text += choices[i];
    }
    return text;
}

std::string Quoted(const std::optional<std::string> &text) { return "'" + text.value_or("") + "'"; }

std::string Found(const std::optional<std::string> &text) { return text ? ", found " + Quoted(text) : std::string(); }

std::string UnitName(FileUnit unit) {
    switch (unit) {
    case FileUnit::Blocks: return "block";
    case FileUnit::Pages: return "page";
    case FileUnit::Sectors: return "sector";
    }
    return "";
}

std::string ValueName(FileValue value) {
    switch (value) {
    case FileValue::Uid: return "UID";
    case FileValue::Atqa: return "ATQA";
    case FileValue::Sak: return "SAK";
    case FileValue::Version: return "version";
    case FileValue::PageNumber: return "page number";
    case FileValue::PageCount: return "page count";
    }
    return "";
}

std::string JsonTypeText(JsonType type) {
    switch (type) {
    case JsonType::Object: return "expected an object";
    case JsonType::String: return "expected a string";
    case JsonType::Boolean: return "expected true or false";
    }
    return "";
}

std::string NotThisFamilyText(const FileProblemArgs &args) {
    const std::string found = Quoted(args.found);
    if (args.family == CardFamily::Classic) {
        if (args.kind_field == KindField::DeviceType) return "device type " + found + " is not Mifare Classic";
        return "file type " + found + " is not a MIFARE Classic dump (" + Choices(args.choices, ", ", ", ") + ")";
    }
    switch (args.kind_field) {
    case KindField::FileType: return "not a dump of the UltraLight family (\"" + Choices(args.choices, "\", \"", "\", \"") + "\")";
    case KindField::DeviceType: return "device type " + found + " is not a supported card of the UltraLight family";
    case KindField::UltraLightType: return "type " + found + " is not a supported card of the UltraLight family";
    case KindField::Kind: return found + " is not a card of the UltraLight family";
    }
    return "";
}

std::string Number(std::int64_t number) { return std::to_string(number); }

}  // namespace

std::string FileProblemEnglish(FileProblem problem, const FileProblemArgs &args) {
    const std::string system = SystemText(args.system_error);
    switch (problem) {
    case FileProblem::NotFound: return "no such file";
    case FileProblem::NotRegularFile: return "not a regular file (FIFOs, devices and sockets are refused)";
    case FileProblem::IsDirectory: return "is a directory";
    case FileProblem::TooLarge: return "larger than " + Number(static_cast<std::int64_t>(args.limit / (1024 * 1024))) + " MiB, more than any dump or key file needs";
    case FileProblem::CannotRead: return "cannot read" + system;
    case FileProblem::OutOfMemory: return "not enough memory to read it";
    case FileProblem::DirectoryMissing: return "its directory does not exist";
    case FileProblem::DirectoryNotWritable: return "its directory does not take new files" + system;
    case FileProblem::ReadOnly: return "the file is read-only";
    case FileProblem::NameTooLong: return "the file name is too long";
    case FileProblem::CannotWrite: return "cannot write" + system;
    case FileProblem::CannotReplace: return "cannot replace it" + system;
    case FileProblem::UnknownFormat:
        if (args.choices.empty()) return "unknown dump format";
        if (args.writing) return "unknown dump format: use " + Choices(args.choices);
        return "unknown dump format: not a " + Choices(args.choices) + " dump";
    case FileProblem::ClassicOnlyFormat:
        return "a ." + args.name + " file holds MIFARE Classic sectors only" +
               (args.writing ? ": use " + Choices(args.choices) + " for " + args.kind : std::string());
    case FileProblem::UidNeeded: return "a ." + args.name + " file must hold the card's UID, which the dump does not know";
    case FileProblem::RawDumpSize: return "size " + Number(args.actual) + " bytes: a raw dump has 320 (Mini), 1024 (1K) or 4096 (4K) bytes";
    case FileProblem::KeyFileSize:
        return "size " + Number(args.actual) + " bytes: a key file (.bin) has 60, 192 or 480 bytes (Mini, 1K, 4K)" +
               (args.flag ? "; this size is a dump's" : "");
    case FileProblem::UltraLightDumpSize:
        return "size " + Number(args.actual) + " bytes: " + Number(args.actual / 4) + " pages fit no card of the UltraLight family (" +
               Choices(args.choices) + " pages) of 4 bytes, nor a MIFARE Classic card";
    case FileProblem::NoSectors: return "no sectors: not a .mct dump";
    case FileProblem::JsonUnreadable: return "JSON error: " + args.found.value_or("");
    case FileProblem::JsonSyntax: return "JSON syntax error: " + args.found.value_or("");
    case FileProblem::JsonWrongType: return JsonTypeText(args.json_type);
    case FileProblem::DuplicateName: return Quoted(args.found) + " appears twice";
    case FileProblem::MissingBlocks: return "missing: no " + UnitName(args.unit) + "s in this file";
    case FileProblem::NotKeyFile: return "missing: not a key file";
    case FileProblem::MissingField: return "'" + args.name + "' missing";
    case FileProblem::NotFlipperFile: return "not a Flipper NFC file ('Filetype: Flipper NFC device' missing)";
    case FileProblem::NotThisFamily: return NotThisFamilyText(args);
    case FileProblem::BadClassicType: return "'Mifare Classic type' must be " + Choices(args.choices);
    case FileProblem::SakSaysMini: return "SAK 09 is a Mini card, but the file says " + args.name;
    case FileProblem::ExpectedKeyValue: return "expected 'Key: value'" + Found(args.found);
    case FileProblem::BadSectorHeader: return "bad sector header " + Quoted(args.found) + " (sectors 0 to " + Number(args.expected) + ")";
    case FileProblem::BlockBeforeSector: return "expected '+Sector: N' before the first block";
    case FileProblem::DeadSectorAfterBlocks: return "dead-sector line after blocks of the sector";
    case FileProblem::DuplicateSector: return "sector " + Number(args.number) + " appears twice";
    case FileProblem::TooManyBlocks: return "too many blocks in sector " + Number(args.number);
    case FileProblem::SectorBlockCount:
        return "sector " + Number(args.number) + " has " + Number(args.actual) + " blocks, expected " + Number(args.expected);
    case FileProblem::BlockCount: return Number(args.actual) + " blocks: an .eml dump has 20 (Mini), 64 (1K) or 256 (4K)";
    case FileProblem::BadBlockLine:
        return (args.flag ? "expected 32 hexadecimal digits or '-'" : "expected a block of 32 hexadecimal digits") + Found(args.found);
    case FileProblem::BadHex:
        if (args.expected == 0) return "expected hexadecimal digits";
        return "expected " + Number(args.expected) + " hexadecimal digits" + (args.flag ? " ('-' for unknown)" : "");
    case FileProblem::BadSpacedBytes:
        return "a " + UnitName(args.unit) + " is " + Number(args.expected) + " bytes of two hexadecimal digits or ??" + Found(args.found);
    case FileProblem::BadSpacedByte: return "a block byte is two hexadecimal digits or ??" + Found(args.found);
    case FileProblem::BadKey: return "expected a key of 12 hexadecimal digits" + Found(args.found);
    case FileProblem::BadValue: return "bad " + ValueName(args.value) + " " + Quoted(args.found);
    case FileProblem::BadBlockLabel: return "bad block number in " + Quoted(args.found);
    case FileProblem::NumberOutOfRange: return UnitName(args.unit) + " number 0 to " + Number(args.expected) + " expected";
    case FileProblem::BeyondCard:
        if (args.unit == FileUnit::Pages)
            return "page " + Number(args.number) + " beyond a " + args.kind + " of " + Number(args.expected) + " pages";
        return UnitName(args.unit) + " " + Number(args.number) + " beyond a " + args.kind + " card";
    case FileProblem::BeyondMini: return "block " + Number(args.number) + " beyond a Mini card (SAK 09 has 20 blocks)";
    case FileProblem::DuplicateBlock:
        return "block " + Number(args.number) + " appears twice " +
               (args.other_place.empty() ? "(first on line " + Number(args.other_line) + ")" : "(also as " + args.other_place + ")");
    case FileProblem::ConflictingKey:
        return "key " + std::string(1, KeyLetter(args.key_type)) + " " + args.found.value_or("") + " differs from the one in the trailer, " +
               args.other_place + ": " + args.other_value;
    case FileProblem::PageCountFitsNoCard:
        return Number(args.actual) + " pages fit no card of the UltraLight family (" + Choices(args.choices) + " pages)";
    case FileProblem::PageCountDiffers: return Number(args.actual) + " pages, but an " + args.kind + " has " + Number(args.expected);
    case FileProblem::MorePagesRead: return "more pages read than the card has";
    }
    return "";
}

namespace {

FileProblemArgs SafeToShow(FileProblemArgs args) {
    if (args.found) args.found = EscapeForMessage(*args.found);
    args.name = EscapeForMessage(args.name);
    args.other_place = EscapeForMessage(args.other_place);
    args.other_value = EscapeForMessage(args.other_value);
    return args;
}

std::string EnglishText(const FilePlace &place, FileProblem problem, const FileProblemArgs &args) {
    std::string where = EscapeForMessage(place.file, kMaxEchoedName);
    if (place.line != 0) {
        where += ":" + std::to_string(place.line);
    } else if (!place.json_path.empty()) {
        where += ": at " + EscapeForMessage(place.json_path);
    }
    // From the file's own text, escaped and cut as a whole: a cut never
    // splits an escape.
    return where + ": " + EscapeForMessage(FileProblemEnglish(problem, args));
}

}  // namespace

FileError::FileError(std::string file, FileProblem problem, FileProblemArgs args)
    : FileError(FilePlace{std::move(file), 0, {}}, problem, std::move(args)) {}

FileError::FileError(std::string file, int line, FileProblem problem, FileProblemArgs args)
    : FileError(FilePlace{std::move(file), line, {}}, problem, std::move(args)) {}

FileError::FileError(std::string file, std::string json_path, FileProblem problem, FileProblemArgs args)
    : FileError(FilePlace{std::move(file), 0, std::move(json_path)}, problem, std::move(args)) {}

FileError::FileError(FilePlace place, FileProblem problem, FileProblemArgs args)
    : std::runtime_error(EnglishText(place, problem, args)), place_(std::move(place)), problem_(problem),
      args_(SafeToShow(std::move(args))) {}

}  // namespace zelkor::card
