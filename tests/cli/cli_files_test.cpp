// What the command-line program does to the user's files, end to end against
// the simulated reader: results that never replace a good file, outputs and
// inputs checked before the card is touched, the trace file, unknown bytes,
// a full disk and echoed file text.
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/cli/program_runner.h"
#include "sim/reader_model.h"
#include "sim/sample_cards.h"
#include "sim/simulator.h"
#include "tests/support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using cli_testing::RunResult;
namespace fs = std::filesystem;

constexpr int kPort = 8;
const std::string kPortText = std::to_string(kPort);

class CliFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(Path("tmp"));
        model_->PutCard(sim::MakeDemoS50(sim::kFactoryKey));
        ASSERT_TRUE(sim_.Start());
        ASSERT_TRUE(sim_.Publish(dir_, kPort));
        runner_.SetEnvironment({"ZELKOR_PORT_DIR=" + dir_, "TMPDIR=" + Path("tmp")});
        WriteText("wrong.dic", "A0A1A2A3A4A5\n");
    }
    void TearDown() override {
        sim_.Stop();
    }

    RunResult Zelkor(const std::vector<std::string> &args, int timeout_ms = 90000) {
        return runner_.Run(args, timeout_ms);
    }
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void WriteText(const std::string &name, const std::string &text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
    }
    std::string ReadText(const std::string &name) const {
        std::ostringstream text;
        text << std::ifstream(Path(name), std::ios::binary).rdbuf();
        return text.str();
    }

    std::shared_ptr<sim::ReaderModel> model_ = std::make_shared<sim::ReaderModel>();
    sim::Simulator sim_{model_};
    cli_testing::ProgramRunner runner_{ZELKOR_CLI_PROGRAM};
    const zelkor::test::TempDir temp_{"zelkor-cli-files"};
    const std::string dir_ = temp_.path();
};

// A failed or incomplete result goes beside a good file, never over it.
TEST_F(CliFilesTest, FailedOrPartialResultsLeaveTheGoodFileAndGoBesideIt) {
    const struct {
        std::vector<std::string> args;
        std::string output;
        std::string beside;  // empty: nothing may be written
    } cases[] = {
        {{"dump", "-p", kPortText, "--no-builtin", "-k", Path("wrong.dic"), "-o", Path("good.mct")}, "good.mct",
         "good.partial.mct"},
        {{"dump", "-p", kPortText, "--no-builtin", "-k", Path("wrong.dic"), "-o", Path("good.bin")}, "good.bin",
         "good.partial.mct"},  // a .bin cannot say which bytes are unknown
        {{"keys", "-p", kPortText, "--no-builtin", "-k", Path("wrong.dic"), "-o", Path("good.json")}, "good.json",
         ""},
    };
    for (const auto &c : cases) {
        WriteText(c.output, "a good file");
        const RunResult run = Zelkor(c.args);
        EXPECT_EQ(run.status, 1) << c.output << "\n" << run.err;
        EXPECT_EQ(ReadText(c.output), "a good file") << c.output;
        if (c.beside.empty()) {
            EXPECT_FALSE(fs::exists(Path("good.partial.json")));
            EXPECT_THAT(run.err, HasSubstr("nothing written"));
        } else {
            EXPECT_THAT(ReadText(c.beside), HasSubstr("+Sector: 15\n*No keys found or dead sector")) << c.output;
            EXPECT_THAT(run.err, HasSubstr(Path(c.beside)));
            fs::remove(Path(c.beside));
        }
    }
}

TEST_F(CliFilesTest, TerminatedDumpKeepsTheGoodFileAndSavesWhatWasReadBeside) {
    model_->PutCard(sim::MakeDemoS70(sim::kFactoryKey));
    sim_.SetWireBaud(9600);
    WriteText("card.json", "a good file");
    const RunResult run = runner_.RunAndInterrupt({"dump", "-p", kPortText, "-o", Path("card.json")},
                                                  "sector 3: key", 90000, SIGTERM);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(ReadText("card.json"), "a good file");
    EXPECT_THAT(ReadText("card.partial.json"), HasSubstr("\"Partial\": true"));
}

