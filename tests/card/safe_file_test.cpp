// Files as whole-card work reads and writes them, in a private directory:
// what an output replacement keeps and never touches, which outputs and
// inputs are refused before anything happens, and text echoed from files.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "card/safe_file.h"
#include "tests/support/temp_dir.h"

namespace zc = zelkor::card;
namespace fs = std::filesystem;

namespace {

class SafeFileTest : public ::testing::Test {
public:
    // A test may leave the directory read-only.
    void TearDown() override { ::chmod(dir_.c_str(), 0700); }
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void Write(const std::string &name, const std::string &text, mode_t mode = 0644) const {
        std::ofstream(Path(name)) << text;
        ::chmod(Path(name).c_str(), mode);
    }
    std::string Read(const std::string &name) const {
        std::ostringstream text;
        text << std::ifstream(Path(name)).rdbuf();
        return text.str();
    }
    mode_t Mode(const std::string &name) const {
        struct stat st {};
        ::stat(Path(name).c_str(), &st);
        return st.st_mode & 07777;
    }
    const zelkor::test::TempDir temp_{"zelkor-safe-file"};
    const std::string dir_ = temp_.path();
};

TEST_F(SafeFileTest, ReplacementKeepsModeFollowsLinksAndLeavesOtherFilesAlone) {
    Write("keys.json", "old keys", 0600);
    Write("card.mct", "old dump");
    ::symlink(Path("card.mct").c_str(), Path("link.mct").c_str());
    Write("keys.json.part", "the user's own file");
    Write("victim", "must survive");
    ::symlink(Path("victim").c_str(), Path("card.mct.part").c_str());

    zc::ReplaceFileContents(Path("keys.json"), "new keys");
    zc::ReplaceFileContents(Path("link.mct"), "new dump");

    EXPECT_EQ(Read("keys.json"), "new keys");
    EXPECT_EQ(Mode("keys.json"), 0600u);
    EXPECT_TRUE(fs::is_symlink(Path("link.mct")));
    EXPECT_EQ(Read("card.mct"), "new dump");
    EXPECT_EQ(Read("keys.json.part"), "the user's own file");
    EXPECT_EQ(Read("victim"), "must survive");
    // Nothing temporary stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 6);
}

TEST_F(SafeFileTest, UnusableOutputsAreRefusedBeforeAndAtSavingWithoutChangingAnything) {
    const struct {
        const char *name;
        std::function<void(SafeFileTest &)> setup;
        std::string file;
        zc::FileProblem fault;
    } cases[] = {
        {"read-only target", [](SafeFileTest &t) { t.Write("ro.mct", "keep", 0444); }, "ro.mct",
         zc::FileProblem::ReadOnly},
        {"directory", [](SafeFileTest &t) { fs::create_directory(t.Path("dir.mct")); }, "dir.mct",
         zc::FileProblem::IsDirectory},
        {"missing directory", [](SafeFileTest &) {}, "missing/card.mct", zc::FileProblem::DirectoryMissing},
        {"name too long with the temporary suffix", [](SafeFileTest &) {}, std::string(250, 'n') + ".mct",
         zc::FileProblem::NameTooLong},
        {"FIFO", [](SafeFileTest &t) { ::mkfifo(t.Path("fifo.mct").c_str(), 0600); }, "fifo.mct",
         zc::FileProblem::NotRegularFile},
    };
    for (const auto &c : cases) {
        c.setup(*this);
        const std::string path = Path(c.file);
        for (const bool at_saving : {false, true}) {
            try {
                if (at_saving) {
                    zc::ReplaceFileContents(path, "new");
                } else {
                    zc::CheckOutputFile(path);
                }
                ADD_FAILURE() << c.name << (at_saving ? " saved" : " passed the check");
            } catch (const zc::FileAccessError &error) {
                EXPECT_EQ(error.fault(), c.fault) << c.name << ": " << error.what();
                EXPECT_EQ(error.file(), path) << c.name;
            }
        }
    }
    EXPECT_EQ(Read("ro.mct"), "keep");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
    EXPECT_NO_THROW(zc::CheckOutputFile(Path("new.mct")));
    EXPECT_FALSE(fs::exists(Path("new.mct")));
}

TEST_F(SafeFileTest, InputsAreRegularFilesOfBoundedSizeAndAFifoNeverBlocks) {
    Write("big.dic", std::string(2000, 'F'));
    Write("ok.dic", "FFFFFFFFFFFF\n");
    ::mkfifo(Path("fifo.dic").c_str(), 0600);
    fs::create_directory(Path("dir"));
    const struct {
        std::string path;
        zc::FileProblem fault;
    } cases[] = {
        {Path("missing.dic"), zc::FileProblem::NotFound},
        {Path("dir"), zc::FileProblem::IsDirectory},
        {Path("fifo.dic"), zc::FileProblem::NotRegularFile},
        {"/dev/zero", zc::FileProblem::NotRegularFile},
        {Path("big.dic"), zc::FileProblem::TooLarge},
    };
    for (const auto &c : cases) {
        // Under an outside time limit: a read that waits would fail here, not hang.
        auto read = std::async(std::launch::async, [&] {
            try {
                zc::ReadInputFile(c.path, 1000);
                return std::string("read");
            } catch (const zc::FileAccessError &error) {
                return std::string(error.fault() == c.fault ? "ok" : error.what());
            }
        });
        ASSERT_EQ(read.wait_for(std::chrono::seconds(10)), std::future_status::ready) << c.path;
        EXPECT_EQ(read.get(), "ok") << c.path;
    }
    EXPECT_EQ(zc::ReadInputFile(Path("ok.dic"), 1000), "FFFFFFFFFFFF\n");
}

TEST(SafeFileNames, PartialNamesAndEchoedText) {
    EXPECT_EQ(zc::PartialPathFor("/d/card.mct"), "/d/card.partial.mct");
    EXPECT_EQ(zc::PartialPathFor("d.x/card"), "d.x/card.partial");
    EXPECT_EQ(zc::PartialPathFor(".hidden"), ".hidden.partial");

    EXPECT_EQ(zc::EscapeForMessage("a\x1b[2Jb\tc\x7f"), "a\\x1B[2Jb\\x09c\\x7F");
    EXPECT_EQ(zc::EscapeForMessage("\xC2\x9B" "31m 密钥"), "\\xC2\\x9B31m 密钥");
    const std::string cut = zc::EscapeForMessage(std::string(50000, 'A') + "密", 10);
    EXPECT_EQ(cut, "AAAAAAAAAA...");
    EXPECT_EQ(zc::EscapeForMessage("AAAAAAAA密", 10), "AAAAAAAA...");  // never half a character
}

}  // namespace
