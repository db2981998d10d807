#include "words/file_problem_words.h"

#include <vector>

#include "card/safe_file.h"

namespace zelkor::words {
namespace {

using card::FileProblem;
using card::FileProblemArgs;
using card::FileUnit;

// "a、b 或 c"
std::string Choices(const std::vector<std::string> &choices, const std::string &separator = "、", const std::string &last = " 或 ") {
    std::string text;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        if (i != 0) text += i + 1 == choices.size() ? last : separator;
        text += choices[i];
    }
    return text;
}

std::string Quoted(const std::optional<std::string> &text) { return "'" + text.value_or("") + "'"; }

std::string Found(const std::optional<std::string> &text) { return text ? "，实际是 " + Quoted(text) : std::string(); }

std::string SystemCode(int error) { return error == 0 ? std::string() : "（系统错误 " + std::to_string(error) + "）"; }

std::string N(std::int64_t number) { return std::to_string(number); }

std::string UnitName(FileUnit unit) {
    switch (unit) {
    case FileUnit::Blocks: return "块";
    case FileUnit::Pages: return "页";
    case FileUnit::Sectors: return "扇区";
    }
    return "";
}

std::string ValueName(card::FileValue value) {
    switch (value) {
    case card::FileValue::Uid: return "卡号";
    case card::FileValue::Atqa: return "ATQA";
    case card::FileValue::Sak: return "SAK";
    case card::FileValue::Version: return "版本";
    case card::FileValue::PageNumber: return "页号";
    case card::FileValue::PageCount: return "页数";
    }
    return "";
}

std::string JsonTypeText(card::JsonType type) {
    switch (type) {
    case card::JsonType::Object: return "应为对象";
    case card::JsonType::String: return "应为字符串";
    case card::JsonType::Boolean: return "应为 true 或 false";
    }
    return "";
}

std::string NotThisFamilyText(const FileProblemArgs &args) {
    const std::string found = Quoted(args.found);
    if (args.family == card::CardFamily::Classic) {
        if (args.kind_field == card::KindField::DeviceType) return "设备类型 " + found + " 不是 Mifare Classic";
        return "文件类型 " + found + " 不是 MIFARE Classic 转储（" + Choices(args.choices, "、", "、") + "）";
    }
    switch (args.kind_field) {
    case card::KindField::FileType: return "不是 UltraLight 系列的转储（\"" + Choices(args.choices, "\"、\"", "\"、\"") + "\"）";
    case card::KindField::DeviceType: return "设备类型 " + found + " 不是支持的 UltraLight 系列卡片";
    case card::KindField::UltraLightType: return "类型 " + found + " 不是支持的 UltraLight 系列卡片";
    case card::KindField::Kind: return found + " 不是 UltraLight 系列的卡片";
    }
    return "";
}

std::string Chinese(FileProblem problem, const FileProblemArgs &args) {
    switch (problem) {
    case FileProblem::NotFound: return "文件不存在";
    case FileProblem::NotRegularFile: return "不是普通文件（不接受管道、设备和套接字）";
    case FileProblem::IsDirectory: return "这是一个文件夹";
    case FileProblem::TooLarge: return "文件超过 " + N(static_cast<std::int64_t>(args.limit / (1024 * 1024))) + " MiB，转储和密钥文件都不会这么大";
    case FileProblem::CannotRead: return "无法读取" + SystemCode(args.system_error);
    case FileProblem::OutOfMemory: return "内存不足，无法读取";
    case FileProblem::DirectoryMissing: return "文件夹不存在";
    case FileProblem::DirectoryNotWritable: return "文件夹不允许写入" + SystemCode(args.system_error);
    case FileProblem::ReadOnly: return "文件是只读的";
    case FileProblem::NameTooLong: return "文件名太长";
    case FileProblem::CannotWrite: return "写入失败（磁盘可能已满）" + SystemCode(args.system_error);
    case FileProblem::CannotReplace: return "无法替换原文件" + SystemCode(args.system_error);
    case FileProblem::UnknownFormat:
        if (args.choices.empty()) return "未知的转储格式";
        if (args.writing) return "未知的转储格式：请使用 " + Choices(args.choices) + " 文件";
        return "未知的转储格式：不是 " + Choices(args.choices) + " 转储";
    case FileProblem::ClassicOnlyFormat:
        return "." + args.name + " 文件只能保存 MIFARE Classic 扇区" +
               (args.writing ? "：请用 " + Choices(args.choices) + " 保存 " + args.kind : std::string());
    case FileProblem::UidNeeded: return "." + args.name + " 文件必须有卡号，而这份数据的卡号未知";
    case FileProblem::RawDumpSize: return "大小为 " + N(args.actual) + " 字节：二进制转储应为 320（Mini）、1024（1K）或 4096（4K）字节";
    case FileProblem::KeyFileSize:
        return "大小为 " + N(args.actual) + " 字节：密钥文件（.bin）应为 60、192 或 480 字节（Mini、1K、4K）" +
               (args.flag ? "；这是转储文件的大小" : "");
    case FileProblem::UltraLightDumpSize:
        return "大小为 " + N(args.actual) + " 字节：" + N(args.actual / 4) + " 页（每页 4 字节）不是 UltraLight 系列的任何卡片（" +
               Choices(args.choices) + " 页），也不是 MIFARE Classic 卡片";
    case FileProblem::NoSectors: return "没有扇区：不是 .mct 转储";
    case FileProblem::JsonUnreadable: return "JSON 错误：" + args.found.value_or("");
    case FileProblem::JsonSyntax: return "JSON 语法错误：" + args.found.value_or("");
    case FileProblem::JsonWrongType: return JsonTypeText(args.json_type);
    case FileProblem::DuplicateName: return Quoted(args.found) + " 出现了两次";
    case FileProblem::MissingBlocks: return "缺少此项：文件中没有" + UnitName(args.unit);
    case FileProblem::NotKeyFile: return "缺少此项：不是密钥文件";
    case FileProblem::MissingField: return "缺少 '" + args.name + "'";
    case FileProblem::NotFlipperFile: return "不是 Flipper NFC 文件（缺少 'Filetype: Flipper NFC device'）";
    case FileProblem::NotThisFamily: return NotThisFamilyText(args);
    case FileProblem::BadClassicType: return "'Mifare Classic type' 必须是 " + Choices(args.choices);
    case FileProblem::SakSaysMini: return "SAK 09 表示 Mini 卡片，但文件写的是 " + args.name;
    case FileProblem::ExpectedKeyValue: return "应为 'Key: value'" + Found(args.found);
    case FileProblem::BadSectorHeader: return "扇区标题 " + Quoted(args.found) + " 有误（扇区 0 到 " + N(args.expected) + "）";
    case FileProblem::BlockBeforeSector: return "第一个块之前应有 '+Sector: N'";
    case FileProblem::DeadSectorAfterBlocks: return "无密钥扇区的标记出现在该扇区的块之后";
    case FileProblem::DuplicateSector: return "扇区 " + N(args.number) + " 出现了两次";
    case FileProblem::TooManyBlocks: return "扇区 " + N(args.number) + " 的块太多";
    case FileProblem::SectorBlockCount:
        return "扇区 " + N(args.number) + " 有 " + N(args.actual) + " 块，应为 " + N(args.expected) + " 块";
    case FileProblem::BlockCount: return N(args.actual) + " 块：.eml 转储应为 20（Mini）、64（1K）或 256（4K）块";
    case FileProblem::BadBlockLine:
        return (args.flag ? std::string("应为 32 位十六进制数字或 '-'") : std::string("应为 32 位十六进制数字的块")) + Found(args.found);
    case FileProblem::BadHex:
        if (args.expected == 0) return "应为十六进制数字";
        return "应为 " + N(args.expected) + " 位十六进制数字" + (args.flag ? "（'-' 表示未知）" : "");
    case FileProblem::BadSpacedBytes:
        return UnitName(args.unit) + "应为 " + N(args.expected) + " 个字节，每个字节两位十六进制数字或 ??" + Found(args.found);
    case FileProblem::BadSpacedByte: return "块中的字节应为两位十六进制数字或 ??" + Found(args.found);
    case FileProblem::BadKey: return "应为 12 位十六进制数字的密钥" + Found(args.found);
    case FileProblem::BadValue: return ValueName(args.value) + " " + Quoted(args.found) + " 有误";
    case FileProblem::BadBlockLabel: return "块号有误：" + Quoted(args.found);
    case FileProblem::NumberOutOfRange: return "应为 0 到 " + N(args.expected) + " 的" + UnitName(args.unit) + "号";
    case FileProblem::BeyondCard:
        if (args.unit == FileUnit::Pages)
            return "页 " + N(args.number) + " 超出了 " + args.kind + " 的范围（共 " + N(args.expected) + " 页）";
        return UnitName(args.unit) + " " + N(args.number) + " 超出了 " + args.kind + " 卡片的范围";
    case FileProblem::BeyondMini: return "块 " + N(args.number) + " 超出了 Mini 卡片的范围（SAK 09 的卡片只有 20 块）";
    case FileProblem::DuplicateBlock:
        return "块 " + N(args.number) + " 出现了两次" +
               (args.other_place.empty() ? "（第一次在第 " + N(args.other_line) + " 行）" : "（另一处是 " + args.other_place + "）");
    case FileProblem::ConflictingKey:
        return std::string(args.key_type == card::KeyType::A ? "密钥A " : "密钥B ") + args.found.value_or("") + " 与控制块 " +
               args.other_place + " 中的 " + args.other_value + " 不同";
    case FileProblem::PageCountFitsNoCard:
        return N(args.actual) + " 页不是 UltraLight 系列的任何卡片（" + Choices(args.choices) + " 页）";
    case FileProblem::PageCountDiffers: return N(args.actual) + " 页，但 " + args.kind + " 有 " + N(args.expected) + " 页";
    case FileProblem::MorePagesRead: return "读出的页数超过了卡片的页数";
    }
    return "";
}

}  // namespace

