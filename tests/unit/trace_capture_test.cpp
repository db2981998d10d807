// The trace capture on a real descriptor 1: everything written arrives whole
// and in order, the descriptor comes back as it was, and neither a writer nor
// Stop ever waits on a consumer.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "capture/line_splitter.h"
#include "capture/trace_capture.h"

namespace {

using zelkor::capture::CaptureOptions;
using zelkor::capture::LineSplitter;
using zelkor::capture::TraceCapture;

void WriteAll(int fd, const std::string &text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        ASSERT_GT(n, 0);
        done += static_cast<std::size_t>(n);
    }
}

struct Collector {
    std::mutex lock;
    std::string bytes;
    std::size_t largest_piece = 0;
    TraceCapture::Sink Sink() {
        return [this](std::string_view piece) {
            std::lock_guard guard(lock);
            bytes += piece;
            largest_piece = std::max(largest_piece, piece.size());
        };
    }
};

bool SameFile(int fd, const struct stat &before) {
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_dev == before.st_dev && now.st_ino == before.st_ino;
}

TEST(TraceCaptureTest, DeliversEverythingInOrderAndGivesTheDescriptorBack) {
    struct stat before {};
    ASSERT_EQ(::fstat(STDOUT_FILENO, &before), 0);
    const int flags_before = ::fcntl(STDOUT_FILENO, F_GETFD);
    Collector got;
    std::string expected;
    {
        TraceCapture capture;
        CaptureOptions options;
        options.chunk_size = 100;
        ASSERT_TRUE(capture.Start(got.Sink(), options, nullptr));
        EXPECT_FALSE(SameFile(STDOUT_FILENO, before));
        for (int i = 0; i < 50; ++i) expected += std::to_string(i) + " line of the trace\n";
        WriteAll(STDOUT_FILENO, expected);
        std::printf("through stdio\n");
        expected += "through stdio\n";
        ASSERT_TRUE(capture.Flush(10000));
        {
            std::lock_guard guard(got.lock);
            EXPECT_EQ(got.bytes, expected) << "Flush returns once all was delivered";
        }
        WriteAll(STDOUT_FILENO, "last words\n");
        expected += "last words\n";
        capture.Stop();
    }
    EXPECT_EQ(got.bytes, expected);
    EXPECT_LE(got.largest_piece, 100u);
    EXPECT_TRUE(SameFile(STDOUT_FILENO, before));
    EXPECT_EQ(::fcntl(STDOUT_FILENO, F_GETFD), flags_before);
}

// Nobody consumes while the writer writes far more than the pipe holds, and a
// forked child keeps a write end open past Stop: neither may hang.
TEST(TraceCaptureTest, NeitherWriterNorStopWaitsForAnybody) {
    Collector got;
    TraceCapture capture;
    ASSERT_TRUE(capture.Start(got.Sink(), {}, nullptr));
    const std::string line(99, 'x');
    const std::size_t total = 4 * static_cast<std::size_t>(capture.pipe_capacity()) + 100;
    std::string burst;
    while (burst.size() < total) burst += line + "\n";
    WriteAll(STDOUT_FILENO, burst);

    int hold[2];
    ASSERT_EQ(::pipe(hold), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {  // keeps descriptor 1 (the pipe) until the parent lets go
        char byte;
        ::close(hold[1]);
        [[maybe_unused]] const ssize_t n = ::read(hold[0], &byte, 1);
        ::_exit(0);
    }
    ::close(hold[0]);
    capture.Stop();
    ::close(hold[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(got.bytes, burst);
}

TEST(TraceCaptureTest, ClosedDescriptorIsCapturedAndLeftClosed) {
    const int saved = ::dup(STDOUT_FILENO);
    ::close(STDOUT_FILENO);
    Collector got;
    bool started = false;
    {
        TraceCapture capture;
        started = capture.Start(got.Sink(), {}, nullptr);
        if (started) WriteAll(STDOUT_FILENO, "no terminal\n");
    }
    const bool closed_after = ::fcntl(STDOUT_FILENO, F_GETFD) < 0;
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_TRUE(started);
    EXPECT_EQ(got.bytes, "no terminal\n");
    EXPECT_TRUE(closed_after);
}

TEST(LineSplitterTest, HandsOutWholeLinesOnly) {
    LineSplitter lines;
    EXPECT_EQ(lines.Add("send"), "");
    EXPECT_EQ(lines.Add(" 55 55\nreceive"), "send 55 55\n");
    EXPECT_EQ(lines.Add(" 55\nok\n"), "receive 55\nok\n");
    EXPECT_EQ(lines.Add("tail"), "");
    EXPECT_EQ(lines.Rest(), "tail");
    EXPECT_EQ(lines.Rest(), "");
}

}  // namespace
