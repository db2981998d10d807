// Opening, holding and closing the reader's port.
#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/reader_fixture.h"
#include "zelkor.h"

extern char **environ;

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

int ThreadCount() {
    int n = 0;
    if (DIR *d = ::opendir("/proc/self/task")) {
        while (const dirent *e = ::readdir(d)) n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

double ProcessCpuMs() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Waits for the child; its exit status, or -1 when it ended by a signal or
// did not end within `timeout_ms` (it is then killed).
int WaitForChild(pid_t pid, int timeout_ms) {
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid) {
        if (ElapsedMs(start) > timeout_ms) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SessionTest : public SimulatedReaderTest {};

// Set in a forked child of this test program just before it exits.
bool in_forked_child = false;

}  // namespace

// LeakSanitizer's hook: a forked child holds copies of the parent's test
// objects (simulator buffers) that nobody frees; they are not the library's.
extern "C" __attribute__((visibility("default"), used)) int __lsan_is_turned_off() {
    return in_forked_child ? 1 : 0;
}

namespace {

TEST_F(SessionTest, HeldPortProbesBusyAndFreePortProbesFree) {
    EXPECT_EQ(IsReaderOpen(kPort), 0);
    EXPECT_EQ(CloseReader(), 1);
    EXPECT_EQ(IsReaderOpen(kPort), 1);
    // The probe leaves the port free.
    EXPECT_EQ(IsReaderOpen(kPort), 1);
    EXPECT_TRUE(Open());
    EXPECT_EQ(IsReaderOpen(kPort), 0);
}

TEST_F(SessionTest, CloseTwiceReportsTheSecondAsAFailure) {
    EXPECT_EQ(CloseReader(), 1);
    EXPECT_EQ(CloseReader(), 0);
}

TEST_F(SessionTest, PortsThatDoNotExistFailToOpenSilently) {
    ASSERT_EQ(CloseReader(), 1);
    out_.Take();
    EXPECT_EQ(OpenReader(0, 9600, 8, 0, 0), 0);
    EXPECT_EQ(OpenReader(-3, 9600, 8, 0, 0), 0);
    EXPECT_EQ(OpenReader(kPort + 1, 9600, 8, 0, 0), 0);
    EXPECT_EQ(IsReaderOpen(kPort + 1), 0);
    EXPECT_EQ(IsReaderOpen(0), 0);
    EXPECT_EQ(out_.Take(), "");
}

TEST_F(SessionTest, RejectedLineSettingsLeaveThePortFree) {
    ASSERT_EQ(CloseReader(), 1);
    EXPECT_EQ(OpenReader(kPort, 12345, 8, 0, 0), 0);
    EXPECT_EQ(OpenReader(kPort, 9600, 9, 0, 0), 0);
    EXPECT_EQ(OpenReader(kPort, 9600, 8, 7, 0), 0);
    EXPECT_EQ(OpenReader(kPort, 9600, 8, 0, 3), 0);
    EXPECT_EQ(IsReaderOpen(kPort), 1);
    // Odd parity, seven bits and one and a half stop bits are accepted.
    EXPECT_EQ(OpenReader(kPort, 115200, 7, 1, 1), 1);
    EXPECT_EQ(sim_.line_baud(), 115200);
}

TEST_F(SessionTest, OpeningAnOpenSessionReplacesItWithoutLeakingAThread) {
    const int threads = ThreadCount();
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(Open());
    EXPECT_EQ(ThreadCount(), threads);
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(FindCard(), 1);
}

TEST_F(SessionTest, CloseEndsTheReceiveThreadAtOnce) {
    const int threads = ThreadCount();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CloseReader(), 1);
    EXPECT_LT(ElapsedMs(start), 900);  // woken at once, not after a time-out
    EXPECT_EQ(ThreadCount(), threads - 1);
}

TEST_F(SessionTest, BytesSentBeforeTheOpenAreDiscarded) {
    ASSERT_EQ(CloseReader(), 1);
    sim_.SendUnprompted(Hex("55 55 00 00 00 03 00 99 99"));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(Open());
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    out_.Take();
    EXPECT_EQ(FindCard(), 1);
    EXPECT_EQ(out_.Take().find("99"), std::string::npos);
}

TEST_F(SessionTest, CommandsWithoutASessionTraceAndFailAtOnce) {
    ASSERT_EQ(CloseReader(), 1);
    out_.Take();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(FindCard(), 0);
    EXPECT_LT(ElapsedMs(start), 900);  // no 1000 ms answer wait
    EXPECT_EQ(out_.Take(), Gbk("发送数据：") + "55 55 00 00 00 04 02 01 26 21 \n");
    EXPECT_EQ(sim_.FrameCount(), 0u);
}

TEST_F(SessionTest, VanishedDeviceCostsNoProcessorTime) {
    sim_.Unplug();
    std::this_thread::sleep_for(100ms);
    ASSERT_TRUE(sim_.unplugged());
    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(1000ms);
    EXPECT_LT(ProcessCpuMs() - before, 50.0 * kSlack);
    EXPECT_EQ(FindCard(), 0);
    const auto start = std::chrono::steady_clock::now();
    CloseReader();
    EXPECT_LT(ElapsedMs(start), 900);
}

// Runs the exit probe with `args` and returns its exit status (-1: it hung
// or ended by a signal).
int RunProbe(std::vector<std::string> args, int timeout_ms) {
    args.insert(args.begin(), ZELKOR_EXIT_PROBE);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, ZELKOR_EXIT_PROBE, nullptr, nullptr, argv.data(), environ) != 0) return -1;
    return WaitForChild(pid, timeout_ms);
}

TEST_F(SessionTest, ProcessEndingWithAnOpenSessionExitsCleanly) {
    ASSERT_EQ(CloseReader(), 1);
    EXPECT_EQ(RunProbe({"7"}, 5000), 0) << "the process hung at exit or could not open";
    EXPECT_EQ(IsReaderOpen(kPort), 1);
}

// A daemon starts with standard output closed: the port must not become its
// descriptor 1, or the trace would go onto the line.
TEST_F(SessionTest, WithStandardStreamsClosedTheReaderGetsExactlyTheFrame) {
    ASSERT_EQ(CloseReader(), 1);
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(RunProbe({"7", "stdio-closed"}, 10000), 0);
    ASSERT_EQ(sim_.Frames().size(), 1u);
    EXPECT_EQ(sim_.Frames()[0], Hex("55 55 00 00 00 04 02 01 26 21"));
}

// A caller holding the standard output lock around commands: the commands
// may fail meanwhile, but the session is usable once it lets go.
TEST_F(SessionTest, CallerHoldingTheOutputLockDoesNotDeadlockTheSession) {
    ASSERT_EQ(CloseReader(), 1);
    for (int i = 0; i < 3; ++i) sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(RunProbe({"7", "stdout-locked"}, 20000), 0);
}

// A child that calls exit() must leave the parent's port, its lock and its
// receive thread alone.
TEST_F(SessionTest, ForkedChildExitingLeavesTheParentsPortHeld) {
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    ASSERT_EQ(FindCard(), 1);
    std::fflush(stdout);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        in_forked_child = true;
        std::exit(0);
    }
    EXPECT_EQ(WaitForChild(pid, 10000), 0);
    EXPECT_EQ(IsReaderOpen(kPort), 0) << "the port is free for another process";
    sim_.Enqueue(sim::Answer(0x00, Hex("04 00")));
    EXPECT_EQ(FindCard(), 1);
    EXPECT_EQ(CloseReader(), 1);
    EXPECT_EQ(IsReaderOpen(kPort), 1);
}

}  // namespace
