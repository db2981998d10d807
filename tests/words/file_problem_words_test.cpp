// Every file problem through every renderer: English (also what()), Chinese
// and the name scripts rely on.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "card/file_problem.h"
#include "tests/support/text_checks.h"
#include "words/file_problem_words.h"

namespace zc = zelkor::card;
namespace zw = zelkor::words;
using P = zc::FileProblem;

namespace {

struct Sample {
    P problem;
    zc::FileProblemArgs args;
    std::vector<std::string> shown;  // arguments both languages must show
};

// At least one row for each code; codes whose arguments choose among
// wordings have a row for each.
std::vector<Sample> Samples() {
    using U = zc::FileUnit;
    const std::vector<std::string> sizes = {"16", "20", "41", "45", "135", "231"};
    return {
        {P::NotFound, {}, {}},
        {P::NotRegularFile, {}, {}},
        {P::IsDirectory, {}, {}},
        {P::TooLarge, {.limit = 16u << 20}, {"16"}},
        {P::CannotRead, {.system_error = 13}, {}},
        {P::OutOfMemory, {}, {}},
        {P::DirectoryMissing, {}, {}},
        {P::DirectoryNotWritable, {.system_error = 30}, {}},
        {P::ReadOnly, {}, {}},
        {P::NameTooLong, {}, {}},
        {P::CannotWrite, {.system_error = 28}, {}},
        {P::CannotReplace, {.system_error = 18}, {}},
        {P::UnknownFormat, {}, {}},
        {P::UnknownFormat, {.choices = {".mct", ".eml"}}, {".mct", ".eml"}},
        {P::UnknownFormat, {.choices = {".bin", ".nfc"}, .writing = true}, {".bin", ".nfc"}},
        {P::ClassicOnlyFormat, {.name = "mct"}, {".mct"}},
        {P::ClassicOnlyFormat, {.name = "eml", .choices = {".nfc", ".json"}, .kind = "NTAG215", .writing = true},
         {".eml", ".nfc", ".json", "NTAG215"}},
        {P::UidNeeded, {.name = "nfc", .writing = true}, {".nfc"}},
        {P::RawDumpSize, {.actual = 1000}, {"1000"}},
        {P::KeyFileSize, {.actual = 1024, .flag = true}, {"1024"}},
        {P::UltraLightDumpSize, {.choices = sizes, .actual = 100}, {"100", "25", "135"}},
        {P::NoSectors, {}, {}},
        {P::JsonUnreadable, {.found = "number overflow"}, {"number overflow"}},
        {P::JsonSyntax, {.found = "unexpected ','"}, {"unexpected ','"}},
        {P::JsonWrongType, {.json_type = zc::JsonType::Object}, {}},
        {P::JsonWrongType, {.json_type = zc::JsonType::String}, {}},
        {P::JsonWrongType, {.json_type = zc::JsonType::Boolean}, {}},
        {P::DuplicateName, {.found = "blocks"}, {"blocks"}},
        {P::MissingBlocks, {.unit = U::Blocks}, {}},
        {P::MissingBlocks, {.unit = U::Pages}, {}},
        {P::NotKeyFile, {}, {}},
        {P::MissingField, {.name = "Device type"}, {"Device type"}},
        {P::NotFlipperFile, {}, {}},
        {P::NotThisFamily, {.found = "mfu", .choices = {"mfcard", "mfc v2"}}, {"mfu", "mfcard", "mfc v2"}},
        {P::NotThisFamily, {.found = "ISO15693", .kind_field = zc::KindField::DeviceType}, {"ISO15693"}},
        {P::NotThisFamily, {.choices = {"mfu"}, .family = zc::CardFamily::UltraLight}, {"mfu"}},
        {P::NotThisFamily, {.found = "Mifare Classic", .family = zc::CardFamily::UltraLight, .kind_field = zc::KindField::DeviceType},
         {"Mifare Classic"}},
        {P::NotThisFamily, {.found = "NTAG424", .family = zc::CardFamily::UltraLight, .kind_field = zc::KindField::UltraLightType},
         {"NTAG424"}},
        {P::NotThisFamily, {.found = "Plus", .family = zc::CardFamily::UltraLight, .kind_field = zc::KindField::Kind}, {"Plus"}},
        {P::BadClassicType, {.choices = {"MINI", "1K", "4K"}}, {"MINI", "1K", "4K"}},
        {P::SakSaysMini, {.name = "1K"}, {"1K"}},
        {P::ExpectedKeyValue, {.found = "Block4"}, {"Block4"}},
        {P::BadSectorHeader, {.found = "+Sector: 40", .expected = 39}, {"+Sector: 40", "39"}},
        {P::BlockBeforeSector, {}, {}},
        {P::DeadSectorAfterBlocks, {}, {}},
        {P::DuplicateSector, {.number = 7}, {"7"}},
        {P::TooManyBlocks, {.number = 33}, {"33"}},
        {P::SectorBlockCount, {.number = 35, .actual = 3, .expected = 16}, {"35", "3", "16"}},
        {P::BlockCount, {.actual = 19}, {"19"}},
        {P::BadBlockLine, {.found = "00ZZ", .flag = true}, {"00ZZ"}},
        {P::BadBlockLine, {.found = "00YY"}, {"00YY"}},
        {P::BadHex, {}, {}},
        {P::BadHex, {.expected = 4}, {"4"}},
        {P::BadHex, {.expected = 32, .flag = true}, {"32"}},
        {P::BadSpacedBytes, {.expected = 16}, {"16"}},
        {P::BadSpacedBytes, {.found = "01 02", .expected = 4, .unit = U::Pages}, {"01 02", "4"}},
        {P::BadSpacedByte, {.found = "ZZZ"}, {"ZZZ"}},
        {P::BadKey, {}, {}},
        {P::BadKey, {.found = "FFFFF"}, {"FFFFF"}},
        {P::BadValue, {.found = "01 0G", .value = zc::FileValue::Uid}, {"01 0G"}},
        {P::BadValue, {.found = "four", .value = zc::FileValue::Version}, {"four"}},
        {P::BadValue, {.found = "x", .value = zc::FileValue::PageNumber}, {"x"}},
        {P::BadValue, {.found = "y", .value = zc::FileValue::PageCount}, {"y"}},
        {P::BadValue, {.found = "0", .value = zc::FileValue::Atqa}, {"ATQA"}},
        {P::BadValue, {.found = "1", .value = zc::FileValue::Sak}, {"SAK"}},
        {P::BadBlockLabel, {.found = "Block x"}, {"Block x"}},
        {P::NumberOutOfRange, {.expected = 255}, {"255"}},
        {P::NumberOutOfRange, {.expected = 39, .unit = U::Sectors}, {"39"}},
        {P::BeyondCard, {.kind = "1K", .number = 64}, {"1K", "64"}},
        {P::BeyondCard, {.kind = "NTAG213", .number = 50, .expected = 45, .unit = U::Pages}, {"NTAG213", "50", "45"}},
        {P::BeyondMini, {.number = 20}, {"20"}},
        {P::DuplicateBlock, {.other_place = "/blocks/04", .number = 4}, {"/blocks/04", "4"}},
        {P::DuplicateBlock, {.number = 5, .other_line = 12}, {"5", "12"}},
        {P::ConflictingKey, {.found = "A0A1A2A3A4A5", .other_place = "/blocks/3", .other_value = "FFFFFFFFFFFF", .key_type = zelkor::card::KeyType::B},
         {"A0A1A2A3A4A5", "/blocks/3", "FFFFFFFFFFFF", "B"}},
        {P::PageCountFitsNoCard, {.choices = sizes, .actual = 30}, {"30", "231"}},
        {P::PageCountDiffers, {.kind = "NTAG216", .actual = 45, .expected = 231}, {"NTAG216", "45", "231"}},
        {P::MorePagesRead, {}, {}},
    };
}

// The Chinese text without its arguments, quoted file text and the names
// that stay as they are, has no English word left.
std::string EnglishWordsLeft(std::string text, const std::vector<std::string> &shown) {
    for (const std::string &arg : shown) {
        for (auto at = text.find(arg); at != std::string::npos; at = text.find(arg)) text.erase(at, arg.size());
    }
    std::string unquoted;
    char quote = 0;
    for (const char c : text) {
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else {
            unquoted += c;
        }
    }
    static const std::set<std::string> kKept = {"MIFARE", "Mifare", "Classic", "UltraLight", "Mini", "MINI", "NTAG",
                                                "Flipper", "NFC", "JSON", "UID", "ATQA", "SAK", "MiB", "true",
                                                "false", "mct", "bin", "mfd", "json", "nfc", "eml", "K"};
    for (const std::string &token : zelkor::test::Tokens(unquoted)) {
        const bool card_size = token.size() > 1 && token.back() == 'K' &&
                               token.find_first_not_of("0123456789") == token.size() - 1;
        if (kKept.count(token) != 0 || card_size) continue;
        for (const std::string &word : zelkor::test::LatinWords(token)) {
            if (word.size() >= 2) return word;
        }
    }
    return std::string();
}

}  // namespace

