// The command-line program with cards and files of the UltraLight family, end
// to end against the simulated reader: info, dump, the dump through every
// format that holds it, restore of user pages, protected pages, bad files.
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/cli/program_runner.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "sim/simulator.h"
#include "tests/support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using cli_testing::RunResult;
using Model = sim::UltraLight::Model;

constexpr int kPort = 8;

class CliUltraLightTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.Start());
        ASSERT_TRUE(sim_.Publish(dir_, kPort));
        runner_.SetEnvironment({"ZELKOR_PORT_DIR=" + dir_});
    }
    void TearDown() override {
        sim_.Stop();
    }
    RunResult Zelkor(const std::vector<std::string> &args) { return runner_.Run(args, 120000); }
    RunResult OnReader(const std::string &command, std::vector<std::string> args) {
        args.insert(args.begin(), {command, "-p", std::to_string(kPort)});
        return Zelkor(args);
    }
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void WriteText(const std::string &name, const std::string &text) const { std::ofstream(Path(name)) << text; }
    std::array<std::uint8_t, 4> Memory(const sim::UltraLight &card, int page) const {
        std::array<std::uint8_t, 4> out{};
        model_->Inspect([&] { out = card.page(page); });
        return out;
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    sim::Simulator sim_{model_};
    cli_testing::ProgramRunner runner_{ZELKOR_CLI_PROGRAM};
    const zelkor::test::TempDir temp_{"zelkor-cli-ul"};
    const std::string dir_ = temp_.path();
};

struct KindCase {
    Model model;
    const char *name;
    int pages;
    int last_user;
};

class CliUltraLightKinds : public CliUltraLightTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(CliUltraLightKinds, InfoDumpFormatsAndRestoreOfUserPages) {
    const KindCase c = GetParam();
    const auto source = sim::MakeDemoUltraLight(c.model);
    model_->PutCard(source);

