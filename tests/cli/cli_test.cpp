// The command-line program end to end: run as a child process against the
// simulated reader, published as COM7 in a private ZELKOR_PORT_DIR, with its
// files in a private directory.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/support/event_after_writes.h"
#include "tests/cli/program_runner.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "sim/simulator.h"
#include "tests/support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using cli_testing::RunResult;

constexpr int kPort = 7;
const std::string kPortText = std::to_string(kPort);

std::string Hex(const sim::Block &block) {
    std::string text;
    char piece[3];
    for (std::uint8_t b : block) {
        std::snprintf(piece, sizeof piece, "%02X", b);
        text += piece;
    }
    return text;
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        model_->PutCard(source_);
        ASSERT_TRUE(sim_.Start());
        ASSERT_TRUE(sim_.Publish(dir_, kPort));
        runner_.SetEnvironment({"ZELKOR_PORT_DIR=" + dir_});
    }
    void TearDown() override {
        sim_.Stop();
    }

    RunResult Zelkor(const std::vector<std::string> &args, int timeout_ms = 90000) {
        return runner_.Run(args, timeout_ms);
    }
    // `command` -p 7 `args`...
    RunResult OnReader(const std::string &command, std::vector<std::string> args) {
        args.insert(args.begin(), {command, "-p", kPortText});
        return Zelkor(args);
    }
    // A block as the simulated card holds it, read under the model's lock.
    sim::Block Memory(const sim::MifareClassic &card, int block) const {
        sim::Block out{};
        model_->Inspect([&] { out = card.raw(block); });
        return out;
    }
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void WriteText(const std::string &name, const std::string &text) const { std::ofstream(Path(name)) << text; }
    std::string ReadText(const std::string &name) const {
        std::ostringstream text;
        text << std::ifstream(Path(name)).rdbuf();
        return text.str();
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    std::shared_ptr<sim::MifareClassic> source_ = sim::MakeDemoS50(sim::kFactoryKey);
    sim::Simulator sim_{model_};
    cli_testing::ProgramRunner runner_{ZELKOR_CLI_PROGRAM};
    const zelkor::test::TempDir temp_{"zelkor-cli"};
    const std::string dir_ = temp_.path();
};

TEST_F(CliTest, KeysSearchesADictionaryAndWritesTheKeyMap) {
    model_->PutCard(sim::MakeDemoS50(sim::kDemoKey));
    WriteText("site.dic", "# keys of the site\n\nA0A1A2A3A4A5\n5a3c96e10f7b\n");

    const RunResult run = OnReader("keys", {"--no-builtin", "-k", Path("site.dic"), "-o", Path("found.json")});

    ASSERT_EQ(run.status, 0) << run.err;
    const auto map = nlohmann::json::parse(ReadText("found.json"));
    for (int sector = 0; sector < 16; ++sector) {
        const auto &keys = map["SectorKeys"][std::to_string(sector)];
        EXPECT_EQ(keys["KeyA"], "5A3C96E10F7B") << "sector " << sector;
        EXPECT_EQ(keys["KeyB"], "5A3C96E10F7B") << "sector " << sector;
    }
    EXPECT_FALSE(map.contains("Partial"));
    EXPECT_THAT(run.err, HasSubstr("sector 15"));

    // The key map opens every sector for a dump on its own.
    const RunResult dump = OnReader("dump", {"--no-builtin", "-k", Path("found.json"), "-o", Path("card.mct")});
    EXPECT_EQ(dump.status, 0) << dump.err;
}