TEST(FileProblemWords, EveryCodeInEveryLanguageWithItsArguments) {
    const std::vector<Sample> samples = Samples();
    std::set<P> covered;
    std::set<std::string> names;
    for (const Sample &s : samples) {
        const std::string name(zw::FileProblemName(s.problem));
        SCOPED_TRACE(name);
        const std::string english = zw::FileProblemText(s.problem, s.args, zw::Language::English);
        const std::string chinese = zw::FileProblemText(s.problem, s.args, zw::Language::Chinese);
        EXPECT_FALSE(english.empty());
        EXPECT_FALSE(chinese.empty());
        EXPECT_NE(english, chinese);
        EXPECT_TRUE(zelkor::test::IsSnakeCase(name)) << name;
        for (const std::string &arg : s.shown) {
            EXPECT_NE(english.find(arg), std::string::npos) << english << " lacks " << arg;
            EXPECT_NE(chinese.find(arg), std::string::npos) << chinese << " lacks " << arg;
        }
        EXPECT_EQ(EnglishWordsLeft(chinese, s.shown), "") << chinese;
        if (covered.insert(s.problem).second) {
            EXPECT_TRUE(names.insert(name).second) << "name used twice";
        }
    }
    EXPECT_EQ(static_cast<int>(covered.size()), zc::kFileProblemCount) << "a code without a row";
}

