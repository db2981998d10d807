#include "reader_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include "zelkor.h"

namespace testing_support {

std::string Gbk(const std::string &utf8) {
    iconv_t cd = ::iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string in = utf8;
    std::string out(in.size() * 2 + 8, '\0');
    char *src = in.data();
    char *dst = out.data();
    std::size_t src_left = in.size();
    std::size_t dst_left = out.size();
    const std::size_t rc = ::iconv(cd, &src, &src_left, &dst, &dst_left);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) return {};
    out.resize(out.size() - dst_left);
    return out;
}

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    char name[] = "/tmp/zelkor-stdout-XXXXXX";
    file_fd_ = ::mkstemp(name);
    ::unlink(name);
    saved_fd_ = ::dup(1);
    ::dup2(file_fd_, 1);
}

StdoutCapture::~StdoutCapture() {
    std::fflush(stdout);
    ::dup2(saved_fd_, 1);
    ::close(saved_fd_);
    ::close(file_fd_);
}

std::string StdoutCapture::Take() {
    std::fflush(stdout);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::pread(file_fd_, buffer, sizeof buffer, offset_);
        if (n <= 0) break;
        pending_.append(buffer, static_cast<std::size_t>(n));
        offset_ += n;
    }
    std::string out;
    out.swap(pending_);
    return out;
}

bool StdoutCapture::WaitFor(const std::string &needle, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string seen;
    for (;;) {
        seen += Take();
        if (seen.find(needle) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() > deadline) {
            pending_ = seen + pending_;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

void SimulatedReaderTest::SetUp() {
    char dir[] = "/tmp/zelkor-ports-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    port_dir_ = dir;
    ::setenv("ZELKOR_PORT_DIR", dir, 1);
    ASSERT_TRUE(sim_.Start());
    ASSERT_TRUE(sim_.Publish(port_dir_, kPort));
    ASSERT_TRUE(Open());
}

bool SimulatedReaderTest::Open(int baud) { return OpenReader(kPort, baud, 8, 0, 0) == 1; }

void SimulatedReaderTest::TearDown() {
    CloseReader();
    sim_.Stop();
    const std::string link = port_dir_ + "/COM" + std::to_string(kPort);
    ::unlink(link.c_str());
    ::rmdir(port_dir_.c_str());
}

}  // namespace testing_support