TEST_F(CliTest, DumpsInEveryFormatCompareEqualAndDiffShowsAChange) {
    ASSERT_EQ(OnReader("dump", {"-o", Path("card.mct")}).status, 0);
    const std::string mct = ReadText("card.mct");
    EXPECT_THAT(mct, HasSubstr("+Sector: 0\n"));
    EXPECT_THAT(mct, HasSubstr(Hex(Memory(*source_, 4)) + "\n"));
    EXPECT_THAT(mct, HasSubstr("FFFFFFFFFFFFFF078069FFFFFFFFFFFF\n"));  // trailers carry the keys found

    ASSERT_EQ(OnReader("dump", {"-o", Path("card.nfc")}).status, 0);
    ASSERT_EQ(Zelkor({"convert", Path("card.nfc"), Path("card.json")}).status, 0);
    ASSERT_EQ(Zelkor({"convert", Path("card.json"), Path("card.bin")}).status, 0);
    for (const char *other : {"card.nfc", "card.json", "card.bin"}) {
        const RunResult same = Zelkor({"diff", Path("card.mct"), Path(other)});
        EXPECT_EQ(same.status, 0) << other << "\n" << same.out << same.err;
    }

    model_->Inspect([&] { source_->raw(4)[2] ^= 0xFF; });
    ASSERT_EQ(OnReader("dump", {"-o", Path("changed.mfd")}).status, 0);
    const RunResult changed = Zelkor({"diff", "--json", Path("card.mct"), Path("changed.mfd")});
    EXPECT_EQ(changed.status, 1);
    const auto diff = nlohmann::json::parse(changed.out);
    ASSERT_EQ(diff["blocks"].size(), 1u) << changed.out;
    EXPECT_EQ(diff["blocks"][0]["block"], 4);
    EXPECT_EQ(diff["blocks"][0]["differing_bytes"], nlohmann::json::array({2}));
}

TEST_F(CliTest, RestoreOntoABlankCardNeedsForceForItsUidThenWritesAndVerifies) {
    ASSERT_EQ(OnReader("dump", {"-o", Path("source.mct")}).status, 0);
    auto blank = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50,
                                                      std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x44},
                                                      sim::kFactoryKey, sim::kFactoryKey, sim::kTransportAccess);
    model_->PutCard(blank);
    const sim::Block blank_block_4 = Memory(*blank, 4);

    const RunResult refused = OnReader("restore", {"-i", Path("source.mct")});
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("nothing written"));
    EXPECT_EQ(Memory(*blank, 4), blank_block_4);

    const RunResult restored = OnReader("restore", {"-i", Path("source.mct"), "--force"});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_THAT(restored.err, HasSubstr("verified"));
    for (int block = 1; block < 64; ++block) {
        if (block % 4 == 3) continue;  // trailers only with --trailers
        EXPECT_EQ(Memory(*blank, block), Memory(*source_, block)) << "block " << block;
    }

    ASSERT_EQ(OnReader("dump", {"-o", Path("copy.json")}).status, 0);
    const RunResult compared = Zelkor({"diff", "--json", Path("source.mct"), Path("copy.json")});
    const auto diff = nlohmann::json::parse(compared.out);
    ASSERT_EQ(diff["blocks"].size(), 1u) << compared.out;
    EXPECT_EQ(diff["blocks"][0]["block"], 0);  // the manufacturer block is never written
}

TEST_F(CliTest, RestoreWithTrailersGivesABlankCardTheKeysOfTheDump) {
    auto source = sim::MakeDemoS50(sim::kDemoKey);
    model_->PutCard(source);
    WriteText("site.dic", "5A3C96E10F7B\n");
    ASSERT_EQ(OnReader("dump", {"-k", Path("site.dic"), "-o", Path("source.nfc")}).status, 0);
    auto blank = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50,
                                                      std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x44},
                                                      sim::kFactoryKey, sim::kFactoryKey, sim::kTransportAccess);
    model_->PutCard(blank);

    const RunResult restored = OnReader("restore", {"-i", Path("source.nfc"), "--force", "--trailers", "--json"});

    ASSERT_EQ(restored.status, 0) << restored.err;
    const auto report = nlohmann::json::parse(restored.out);
    EXPECT_EQ(report["written"], report["verified"]);
    for (int block = 1; block < 64; ++block) {
        EXPECT_EQ(Memory(*blank, block), Memory(*source, block)) << "block " << block;
    }
    // The blank card now opens with the dump's keys only.
    EXPECT_EQ(OnReader("read", {"4", "--key", "5A3C96E10F7B"}).status, 0);
}

struct DecodeCase {
    std::vector<std::string> args;
    std::string pointer;  // into the JSON answer
    nlohmann::json expected;
    int status = 0;  // 1: not a valid value block
};