// Every unusable output is refused with exit 2 before the card is touched,
// whatever the command, and nothing is changed.
TEST_F(CliFilesTest, UnusableOutputsAreRefusedBeforeTheCardIsTouched) {
    WriteText("source.mct", "+Sector: 0\n" + std::string(32, '0') + "\n" + std::string(32, '0') + "\n" +
                                std::string(32, '0') + "\nFFFFFFFFFFFFFF078069FFFFFFFFFFFF\n");
    WriteText("readonly.mct", "keep");
    fs::permissions(Path("readonly.mct"), fs::perms::owner_read);
    fs::create_directory(Path("folder.mct"));
    const std::string long_name = Path(std::string(250, 'n') + ".mct");
    for (const std::string &output : {Path("readonly.mct"), Path("folder.mct"), Path("missing/card.mct"), long_name}) {
        for (std::vector<std::string> args : {std::vector<std::string>{"dump", "-p", kPortText, "-o"},
                                              std::vector<std::string>{"keys", "-p", kPortText, "-o"},
                                              std::vector<std::string>{"convert", Path("source.mct")}}) {
            args.push_back(output);
            const RunResult run = Zelkor(args);
            EXPECT_EQ(run.status, 2) << args[0] << " " << output << "\n" << run.err;
            EXPECT_THAT(run.err, HasSubstr(output.substr(0, 40))) << args[0];
        }
    }
    EXPECT_EQ(sim_.FrameCount(), 0u);
    EXPECT_EQ(ReadText("readonly.mct"), "keep");
    EXPECT_FALSE(fs::exists(long_name));
}

// Files the program reads: regular files up to 16 MiB only; a FIFO or a
// device never blocks it.
TEST_F(CliFilesTest, InputsThatAreNotBoundedRegularFilesAreRefusedAtOnce) {
    ::mkfifo(Path("fifo.dic").c_str(), 0600);
    ::mkfifo(Path("fifo.mct").c_str(), 0600);
    fs::create_directory(Path("keys.d"));
    {
        std::ofstream big(Path("big.dic"));
        for (int i = 0; i < 1500000; ++i) big << "FFFFFFFFFFFF\n";  // 19.5 MB
    }
    const struct {
        std::vector<std::string> args;
        std::string said;
    } cases[] = {
        {{"keys", "-p", kPortText, "-k", "/dev/zero"}, "not a regular file"},
        {{"keys", "-p", kPortText, "-k", Path("fifo.dic")}, "not a regular file"},
        {{"keys", "-p", kPortText, "-k", Path("keys.d")}, "is a directory"},
        {{"keys", "-p", kPortText, "-k", Path("big.dic")}, "16 MiB"},
        {{"restore", "-p", kPortText, "-i", Path("fifo.mct")}, "not a regular file"},
        {{"diff", Path("fifo.mct"), "/dev/zero"}, "not a regular file"},
    };
    for (const auto &c : cases) {
        const RunResult run = Zelkor(c.args, 20000);
        EXPECT_FALSE(run.timed_out) << c.args[3];
        EXPECT_EQ(run.status, 2) << c.args[3] << "\n" << run.err;
        EXPECT_THAT(run.err, HasSubstr(c.said)) << c.args[3];
    }
    EXPECT_EQ(sim_.FrameCount(), 0u);
}

