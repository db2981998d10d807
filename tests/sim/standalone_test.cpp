// The standalone simulator program: its banner, its published port, the
// commands on standard input, and its ways to end.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sim/sim_frame.h"

namespace {

namespace fs = std::filesystem;

std::string ProgramPath() {
    const fs::path self = fs::read_symlink("/proc/self/exe");
    return (self.parent_path().parent_path() / "sim" / "zelkor-sim").string();
}

class StandaloneTest : public ::testing::Test {
protected:
    void SetUp() override {
        program_ = ProgramPath();
        if (!fs::exists(program_)) GTEST_SKIP() << "no " << program_;
        char pattern[] = "/tmp/zelkor-sim-test.XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (port_ >= 0) ::close(port_);
        if (to_sim_ >= 0) ::close(to_sim_);
        if (from_sim_ >= 0) ::close(from_sim_);
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    // Starts the program with `args` (default: the test's directory and port
    // 5) in `cwd` (default: the test's own).
    void Launch(std::vector<std::string> args = {}, const std::string &cwd = "") {
        if (args.empty()) args = {dir_, "5"};
        args.insert(args.begin(), program_);
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int in[2], out[2];
        ASSERT_EQ(::pipe(in), 0);
        ASSERT_EQ(::pipe(out), 0);
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::close(in[1]);
            ::close(out[0]);
            if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
            ::execv(program_.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        to_sim_ = in[1];
        from_sim_ = out[0];
    }

    // Output of the program up to and including the next line end.
    std::string Line(int timeout_ms = 5000) {
        std::string line;
        char c;
        while (true) {
            pollfd pfd{from_sim_, POLLIN, 0};
            if (::poll(&pfd, 1, timeout_ms) <= 0) return line;
            if (::read(from_sim_, &c, 1) != 1) return line;
            if (c == '\n') return line;
            line += c;
        }
    }

    void Say(const std::string &command) {
        const std::string text = command + "\n";
        ASSERT_EQ(::write(to_sim_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    void OpenPort() {
        port_ = ::open((dir_ + "/COM5").c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(port_, 0);
        termios t{};
        ASSERT_EQ(::tcgetattr(port_, &t), 0);
        ::cfmakeraw(&t);
        ::cfsetspeed(&t, B9600);
        ASSERT_EQ(::tcsetattr(port_, TCSANOW, &t), 0);
    }

    // Sends a command frame and returns the answer frame (empty when none).
    sim::Bytes Exchange(std::uint8_t group, std::uint8_t code, const sim::Bytes &data = {}) {
        const sim::Bytes frame = sim::EncodeCommand(group, code, data);
        if (::write(port_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) return {};
        sim::Bytes answer;
        std::uint8_t buffer[256];
        while (answer.size() < 6 || answer.size() < 6u + (answer[4] << 8 | answer[5])) {
            pollfd pfd{port_, POLLIN, 0};
            if (::poll(&pfd, 1, 5000) <= 0) return {};
            const ssize_t n = ::read(port_, buffer, sizeof buffer);
            if (n <= 0) return {};
            answer.insert(answer.end(), buffer, buffer + n);
        }
        return answer;
    }

    int WaitExit() {
        int status = 0;
        for (int i = 0; i < 1000; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ::usleep(10000);
        }
        return -1;
    }

    std::string program_, dir_;
    pid_t pid_ = -1;
    int to_sim_ = -1, from_sim_ = -1, port_ = -1;
};

TEST_F(StandaloneTest, HelpPrintsUsageAndOptionsCreateNothing) {
    Launch({"--help"}, dir_);
    EXPECT_EQ(Line().rfind("usage: zelkor-sim", 0), 0u);
    EXPECT_EQ(WaitExit(), 0);
    Launch({"--port", "5"}, dir_);
    EXPECT_EQ(WaitExit(), 2);
    EXPECT_TRUE(fs::is_empty(dir_)) << "a directory named after an option was created";
}

TEST_F(StandaloneTest, RelativeDirectoryIsPublishedAbsolute) {
    Launch({"ports", "5"}, dir_);
    const std::string banner = Line();
    EXPECT_NE(banner.find(", published as " + dir_ + "/ports/COM5 (ZELKOR_PORT_DIR=" + dir_ + "/ports)"),
              std::string::npos)
        << banner;
    EXPECT_TRUE(fs::is_symlink(dir_ + "/ports/COM5"));
    Say("quit");
    EXPECT_EQ(WaitExit(), 0);
}

TEST_F(StandaloneTest, BannerCardsAndQuit) {
    Launch();
    const std::string banner = Line();
    EXPECT_EQ(banner.rfind("zelkor-sim: reader on /dev/", 0), 0u) << banner;
    EXPECT_NE(banner.find(", published as " + dir_ + "/COM5 (ZELKOR_PORT_DIR=" + dir_ + ")"), std::string::npos)
        << banner;
    const std::string help = Line();
    for (const char *word : {"s50", "s70", "blank", "ul", "cpu", "none", "unplug", "plug", "state", "help", "quit"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
    ASSERT_TRUE(fs::is_symlink(dir_ + "/COM5"));
    OpenPort();

    // The demo S50 is in the field and takes the default key.
    EXPECT_EQ(Exchange(0x02, 0x01, {0x26}), sim::EncodeAnswer(0x00, {0x04, 0x00}));
    EXPECT_EQ(Exchange(0x03, 0x01, {0x00, 0x01, 0x00, 0x60, 0x5A, 0x3C, 0x96, 0xE1, 0x0F, 0x7B}),
              sim::EncodeAnswer(0x00));

    const struct {
        const char *command;
        std::uint8_t status, type;
    } cases[] = {{"s70", 0x00, 0x02}, {"ul", 0x00, 0x00},   {"cpu", 0x00, 0x08},
                 {"none", 0x01, 0},   {"blank", 0x00, 0x04}, {"s50", 0x00, 0x04}};
    for (const auto &c : cases) {
        Say(c.command);
        EXPECT_NE(Line().find("zelkor-sim: "), std::string::npos);
        const sim::Bytes answer = Exchange(0x02, 0x01, {0x26});
        ASSERT_GE(answer.size(), 8u) << c.command;
        EXPECT_EQ(answer[6], c.status) << c.command;
        if (c.status == 0) {
            EXPECT_EQ(answer[7], c.type) << c.command;
        }
        if (std::string(c.command) == "blank") {
            // The blank card opens with the factory key only.
            const sim::Bytes uid = Exchange(0x02, 0x02, {0x93});
            ASSERT_GE(uid.size(), 8u);
            EXPECT_EQ(uid[6], 0x00);
            EXPECT_EQ(Exchange(0x02, 0x03, {0x93}), sim::EncodeAnswer(0x00, {0x08}));
            EXPECT_EQ(Exchange(0x03, 0x01, {0x00, 0x01, 0x00, 0x60, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
                      sim::EncodeAnswer(0x00));
        }
    }
    Say("quit");
    EXPECT_EQ(WaitExit(), 0);
    EXPECT_FALSE(fs::is_symlink(dir_ + "/COM5"));
}

TEST_F(StandaloneTest, KeepsServingAfterEndOfInputUntilSigterm) {
    Launch();
    Line();
    Line();
    ::close(to_sim_);
    to_sim_ = -1;
    ::usleep(200000);
    OpenPort();
    EXPECT_EQ(Exchange(0x02, 0x01, {0x26}), sim::EncodeAnswer(0x00, {0x04, 0x00}));
    ::kill(pid_, SIGTERM);
    EXPECT_EQ(WaitExit(), 0);
    EXPECT_FALSE(fs::is_symlink(dir_ + "/COM5"));
}

TEST_F(StandaloneTest, UnplugAndPlug) {
    Launch();
    Line();
    Line();
    OpenPort();
    Say("unplug");
    Line();
    // The reader is gone: the port hangs up.
    pollfd pfd{port_, POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    EXPECT_NE(pfd.revents & (POLLHUP | POLLERR), 0);
    ::close(port_);
    port_ = -1;
    Say("plug");
    EXPECT_NE(Line().find("published as " + dir_ + "/COM5"), std::string::npos);
    OpenPort();
    EXPECT_EQ(Exchange(0x02, 0x01, {0x26}), sim::EncodeAnswer(0x00, {0x04, 0x00}));
    ::kill(pid_, SIGINT);
    EXPECT_EQ(WaitExit(), 0);
}

}  // namespace