TEST_F(CliTest, AclAndValueDecodeAccessBytesAndValueBlocks) {
    const DecodeCase cases[] = {
        {{"acl", "FF0780"}, "/transport", true},
        {{"acl", "FF 07 80 69"}, "/consistent", true},
        {{"acl", "FF0780"}, "/trailer/key_a_write", "key A"},
        {{"acl", "FF0780"}, "/positions/0/read", "key A"},  // key B is readable, so no key
        {{"acl", "000000"}, "/consistent", false},
        {{"acl", "000000"}, "/transport", false},
        {{"value", "E8030000", "17FCFFFF", "E8030000", "05FA05FA"}, "/value", 1000},
        {{"value", "E803000017FCFFFFE803000005FA05FA"}, "/valid", true},
        {{"value", "E803000017FCFFFFE903000005FA05FA"}, "/valid", false, 1},
        {{"value", "E803000017FCFFFFE803000005FA05FB"}, "/address_copies_match", false, 1},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.args;
        args.push_back("--json");
        const RunResult run = Zelkor(args);
        ASSERT_EQ(run.status, c.status) << c.args[1] << "\n" << run.err;
        EXPECT_EQ(nlohmann::json::parse(run.out).at(nlohmann::json::json_pointer(c.pointer)), c.expected)
            << c.args[1] << " " << c.pointer;
    }
    const RunResult inconsistent = Zelkor({"acl", "000000"});
    EXPECT_THAT(inconsistent.out, HasSubstr("INCONSISTENT"));
    EXPECT_THAT(Zelkor({"acl", "FF0780"}).out, HasSubstr("FF0780"));
}

TEST_F(CliTest, EveryCommandHasHelp) {
    for (const char *command : {"ports", "info", "apdu", "keys", "dump", "restore", "diff", "convert", "acl", "value",
                                "read", "write", "value-op"}) {
        const RunResult help = Zelkor({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_THAT(help.out, HasSubstr(std::string("Usage: zelkor ") + command)) << command;
    }
    EXPECT_EQ(sim_.FrameCount(), 0u);
}

TEST_F(CliTest, UsageErrorsExitWith2AndSendNothing) {
    const std::string data = "00112233445566778899AABBCCDDEEFF";
    const std::vector<std::vector<std::string>> cases = {
        {"frobnicate"},
        {},
        {"dump", "-p", kPortText},                                    // no -o
        {"dump", "-p", kPortText, "-o", Path("card.txt")},           // unknown format
        {"info"},                                                     // no -p
        {"info", "-p", kPortText, "-b", "1234"},                      // no such speed
        {"info", "-p", Path("no-such-tty")},
        {"acl", "FF07"},
        {"acl", "FF07XY"},
        {"value", "00"},
        {"read", "-p", kPortText, "4", "--key", "FFFF"},
        {"read", "-p", kPortText, "300"},
        {"write", "-p", kPortText, "7", data},                        // a trailer, without --trailer
        {"write", "-p", kPortText, "0", data},                        // the manufacturer block
        {"write", "-p", kPortText, "4", "0011"},
        {"write", "-p", kPortText, "7", "FFFFFFFFFFFF000000FFFFFFFFFFFFFF", "--trailer"},  // inconsistent access bytes
        {"value-op", "-p", kPortText, "inc", "5"},                    // no amount
        {"value-op", "-p", kPortText, "init", "0", "100"},            // the manufacturer block
        {"value-op", "-p", kPortText, "get", "0"},
        {"value-op", "-p", kPortText, "init", "7", "100"},            // a trailer
        {"keys", "-p", kPortText, "--no-builtin"},                    // no keys at all
        {"restore", "-p", kPortText, "-i", Path("missing.mct")},
        {"convert", Path("missing.mct"), Path("out.bin")},
    };
    for (const auto &args : cases) {
        const RunResult run = Zelkor(args);
        std::string shown;
        for (const auto &arg : args) shown += arg + " ";
        EXPECT_EQ(run.status, 2) << shown << "\n" << run.err;
        EXPECT_FALSE(run.err.empty()) << shown;
    }
    EXPECT_EQ(sim_.FrameCount(), 0u);
}

TEST_F(CliTest, MalformedFilesAreNamedWithTheirLineAndNothingIsSent) {
    WriteText("bad.dic", "FFFFFFFFFFFF\n# fine\nFFFFFFFFFFF\n");
    WriteText("bad.mct", "+Sector: 0\n" + std::string(31, '0') + "\n");
    WriteText("bad.nfc", "Filetype: Flipper NFC device\nVersion: 4\nDevice type: Mifare Classic\nUID: 01 02 03 04\n"
                         "ATQA: 00 04\nSAK: 08\nMifare Classic type: 1K\nData format version: 2\n"
                         "Block 0: 01 02 ZZ\n");
    WriteText("mini1k.nfc", "Filetype: Flipper NFC device\nVersion: 4\nDevice type: Mifare Classic\nUID: 01 02 03 04\n"
                            "ATQA: 00 04\nSAK: 09\nMifare Classic type: 1K\n");
    WriteText("bad.eml", std::string(32, '0') + "\n" + std::string(31, '0') + "x\n");
    WriteText("dump.bin", std::string(1024, '\xFF'));
    struct Case {
        std::vector<std::string> args;
        std::string where;
    };
    const Case cases[] = {
        {{"keys", "-p", kPortText, "-k", Path("bad.dic")}, "bad.dic:3"},
        {{"dump", "-p", kPortText, "-k", Path("bad.dic"), "-o", Path("out.mct")}, "bad.dic:3"},
        {{"restore", "-p", kPortText, "-i", Path("bad.mct")}, "bad.mct:2"},
        {{"restore", "-p", kPortText, "-i", Path("bad.nfc")}, "bad.nfc:9"},
        {{"diff", Path("bad.mct"), Path("bad.nfc")}, "bad.mct:2"},
        {{"restore", "-p", kPortText, "-i", Path("mini1k.nfc")}, "mini1k.nfc:7: SAK 09"},
        {{"restore", "-p", kPortText, "-i", Path("bad.eml")}, "bad.eml:2"},
        {{"dump", "-p", kPortText, "-k", Path("dump.bin"), "-o", Path("out.mct")}, "dump.bin: size 1024 bytes"},
    };
    for (const auto &c : cases) {
        const RunResult run = Zelkor(c.args);
        EXPECT_EQ(run.status, 2) << c.where << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.where));
    }
    runner_.SetEnvironment({"ZELKOR_PORT_DIR=" + dir_, "LC_ALL=zh_CN.UTF-8"});
    const RunResult chinese = Zelkor({"restore", "-p", kPortText, "-i", Path("bad.mct")});
    EXPECT_EQ(chinese.status, 2) << chinese.err;
    EXPECT_THAT(chinese.err, HasSubstr("文件 " + Path("bad.mct") + " 第 2 行：应为 32 位十六进制数字或 '-'，实际是 '" +
                                       std::string(31, '0') + "'"));
    EXPECT_EQ(sim_.FrameCount(), 0u);
    EXPECT_FALSE(std::filesystem::exists(Path("out.mct")));
}

