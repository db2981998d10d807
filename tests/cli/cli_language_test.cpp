// The command-line program speaks Chinese when the locale asks for it and
// English otherwise; JSON output is the same in both.
#include <cstdlib>
#include <filesystem>
#include <optional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/cli/program_runner.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "sim/simulator.h"
#include "words/language.h"
#include "tests/support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using cli_testing::RunResult;
using zelkor::words::Language;

constexpr int kPort = 7;
const std::string kPortText = std::to_string(kPort);

class CliLanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        model_->PutCard(card_);
        ASSERT_TRUE(sim_.Start());
        ASSERT_TRUE(sim_.Publish(dir_, kPort));
    }
    void TearDown() override {
        sim_.Stop();
    }

    // Arguments starting with "@" name a file in the test's directory.
    RunResult Zelkor(std::vector<std::string> args, std::vector<std::string> locale) {
        for (auto &arg : args) {
            if (arg.starts_with("@")) arg = dir_ + "/" + arg.substr(1);
        }
        locale.push_back("ZELKOR_PORT_DIR=" + dir_);
        runner_.SetEnvironment(locale);
        return runner_.Run(args);
    }
    // card.mct as the card is, changed.mct with byte 2 of block 4 changed.
    void DumpTwoVersions() {
        ASSERT_EQ(Zelkor({"dump", "-p", kPortText, "-o", "@card.mct"}, {}).status, 0);
        model_->Inspect([&] { card_->raw(4)[2] ^= 0xFF; });
        ASSERT_EQ(Zelkor({"dump", "-p", kPortText, "-o", "@changed.mct"}, {}).status, 0);
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::shared_ptr<sim::MifareClassic> card_ = sim::MakeDemoS50(sim::kFactoryKey);
    sim::Simulator sim_{model_};
    cli_testing::ProgramRunner runner_{ZELKOR_CLI_PROGRAM};
    const zelkor::test::TempDir temp_{"zelkor-language"};
    const std::string dir_ = temp_.path();
};

const std::vector<std::string> kChinese = {"LANG=zh_CN.UTF-8"};
const std::vector<std::vector<std::string>> kEnglish = {{}, {"LANG=zh_CN.UTF-8", "LC_ALL=C"}};

struct SpokenCase {
    std::vector<std::string> args;
    bool on_stdout;  // else standard error
    std::string english;
    std::string chinese;
    int status;
};

TEST_F(CliLanguageTest, MessagesAndResultsFollowTheLocale) {
    DumpTwoVersions();
    const std::string port = kPortText;
    const SpokenCase cases[] = {
        {{"info", "-p", port}, true, "UID:           3A7C51E2", "卡号：    3A7C51E2", 0},
        {{"keys", "-p", port}, false, "sectors with both keys: 16 of 16", "两个密钥都找到的扇区：16 / 16", 0},
        {{"dump", "-p", port, "-o", "@out.mct"}, false, "64 of 64 blocks read", "读出 64 块，共 64 块", 0},
        {{"diff", "@card.mct", "@changed.mct"}, true, "block 4 (sector 1)", "块 4（扇区 1）", 1},
        {{"convert", "@card.mct", "@card.json"}, false, "64 of 64 blocks known", "已知 64 块，共 64 块", 0},
        {{"acl", "FF078069"}, true, "Transport configuration (FF0780)", "出厂控制字（FF0780）", 0},
        {{"value", "E803000017FCFFFFE803000005FA05FA"}, true, "Valid value block", "有效的数值块", 0},
        // A port list has words only for a device the user may not open.
        {{"ports"}, true, "COM" + port, "COM" + port, 0},
        {{"dump", "-p", port, "-o", "@card.txt"}, false, "unknown dump format", "不支持的文件类型", 2},
        {{"read", "-p", port, "4", "--key", "A0A1A2A3A4A5"}, false, "does not open sector 1", "验证扇区 1 失败", 1},
    };
    for (const auto &c : cases) {
        const std::string shown = c.args[0] + " " + c.args.back();
        const RunResult chinese = Zelkor(c.args, kChinese);
        EXPECT_EQ(chinese.status, c.status) << shown << "\n" << chinese.err;
        EXPECT_THAT(c.on_stdout ? chinese.out : chinese.err, HasSubstr(c.chinese)) << shown;
        if (c.english != c.chinese) {
            EXPECT_THAT(chinese.out + chinese.err, Not(HasSubstr(c.english))) << shown;
        }
        for (const auto &locale : kEnglish) {
            const RunResult english = Zelkor(c.args, locale);
            EXPECT_EQ(english.status, c.status) << shown << "\n" << english.err;
            EXPECT_THAT(c.on_stdout ? english.out : english.err, HasSubstr(c.english)) << shown;
            if (c.english != c.chinese) {
                EXPECT_THAT(english.out + english.err, Not(HasSubstr(c.chinese))) << shown;
            }
        }
    }
}