TEST(FileProblemWords, PlaceOfTheProblemInEachLanguage) {
    const struct {
        zc::FileError error;
        std::string english;
        std::string chinese;
    } cases[] = {
        {zc::FileError("a.mct", 3, P::DuplicateSector, {.number = 2}), "a.mct:3: sector 2 appears twice", "文件 a.mct 第 3 行：扇区 2 出现了两次"},
        {zc::FileError("b.json", "/blocks/9", P::BadHex, {.expected = 32, .flag = true}),
         "b.json: at /blocks/9: expected 32 hexadecimal digits ('-' for unknown)", "文件 b.json 的 /blocks/9 处：应为 32 位十六进制数字（'-' 表示未知）"},
        {zc::FileError("c.bin", P::NotFound), "c.bin: no such file", "文件 c.bin：文件不存在"},
        // Text of a hostile file can neither steer a terminal nor flood it.
        {zc::FileError("d\x1b.eml", 1, P::BadBlockLine, {.found = "\x1b[2J" + std::string(300, 'x')}),
         "d\\x1B.eml:1: expected a block of 32 hexadecimal digits, found '\\x1B[2J" + std::string(143, 'x') + "...",
         "文件 d\\x1B.eml 第 1 行：应为 32 位十六进制数字的块，实际是 '\\x1B[2J" + std::string(193, 'x') + "...'"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.error.what(), c.english);
        EXPECT_EQ(zw::FileErrorText(c.error, zw::Language::English), c.english);
        EXPECT_EQ(zw::FileErrorText(c.error, zw::Language::Chinese), c.chinese);
    }
}