std::string FileProblemText(FileProblem problem, const FileProblemArgs &args, Language language) {
    switch (language) {
    case Language::English: return card::FileProblemEnglish(problem, args);
    case Language::Chinese: return Chinese(problem, args);
    }
    return "";
}

std::string FileErrorText(const card::FileError &error, Language language) {
    switch (language) {
    case Language::English: return error.what();
    case Language::Chinese: break;
    }
    std::string where = "文件 " + card::EscapeForMessage(error.file(), card::kMaxEchoedName);
    if (error.line() != 0) {
        where += " 第 " + std::to_string(error.line()) + " 行";
    } else if (!error.json_path().empty()) {
        where += " 的 " + card::EscapeForMessage(error.json_path()) + " 处";
    }
    return where + "：" + Chinese(error.problem(), error.args());
}

std::string_view FileProblemName(FileProblem problem) {
    switch (problem) {
    case FileProblem::NotFound: return "not_found";
    case FileProblem::NotRegularFile: return "not_regular_file";
    case FileProblem::IsDirectory: return "is_directory";
    case FileProblem::TooLarge: return "too_large";
    case FileProblem::CannotRead: return "cannot_read";
    case FileProblem::OutOfMemory: return "out_of_memory";
    case FileProblem::DirectoryMissing: return "directory_missing";
    case FileProblem::DirectoryNotWritable: return "directory_not_writable";
    case FileProblem::ReadOnly: return "read_only";
    case FileProblem::NameTooLong: return "name_too_long";
    case FileProblem::CannotWrite: return "cannot_write";
    case FileProblem::CannotReplace: return "cannot_replace";
    case FileProblem::UnknownFormat: return "unknown_format";
    case FileProblem::ClassicOnlyFormat: return "classic_only_format";
    case FileProblem::UidNeeded: return "uid_needed";
    case FileProblem::RawDumpSize: return "raw_dump_size";
    case FileProblem::KeyFileSize: return "key_file_size";
    case FileProblem::UltraLightDumpSize: return "ultralight_dump_size";
    case FileProblem::NoSectors: return "no_sectors";
    case FileProblem::JsonUnreadable: return "json_unreadable";
    case FileProblem::JsonSyntax: return "json_syntax";
    case FileProblem::JsonWrongType: return "json_wrong_type";
    case FileProblem::DuplicateName: return "duplicate_name";
    case FileProblem::MissingBlocks: return "missing_blocks";
    case FileProblem::NotKeyFile: return "not_key_file";
    case FileProblem::MissingField: return "missing_field";
    case FileProblem::NotFlipperFile: return "not_flipper_file";
    case FileProblem::NotThisFamily: return "not_this_family";
    case FileProblem::BadClassicType: return "bad_classic_type";
    case FileProblem::SakSaysMini: return "sak_says_mini";
    case FileProblem::ExpectedKeyValue: return "expected_key_value";
    case FileProblem::BadSectorHeader: return "bad_sector_header";
    case FileProblem::BlockBeforeSector: return "block_before_sector";
    case FileProblem::DeadSectorAfterBlocks: return "dead_sector_after_blocks";
    case FileProblem::DuplicateSector: return "duplicate_sector";
    case FileProblem::TooManyBlocks: return "too_many_blocks";
    case FileProblem::SectorBlockCount: return "sector_block_count";
    case FileProblem::BlockCount: return "block_count";
    case FileProblem::BadBlockLine: return "bad_block_line";
    case FileProblem::BadHex: return "bad_hex";
    case FileProblem::BadSpacedBytes: return "bad_spaced_bytes";
    case FileProblem::BadSpacedByte: return "bad_spaced_byte";
    case FileProblem::BadKey: return "bad_key";
    case FileProblem::BadValue: return "bad_value";
    case FileProblem::BadBlockLabel: return "bad_block_label";
    case FileProblem::NumberOutOfRange: return "number_out_of_range";
    case FileProblem::BeyondCard: return "beyond_card";
    case FileProblem::BeyondMini: return "beyond_mini";
    case FileProblem::DuplicateBlock: return "duplicate_block";
    case FileProblem::ConflictingKey: return "conflicting_key";
    case FileProblem::PageCountFitsNoCard: return "page_count_fits_no_card";
    case FileProblem::PageCountDiffers: return "page_count_differs";
    case FileProblem::MorePagesRead: return "more_pages_read";
    }
    return "";
}

}  // namespace zelkor::words