    const RunResult info = OnReader("info", {"--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    const auto facts = nlohmann::json::parse(info.out);
    EXPECT_EQ(facts["kind"], c.name);
    EXPECT_EQ(facts["pages"], c.pages);
    EXPECT_EQ(facts["uid"].get<std::string>().size(), 14u);  // the whole 7-byte UID

    ASSERT_EQ(OnReader("dump", {"-o", Path("card.nfc")}).status, 0);
    for (const char *other : {"card.json", "card.bin"}) {
        ASSERT_EQ(Zelkor({"convert", Path("card.nfc"), Path(other)}).status, 0) << other;
        const RunResult same = Zelkor({"diff", Path("card.nfc"), Path(other)});
        EXPECT_EQ(same.status, 0) << other << "\n" << same.out << same.err;
    }
    const RunResult mct = Zelkor({"convert", Path("card.json"), Path("card.mct")});
    EXPECT_EQ(mct.status, 2);
    EXPECT_THAT(mct.err, HasSubstr("MIFARE Classic sectors only"));

    // Onto a card of the same kind with another UID: the plan first, then --force.
    auto target = std::make_shared<sim::UltraLight>(std::array<std::uint8_t, 7>{0x04, 9, 8, 7, 6, 5, 4}, c.model);
    model_->PutCard(target);
    const RunResult refused = OnReader("restore", {"-i", Path("card.bin")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_THAT(refused.err, HasSubstr("FATAL: card: the card has another UID"));
    EXPECT_THAT(refused.err, HasSubstr("skip: UID page, never written (pages 0-1)"));
    EXPECT_THAT(refused.err, HasSubstr("skip: UID check byte and lock bytes, never written (page 2)"));
    EXPECT_EQ(Memory(*target, 4), (std::array<std::uint8_t, 4>{}));

    const RunResult restored = OnReader("restore", {"-i", Path("card.bin"), "--force"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    const int user_pages = c.last_user - 3;
    EXPECT_THAT(restored.err, HasSubstr(std::to_string(user_pages) + " page(s) written"));
    EXPECT_THAT(restored.err, HasSubstr(std::to_string(user_pages) + " verified"));
    for (int page = 4; page <= c.last_user; ++page) {
        EXPECT_EQ(Memory(*target, page), Memory(*source, page)) << "page " << page;
    }
    EXPECT_EQ(Memory(*target, 0)[1], 9);
}

INSTANTIATE_TEST_SUITE_P(Cli, CliUltraLightKinds,
                         ::testing::Values(KindCase{Model::UltraLight, "UltraLight", 16, 15},
                                           KindCase{Model::Ev1Small, "UltraLight EV1 (20 pages)", 20, 15},
                                           KindCase{Model::Ev1Large, "UltraLight EV1 (41 pages)", 41, 35},
                                           KindCase{Model::Ntag213, "NTAG213", 45, 39},
                                           KindCase{Model::Ntag215, "NTAG215", 135, 129},
                                           KindCase{Model::Ntag216, "NTAG216", 231, 225}),
                         [](const auto &instance) { return "Pages" + std::to_string(instance.param.pages); });

TEST_F(CliUltraLightTest, ProtectedPagesAreReportedUnreadableAndRefuseARestore) {
    const auto open = sim::MakeDemoUltraLight(Model::Ntag213);
    model_->PutCard(open);
    ASSERT_EQ(OnReader("dump", {"-o", Path("open.json")}).status, 0);

    const auto locked = sim::MakeProtectedNtag();
    model_->PutCard(locked);
    const RunResult dump = OnReader("dump", {"-o", Path("locked.json")});
    EXPECT_EQ(dump.status, 1);  // partial
    EXPECT_THAT(dump.err, HasSubstr("pages 16-44 cannot be read (password protected)"));
    const auto file = nlohmann::json::parse(std::ifstream(Path("locked.json")));
    EXPECT_EQ(file["Kind"], "NTAG213");
    EXPECT_EQ(file["blocks"]["15"].get<std::string>().find('-'), std::string::npos);
    EXPECT_EQ(file["blocks"]["16"], "--------");
    EXPECT_EQ(file["Partial"], true);

    const RunResult restore = OnReader("restore", {"-i", Path("open.json")});
    EXPECT_EQ(restore.status, 1);
    EXPECT_THAT(restore.err, HasSubstr("FATAL: page 16: cannot be read on the card (password protected)"));
    EXPECT_THAT(restore.err, HasSubstr("nothing written"));
}

// A read that stopped at the password neither replaces a good file nor puts
// zeros for the unread pages into a raw dump unless asked to.
TEST_F(CliUltraLightTest, IncompleteReadGoesBesideAGoodFileAndIntoARawDumpOnlyWithFillUnknown) {
    model_->PutCard(sim::MakeProtectedNtag());
    const auto read = [&](const std::string &name) {
        std::ostringstream text;
        text << std::ifstream(Path(name), std::ios::binary).rdbuf();
        return text.str();
    };
    WriteText("good.nfc", "a good file");
    const RunResult beside = OnReader("dump", {"-o", Path("good.nfc")});
    EXPECT_EQ(beside.status, 1) << beside.err;
    EXPECT_EQ(read("good.nfc"), "a good file");
    EXPECT_THAT(read("good.partial.nfc"), HasSubstr("NTAG213"));

    const RunResult raw = OnReader("dump", {"-o", Path("raw.bin")});
    EXPECT_EQ(raw.status, 1) << raw.err;
    EXPECT_FALSE(std::filesystem::exists(Path("raw.bin")));
    EXPECT_THAT(raw.err, HasSubstr("--fill-unknown zeros"));
    const RunResult refused = Zelkor({"convert", Path("raw.partial.json"), Path("raw.bin")});
    EXPECT_EQ(refused.status, 2) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(Path("raw.bin")));

    const RunResult filled = OnReader("dump", {"--fill-unknown", "zeros", "-o", Path("raw.bin")});
    EXPECT_EQ(filled.status, 1) << filled.err;
    EXPECT_EQ(std::filesystem::file_size(Path("raw.bin")), 45u * 4u);
}

TEST_F(CliUltraLightTest, BadFilesAreRefusedWithTheirLineBeforeTheCardIsTouched) {
    const auto card = sim::MakeDemoUltraLight(Model::Ntag213);
    model_->PutCard(card);
    WriteText("bad.nfc",
              "Filetype: Flipper NFC device\nVersion: 4\nDevice type: NTAG/Ultralight\n"
              "NTAG/Ultralight type: NTAG213\nPages total: 46\n");
    WriteText("bad.json", R"({"FileType": "mfu", "blocks": {"0": "04000000", "29": "00000000"}})");
    WriteText("other.nfc",
              "Filetype: Flipper NFC device\nVersion: 4\nDevice type: NTAG/Ultralight\n"
              "NTAG/Ultralight type: NTAG213\nPage 5: 01 02 03 04\n");
    const struct {
        std::vector<std::string> args;
        std::string where;
    } cases[] = {
        {{"diff", Path("bad.nfc"), Path("other.nfc")}, Path("bad.nfc") + ":5:"},
        {{"convert", Path("bad.json"), Path("out.nfc")}, Path("bad.json") + ": at /blocks:"},
        {{"restore", "-p", std::to_string(kPort), "-i", Path("bad.json")}, Path("bad.json") + ": at /blocks:"},
    };
    for (const auto &c : cases) {
        const RunResult run = Zelkor(c.args);
        EXPECT_EQ(run.status, 2) << c.args[0] << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.where));
    }
    EXPECT_EQ(Memory(*card, 5), (std::array<std::uint8_t, 4>{0x09, 0x54, 0x02, 0x65}));
    EXPECT_FALSE(std::filesystem::exists(Path("out.nfc")));
}

}  // namespace