TEST_F(CliFilesTest, TraceFileIsRefusedForTheCommandsOwnFilesAndUntouchedByUsageErrors) {
    ASSERT_EQ(Zelkor({"dump", "-p", kPortText, "-o", Path("card.mct")}).status, 0);
    const std::string dump = ReadText("card.mct");

    const RunResult same = Zelkor({"restore", "-p", kPortText, "-i", Path("card.mct"), "--trace", Path("card.mct"),
                                   "--dry-run"});
    EXPECT_EQ(same.status, 2) << same.err;
    EXPECT_THAT(same.err, HasSubstr("--trace"));
    EXPECT_EQ(ReadText("card.mct"), dump);

    WriteText("trace.txt", "an earlier trace");
    const RunResult usage = Zelkor({"info", "-p", kPortText, "-b", "1234", "--trace", Path("trace.txt")});
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(ReadText("trace.txt"), "an earlier trace");
    const RunResult missing = Zelkor({"restore", "-p", kPortText, "-i", Path("none.mct"), "--trace", Path("t2.txt")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_FALSE(fs::exists(Path("t2.txt")));
}

TEST_F(CliFilesTest, UnknownBytesBecomeZerosOnlyWhenAskedForAndNfcNeedsTheUid) {
    EXPECT_EQ(Zelkor({"dump", "-p", kPortText, "--no-builtin", "-k", Path("wrong.dic"), "-o", Path("p.mct")}).status,
              1);
    for (const char *raw : {"p.bin", "p.mfd"}) {
        const RunResult refused = Zelkor({"convert", Path("p.mct"), Path(raw)});
        EXPECT_EQ(refused.status, 2) << refused.err;
        EXPECT_THAT(refused.err, HasSubstr("--fill-unknown zeros"));
        EXPECT_FALSE(fs::exists(Path(raw)));
    }
    const RunResult filled = Zelkor({"convert", "--fill-unknown", "zeros", Path("p.mct"), Path("p.bin")});
    EXPECT_NE(filled.status, 2) << filled.err;
    EXPECT_EQ(fs::file_size(Path("p.bin")), 1024u);
    // Without block 0 the UID is unknown, and a .nfc file cannot be read back without one.
    const RunResult no_uid = Zelkor({"convert", Path("p.mct"), Path("p.nfc")});
    EXPECT_EQ(no_uid.status, 2) << no_uid.err;
    EXPECT_THAT(no_uid.err, HasSubstr("must hold the card's UID"));
    EXPECT_FALSE(fs::exists(Path("p.nfc")));
}

// A disk that fills up after the card was read: the dump is kept elsewhere
// and the exit status says so.
TEST_F(CliFilesTest, FullDiskAfterTheReadSavesTheDumpToAFallbackWithStatus3) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a 64 KiB tmpfs needs root";
    fs::create_directory(Path("small"));
    if (::mount("tmpfs", Path("small").c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    {
        std::ofstream filler(Path("small/filler"), std::ios::binary);
        const std::string chunk(4096, 'x');
        for (int i = 0; i < 32 && filler; ++i) filler << chunk;
    }
    const RunResult run = Zelkor({"dump", "-p", kPortText, "-o", Path("small/card.mct")});
    ::umount(Path("small").c_str());

    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_THAT(run.err, HasSubstr("No space left"));
    std::vector<fs::path> saved;
    for (const auto &entry : fs::directory_iterator(Path("tmp"))) saved.push_back(entry.path());
    ASSERT_EQ(saved.size(), 1u) << run.err;
    EXPECT_THAT(run.err, HasSubstr(saved[0].string()));
    EXPECT_THAT(ReadText("tmp/" + saved[0].filename().string()), HasSubstr("+Sector: 15\n"));
}

TEST_F(CliFilesTest, EchoedFileTextIsEscapedAndCut) {
    WriteText("hostile.dic", "\x1b]0;owned\x07\x1b[2J" + std::string(1000000, 'Z') + "\n");
    const RunResult run = Zelkor({"keys", "-p", kPortText, "-k", Path("hostile.dic")});
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr("hostile.dic:1"));
    EXPECT_THAT(run.err, HasSubstr("\\x1B]0;owned\\x07"));
    EXPECT_THAT(run.err, Not(HasSubstr("\x1b")));
    EXPECT_LT(run.err.size(), 1000u);
}

}  // namespace
