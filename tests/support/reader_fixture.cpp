#include "tests/support/reader_fixture.h"

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
    zelkor::capture::StartError error;
    const bool started = capture_.Start(
        [this](std::string_view bytes) {
            std::lock_guard lock(lock_);
            captured_ += bytes;
        },
        {}, &error);
    if (!started) ADD_FAILURE() << "standard output not captured, error " << error.system_error;
}

StdoutCapture::~StdoutCapture() { capture_.Stop(); }

std::string StdoutCapture::Take() {
    capture_.Flush(10000 * kSlack);
    {
        std::lock_guard lock(lock_);
        pending_ += captured_;
        captured_.clear();
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