TEST_F(CliTest, TraceIsShownInUtf8OnlyWithVerboseOrWrittenWithTrace) {
    const std::string sent = "发送数据";  // the library prints it in GBK
    const RunResult quiet = OnReader("info", {});
    ASSERT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_THAT(quiet.out, HasSubstr("3A7C51E2"));
    EXPECT_THAT(quiet.out + quiet.err, Not(HasSubstr(sent)));

    const RunResult verbose = OnReader("info", {"-v", "--trace", Path("trace.txt")});
    ASSERT_EQ(verbose.status, 0) << verbose.err;
    EXPECT_THAT(verbose.err, HasSubstr(sent));
    EXPECT_THAT(verbose.out, Not(HasSubstr(sent)));
    EXPECT_THAT(ReadText("trace.txt"), HasSubstr(sent));
}

TEST_F(CliTest, APortGivenAsDevicePathIsOpenedAndPortsListsIt) {
    const RunResult info = Zelkor({"info", "--json", "-p", sim_.device_path()});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(nlohmann::json::parse(info.out)["uid"], "3A7C51E2");

    const RunResult ports = Zelkor({"ports", "--json"});
    ASSERT_EQ(ports.status, 0) << ports.err;
    const auto list = nlohmann::json::parse(ports.out)["ports"];
    const bool listed =
        std::any_of(list.begin(), list.end(), [](const nlohmann::json &p) { return p["port"] == kPort; });
    EXPECT_TRUE(listed) << ports.out;
}