TEST_F(CliLanguageTest, JsonIsTheSameInBothLanguages) {
    DumpTwoVersions();
    const std::vector<std::vector<std::string>> commands = {
        {"info", "-p", kPortText},
        {"keys", "-p", kPortText},
        {"dump", "-p", kPortText, "-o", "@out.json"},
        {"diff", "@card.mct", "@changed.mct"},
        {"acl", "FF0700", "--large-sector"},
        {"value", "00000000FFFFFFFF0000000000FF00FF"},
        {"ports"},
    };
    for (auto args : commands) {
        args.push_back("--json");
        const RunResult english = Zelkor(args, {});
        const RunResult chinese = Zelkor(args, kChinese);
        EXPECT_FALSE(english.out.empty()) << args[0] << "\n" << english.err;
        EXPECT_EQ(chinese.out, english.out) << args[0];
        EXPECT_EQ(chinese.status, english.status) << args[0];
    }
}

// Sets the three variables for the scope; nullopt unsets one.
class ScopedLocale {
public:
    ScopedLocale(std::optional<std::string> all, std::optional<std::string> messages, std::optional<std::string> lang) {
        Set("LC_ALL", all);
        Set("LC_MESSAGES", messages);
        Set("LANG", lang);
    }
    ~ScopedLocale() {
        for (const auto &[name, value] : saved_) value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }

private:
    void Set(const char *name, const std::optional<std::string> &value) {
        const char *old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    std::vector<std::pair<const char *, std::optional<std::string>>> saved_;
};

TEST(LanguageFromEnvironment, FirstSetOfLcAllLcMessagesLangDecides) {
    const std::nullopt_t unset = std::nullopt;
    const struct {
        std::optional<std::string> all, messages, lang;
        Language expected;
    } cases[] = {
        {unset, unset, unset, Language::English},
        {unset, unset, "zh_CN.UTF-8", Language::Chinese},
        {unset, unset, "zh_TW.Big5", Language::Chinese},
        {unset, unset, "en_US.UTF-8", Language::English},
        {unset, unset, "C", Language::English},
        {unset, "zh_CN.UTF-8", "en_US.UTF-8", Language::Chinese},
        {unset, "en_US.UTF-8", "zh_CN.UTF-8", Language::English},
        {"C", "zh_CN.UTF-8", "zh_CN.UTF-8", Language::English},
        {"zh_CN.GBK", "en_US.UTF-8", "en_US.UTF-8", Language::Chinese},
        {"", "", "zh_CN.UTF-8", Language::Chinese},  // empty values are skipped
        {"", "en_GB.UTF-8", "zh_CN.UTF-8", Language::English},
        {unset, unset, "", Language::English},
    };
    for (const auto &c : cases) {
        const ScopedLocale locale(c.all, c.messages, c.lang);
        EXPECT_EQ(zelkor::words::LanguageFromEnvironment(), c.expected)
            << "LC_ALL=" << c.all.value_or("(unset)") << " LC_MESSAGES=" << c.messages.value_or("(unset)")
            << " LANG=" << c.lang.value_or("(unset)");
    }
}

}  // namespace
