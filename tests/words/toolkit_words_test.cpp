// Every code of the card toolkit through every renderer: English, Chinese and
// the code name for --json.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "card/restore.h"
#include "card/step_groups.h"
#include "tests/support/text_checks.h"
#include "words/plan_text.h"
#include "words/toolkit_words.h"

namespace zc = zelkor::card;
namespace zw = zelkor::words;

namespace {

const std::vector<std::uint8_t> kCardUid{0x11, 0x22, 0x33, 0x44};
const std::vector<std::uint8_t> kFileUid{0x01, 0x02, 0x03, 0x04};

// One code with its arguments set to values that are easy to find in a text.
struct CodeCase {
    std::string name;  // Enum_code_name
    std::string code_name;
    std::function<std::string(zw::Language)> text;
    std::vector<std::string> arguments;  // each appears in both languages
    bool may_be_empty = false;           // "none": a plain write
};

template <class Code>
void Add(std::vector<CodeCase> &cases, const char *family, Code code, std::function<std::string(zw::Language)> text,
         std::vector<std::string> arguments, bool may_be_empty = false) {
    const std::string code_name(zw::CodeName(code));
    cases.push_back({std::string(family) + "_" + code_name, code_name, std::move(text), std::move(arguments), may_be_empty});
}

zc::RestoreStep StepWith(zc::StepCode code, bool forced) {
    zc::RestoreStep step;
    step.code = code;
    step.forced = forced;
    step.sector = 7;
    step.condition = 6;  // "110"
    step.writer = zc::Access::KeyB;
    step.bytes = {0xFF, 0x07, 0x00, 0x69};
    step.uid = kCardUid;
    step.file_uid = kFileUid;
    step.file_kind = zc::CardKind::Classic4K;
    step.card_kind = zc::CardKind::Mini;
    return step;
}

std::vector<std::string> StepArguments(zc::StepCode code, bool forced) {
    using C = zc::StepCode;
    switch (code) {
    case C::AccessBitsUnknown:
    case C::AccessBitsInconsistent: return {"7"};
    case C::ReadOnly: return {"110"};
    case C::WriteKeyUnknown: return {"B"};
    case C::TrailerAccessInconsistent: return {"FF070069"};
    case C::AccessBitsFrozen: return forced ? std::vector<std::string>{} : std::vector<std::string>{"110"};
    case C::UidDiffers: return {"01020304", "11223344"};
    case C::UidUnknown: return {"11223344"};
    case C::KindDiffers:
    case C::FileTooLarge: return {"4K", "Mini"};
    default: return {};
    }
}

zc::FileWarning WarningWith(zc::FileWarningCode code) {
    zc::FileWarning warning;
    warning.code = code;
    warning.key = zc::KeyType::B;
    warning.sectors = {1, 2, 5};
    warning.count = 13;
    warning.kind = zc::CardKind::Mini;
    warning.format = zc::DumpFormat::Bin;
    warning.uid = kCardUid;
    return warning;
}

std::vector<std::string> WarningArguments(zc::FileWarningCode code) {
    using C = zc::FileWarningCode;
    switch (code) {
    case C::KeyUnknown: return {"B", "1, 2, 5"};
    case C::UnknownBytesWrittenAsZeros: return {"13"};
    case C::AtqaAssumed:
    case C::SakAssumed: return {"Mini"};
    case C::UidNotKept: return {"11223344"};
    case C::UidFromManufacturerBlock: return {};
    }
    return {};
}

std::vector<CodeCase> AllCodes() {
    std::vector<CodeCase> cases;
    for (const zc::StepCode code : zc::kAllStepCodes) {
        for (const bool forced : {false, true}) {
            const zc::RestoreStep step = StepWith(code, forced);
            Add(cases, forced ? "StepForced" : "Step", code, [step](zw::Language l) { return zw::Text(step, l); },
                StepArguments(code, forced), code == zc::StepCode::None);
        }
    }
    for (const zc::BlockFailureCode code : zc::kAllBlockFailureCodes) {
        const zc::BlockFailure failure{5, code, zc::KeyType::B};
        Add(cases, "BlockFailure", code, [failure](zw::Language l) { return zw::Text(failure, l); },
            code == zc::BlockFailureCode::KeyNotAccepted ? std::vector<std::string>{"B"} : std::vector<std::string>{});
    }
    for (const zc::FileWarningCode code : zc::kAllFileWarningCodes) {
        const zc::FileWarning warning = WarningWith(code);
        Add(cases, "FileWarning", code, [warning](zw::Language l) { return zw::Text(warning, l); }, WarningArguments(code));
    }
    for (const zc::Selection outcome : zc::kAllSelections) {
        const zc::Reselection found{outcome, outcome == zc::Selection::OtherCard ? kFileUid : std::vector<std::uint8_t>{}};
        std::vector<std::string> arguments;
        if (outcome != zc::Selection::ReaderGone) arguments.push_back("11223344");
        if (outcome == zc::Selection::OtherCard) arguments.push_back("01020304");
        Add(cases, "CardLoss", outcome, [found](zw::Language l) { return zw::Text(found, kCardUid, l); }, arguments);
    }
    for (const zc::UltraLightStepReason reason : zc::kAllUltraLightStepReasons) {
        Add(cases, "PageStep", reason, [reason](zw::Language l) { return zw::Text(reason, l); }, {},
            reason == zc::UltraLightStepReason::None);
    }
    for (const zc::PageFailureReason reason : zc::kAllPageFailureReasons) {
        Add(cases, "PageFailure", reason, [reason](zw::Language l) { return zw::Text(reason, l); }, {});
    }
    for (const zc::UltraLightFileWarning warning : zc::kAllUltraLightFileWarnings) {
        const zc::UltraLightFileNote note{warning, {4, 5, 9}};
        const bool pages = warning != zc::UltraLightFileWarning::IdentityAssumed;
        Add(cases, "PageFileWarning", warning, [note](zw::Language l) { return zw::Text(note, l); },
            pages ? std::vector<std::string>{"4", "5", "9"} : std::vector<std::string>{});
    }
    for (const zc::Stage stage : zc::kAllStages) {
        Add(cases, "Stage", stage, [stage](zw::Language l) { return zw::Text(stage, l); }, {});
    }
    return cases;
}

// Latin words a Chinese text may hold: protocol names, key letters, card
// kinds, the --force option; hexadecimal digits are allowed too.
bool AllowedInChinese(const std::string &word) {
    static const std::set<std::string> kAllowed = {"UID", "ATQA", "SAK", "A", "B", "K", "Mini", "force"};
    return kAllowed.count(word) != 0 || word.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

class EveryCode : public ::testing::TestWithParam<CodeCase> {};

TEST_P(EveryCode, IsRenderedInEveryLanguageWithItsArguments) {
    const CodeCase &c = GetParam();
    EXPECT_FALSE(c.code_name.empty());
    EXPECT_TRUE(zelkor::test::IsSnakeCase(c.code_name)) << c.code_name;
    const std::string english = c.text(zw::Language::English);
    const std::string chinese = c.text(zw::Language::Chinese);
    if (c.may_be_empty) return;
    ASSERT_FALSE(english.empty());
    ASSERT_FALSE(chinese.empty());
    EXPECT_NE(english, chinese);
    for (const std::string &argument : c.arguments) {
        EXPECT_NE(english.find(argument), std::string::npos) << english << " lacks " << argument;
        EXPECT_NE(chinese.find(argument), std::string::npos) << chinese << " lacks " << argument;
    }
    for (const std::string &word : zelkor::test::LatinWords(chinese))
        EXPECT_TRUE(AllowedInChinese(word)) << "\"" << word << "\" in " << chinese;
}

INSTANTIATE_TEST_SUITE_P(Toolkit, EveryCode, ::testing::ValuesIn(AllCodes()),
                         [](const ::testing::TestParamInfo<CodeCase> &instance) { return instance.param.name; });

TEST(CodeNames, AreDistinctWithinEachFamily) {
    std::map<std::string, std::set<std::string>> names;  // family -> code names
    for (const CodeCase &c : AllCodes()) {
        const std::string family = c.name.substr(0, c.name.size() - c.code_name.size() - 1);
        if (family == "StepForced") continue;  // the same codes as Step
        EXPECT_TRUE(names[family].insert(c.code_name).second) << c.name;
    }
}

// The command-line layout of a plan: card-wide and fatal lines first, then
// the blocks grouped by reason as ranges, then the counts, in both languages.
TEST(PlanText, GroupsBlocksByReasonIntoRanges) {
    zc::RestorePlan plan;
    auto add = [&plan](int block, zc::StepAction action, zc::StepCode code, bool fatal) {
        zc::RestoreStep &step = plan.steps.emplace_back(StepWith(code, false));
        step.block = block;
        step.action = action;
        step.fatal = fatal;
    };
    add(-1, zc::StepAction::Skip, zc::StepCode::KindDiffers, false);
    add(0, zc::StepAction::Skip, zc::StepCode::ManufacturerBlock, false);
    for (const int block : {1, 2, 6}) add(block, zc::StepAction::Skip, zc::StepCode::AlreadyOnCard, false);
    add(4, zc::StepAction::Write, zc::StepCode::None, false);
    add(5, zc::StepAction::Skip, zc::StepCode::ReadOnly, true);

    EXPECT_EQ(zw::PlanText(plan, zw::Language::English),
              "skip: the file is a 4K dump, the card a Mini card: only the file's blocks are written\n"
              "FATAL: block 5: block is read-only (access bits 110)\n"
              "skip: manufacturer block: never written (block 0)\n"
              "skip: the card already holds these bytes (blocks 1-2, 6)\n"
              "1 block(s) to write, 5 to skip");
    EXPECT_EQ(zw::PlanText(plan, zw::Language::Chinese),
              "跳过：文件是 4K 卡的数据，卡片是 Mini 卡：只写入文件中有的块\n"
              "错误：块 5：只读块（控制位 110）\n"
              "跳过：厂商块，从不写入（块 0）\n"
              "跳过：卡上已是相同的数据（块 1-2, 6）\n"
              "将写入 1 块，跳过 5 块");
}

}  // namespace