TEST_F(CliTest, BlockCommandsReadWriteAndChangeValues) {
    const std::string data = "00112233445566778899AABBCCDDEEFF";
    ASSERT_EQ(OnReader("write", {"6", data}).status, 0);
    EXPECT_EQ(Hex(Memory(*source_, 6)), data);
    const RunResult read = OnReader("read", {"6"});
    EXPECT_EQ(read.out, data + "\n") << read.err;

    EXPECT_EQ(OnReader("value-op", {"init", "8", "500"}).out, "500\n");
    EXPECT_EQ(OnReader("value-op", {"inc", "8", "25"}).out, "525\n");
    EXPECT_EQ(OnReader("value-op", {"dec", "8", "100"}).out, "425\n");
    EXPECT_EQ(OnReader("value-op", {"get", "8"}).out, "425\n");

    const RunResult wrong_key = OnReader("read", {"6", "--key", "A0A1A2A3A4A5"});
    EXPECT_EQ(wrong_key.status, 1);
}

TEST_F(CliTest, CtrlCKeepsAPartialDumpMarkedAsPartial) {
    auto large = sim::MakeDemoS70(sim::kFactoryKey);
    model_->PutCard(large);
    sim_.SetWireBaud(9600);  // a whole 4K card takes well over ten seconds

    const auto start = std::chrono::steady_clock::now();
    const RunResult run =
        runner_.RunAndInterrupt({"dump", "-p", kPortText, "-o", Path("part.json")}, "sector 3: key");
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("partial"));
    const auto dump = nlohmann::json::parse(ReadText("part.json"));
    EXPECT_EQ(dump["Partial"], true);
    EXPECT_LT(elapsed, std::chrono::seconds(60));
}

TEST_F(CliTest, RestoreStopsWhenAnotherCardIsSwappedInAndSaysWhatWentWhere) {
    ASSERT_EQ(OnReader("dump", {"-o", Path("source.mct")}).status, 0);
    // The dump's card with every data block changed, and a card of the same site.
    auto target = sim::MakeDemoS50(sim::kFactoryKey);
    auto other = std::make_shared<sim::MifareClassic>(sim::MifareClassic::Model::S50,
                                                      std::array<std::uint8_t, 4>{0x99, 0x88, 0x77, 0x66},
                                                      sim::kFactoryKey, sim::kFactoryKey, sim::kTransportAccess);
    for (int block = 1; block < 64; ++block) {
        if (block % 4 == 3) continue;
        target->raw(block).fill(0xEE);
        other->raw(block).fill(0x77);
    }
    model_->PutCard(target);
    sim_.SetWireBaud(115200);
    // Right after the fifth block written: in the middle of the restore.
    sim_.SetModel(std::make_shared<testing_support::EventAfterWrites>(model_, 5, [this, other] { model_->PutCard(other); }));
    const RunResult run = OnReader("restore", {"-i", Path("source.mct"), "--json"});

    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_THAT(run.err, HasSubstr("another card (UID 99887766) is in the field, not the card UID"));
    EXPECT_THAT(run.err, HasSubstr("nothing was written to the card UID 99887766"));
    const auto out = nlohmann::json::parse(run.out);
    EXPECT_EQ(out["stopped"]["reason"], "other_card");
    EXPECT_EQ(out["stopped"]["code"], "other_card");
    EXPECT_EQ(out["stopped"]["found_uid"], "99887766");
    ASSERT_GE(out["written_blocks"].size(), 4u);
    for (const auto &block : out["written_blocks"]) {
        EXPECT_EQ(Memory(*target, block.get<int>()), Memory(*source_, block.get<int>())) << block;
    }
    for (int block = 1; block < 64; ++block) {
        if (block % 4 == 3) continue;
        EXPECT_EQ(Hex(Memory(*other, block)), std::string(32, '7')) << "block " << block;
    }
}

TEST_F(CliTest, RestoreOfAFileWithoutBlock0NeedsForceAndSaysTheUidIsUnchecked) {
    WriteText("noblock0.mct", "+Sector: 1\n" + std::string(32, '1') + "\n" + std::string(32, '0') + "\n" +
                                  std::string(32, '0') + "\nFFFFFFFFFFFFFF078069FFFFFFFFFFFF\n");
    const RunResult refused = OnReader("restore", {"-i", Path("noblock0.mct")});
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_THAT(refused.err, HasSubstr("FATAL: card: the file holds no UID (no block 0): it cannot be checked against "
                                       "the card's UID"));
    EXPECT_NE(Hex(Memory(*source_, 4)), std::string(32, '1'));

    const RunResult forced = OnReader("restore", {"-i", Path("noblock0.mct"), "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_THAT(forced.err, HasSubstr("holds no UID (no block 0)"));
    EXPECT_EQ(Hex(Memory(*source_, 4)), std::string(32, '1'));
}

TEST_F(CliTest, RestorePlanSpeaksChineseUnderAChineseLocaleAndItsJsonCarriesTheCodes) {
    WriteText("noblock0.mct", "+Sector: 1\n" + std::string(32, '1') + "\n" + std::string(32, '0') + "\n" +
                                  std::string(32, '0') + "\nFFFFFFFFFFFFFF078069FFFFFFFFFFFF\n");
    runner_.SetEnvironment({"ZELKOR_PORT_DIR=" + dir_, "LANG=zh_CN.UTF-8", "LC_ALL=", "LC_MESSAGES="});

    const RunResult run = OnReader("restore", {"-i", Path("noblock0.mct"), "--force", "--dry-run", "--json"});

    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("跳过：文件中没有卡号（没有厂商块），无法确认它是卡片 "));
    EXPECT_THAT(run.err, HasSubstr("跳过：厂商块，从不写入（块 0）"));
    EXPECT_THAT(run.err, HasSubstr("将写入 "));
    EXPECT_THAT(run.err, Not(HasSubstr("skip: ")));
    const auto plan = nlohmann::json::parse(run.out)["plan"];
    std::map<int, nlohmann::json> steps;
    for (const auto &step : plan) steps[step["block"].get<int>()] = step;
    EXPECT_EQ(steps[-1]["code"], "uid_unknown");
    EXPECT_EQ(steps[0]["code"], "manufacturer_block");
    EXPECT_EQ(steps[0]["reason"], "manufacturer block: never written");  // JSON texts stay English for scripts
    EXPECT_EQ(steps[3]["code"], "trailer_needs_option");
    EXPECT_NE(Hex(Memory(*source_, 4)), std::string(32, '1'));  // a dry run writes nothing
}

TEST_F(CliTest, TrailerWrittenWithKeyBIsVerifiedWithAKeyTheNewAccessBitsAllow) {
    // Trailer 011: key B writes keys and access bits; going back to the
    // transport bits leaves only key A able to read them.
    model_->Inspect([&] { source_->SetTrailer(1, sim::kFactoryKey, {0x7F, 0x07, 0x88, 0x69}, sim::kFactoryKey); });
    const RunResult run = OnReader("write", {"7", "FFFFFFFFFFFFFF078069FFFFFFFFFFFF", "--trailer", "-t", "B"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_THAT(run.err, HasSubstr("written and verified"));
    EXPECT_EQ(Hex(Memory(*source_, 7)).substr(12, 8), "FF078069");
}

TEST_F(CliTest, DiffSaysWhenOnlyTheUidsDiffer) {
    ASSERT_EQ(OnReader("dump", {"-o", Path("a.json")}).status, 0);
    auto dump = nlohmann::json::parse(ReadText("a.json"));
    dump["Card"]["UID"] = "01020304";
    WriteText("b.json", dump.dump(2));
    const RunResult run = Zelkor({"diff", Path("a.json"), Path("b.json")});
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr("the UIDs differ, no block differs"));
}

TEST_F(CliTest, MiniCardDumpsTwentyBlocksIntoEveryFormatAndRestores) {
    auto mini = sim::MakeDemoMini(sim::kFactoryKey);
    model_->PutCard(mini);
    const RunResult info = OnReader("info", {"--json"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(nlohmann::json::parse(info.out)["type"], "MIFARE Mini");
    EXPECT_EQ(nlohmann::json::parse(info.out)["sak"], "09");

    const RunResult dump = OnReader("dump", {"-o", Path("mini.json"), "--json"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const auto summary = nlohmann::json::parse(dump.out);
    EXPECT_EQ(summary["card"], "Mini");
    EXPECT_EQ(summary["blocks_read"], 20);
    EXPECT_EQ(nlohmann::json::parse(ReadText("mini.json"))["blocks"].size(), 20u);
    for (const char *other : {"mini.mct", "mini.bin", "mini.nfc", "mini.eml"}) {
        ASSERT_EQ(Zelkor({"convert", Path("mini.json"), Path(other)}).status, 0) << other;
        const RunResult same = Zelkor({"diff", Path("mini.json"), Path(other)});
        EXPECT_EQ(same.status, 0) << other << "\n" << same.out << same.err;
    }
    EXPECT_EQ(std::filesystem::file_size(Path("mini.bin")), 320u);
    EXPECT_THAT(ReadText("mini.nfc"), HasSubstr("Mifare Classic type: MINI\nData"));

    const sim::Block block_4 = Memory(*mini, 4);
    model_->Inspect([&] { mini->raw(4)[0] ^= 0xFF; });
    const RunResult restored = OnReader("restore", {"-i", Path("mini.eml")});
    ASSERT_EQ(restored.status, 0) << restored.err;
    EXPECT_EQ(Memory(*mini, 4), block_4);
}

TEST_F(CliTest, BuiltinKeysComeBeforeKeyFilesAndEachKeyIsTriedOnce) {
    // Factory keys in every sector; a dictionary that does not open any of them.
    std::string dictionary;
    for (int i = 0; i < 30; ++i) dictionary += "A1B2C3D4E5" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "\n";
    WriteText("site.dic", dictionary + "ffffffffffff\n");

    const RunResult run = OnReader("keys", {"-k", Path("site.dic"), "-o", Path("keys.json"), "--json"});

    ASSERT_EQ(run.status, 0) << run.err;
    // One authentication a sector: key B is read from the trailer.
    EXPECT_EQ(nlohmann::json::parse(run.out)["authentications"], 16);
}

TEST_F(CliTest, KeysWritesTheBinaryKeyFileThatDumpReadsAsAKeyMap) {
    auto card = sim::MakeDemoS50(sim::kDemoKey);
    model_->PutCard(card);
    WriteText("site.dic", "5A3C96E10F7B\n");
    ASSERT_EQ(OnReader("keys", {"-k", Path("site.dic"), "-o", Path("keys.bin")}).status, 0);
    const std::string keys = ReadText("keys.bin");
    ASSERT_EQ(keys.size(), 192u);
    EXPECT_EQ(keys.substr(0, 6), "\x5A\x3C\x96\xE1\x0F\x7B");
    EXPECT_EQ(keys.substr(96, 6), "\x5A\x3C\x96\xE1\x0F\x7B");  // key B of sector 0

    const RunResult dump = OnReader("dump", {"--no-builtin", "-k", Path("keys.bin"), "-o", Path("card.eml")});
    ASSERT_EQ(dump.status, 0) << dump.err;
    EXPECT_THAT(ReadText("card.eml"), HasSubstr(Hex(Memory(*card, 4)) + "\n"));
}

TEST_F(CliTest, UidThatAFormatCannotHoldIsWarnedAboutAndLeftOutOfDiff) {
    WriteText("seven.nfc", "Filetype: Flipper NFC device\nVersion: 4\nDevice type: Mifare Classic\n"
                           "UID: 04 30 68 6A 99 66 80\nATQA: 00 44\nSAK: 08\nMifare Classic type: 1K\n"
                           "Block 0: 04 30 68 6A 99 66 80 08 44 00 12 01 11 00 33 90\n");
    const RunResult convert = Zelkor({"convert", Path("seven.nfc"), Path("seven.mct")});
    ASSERT_EQ(convert.status, 0) << convert.err;
    EXPECT_THAT(convert.err, HasSubstr("UID 0430686A996680 not kept"));

    const RunResult diff = Zelkor({"diff", "--json", Path("seven.nfc"), Path("seven.mct")});
    EXPECT_EQ(diff.status, 0) << diff.out << diff.err;
    EXPECT_THAT(diff.err, HasSubstr("UID not compared: " + Path("seven.mct")));
    EXPECT_EQ(nlohmann::json::parse(diff.out)["uids_compared"], false);
}

}  // namespace
