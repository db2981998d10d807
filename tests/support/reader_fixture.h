// Shared test scaffolding: a simulated reader published as a COM port, the
// library's standard output captured, and small byte helpers.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "capture/trace_capture.h"
#include "tests/support/hex_bytes.h"
#include "sim/simulator.h"

namespace testing_support {

using hex_bytes::Hex;
using hex_bytes::ToHex;

// UTF-8 text -> GBK bytes, the way the library must print it.
std::string Gbk(const std::string &utf8);

// Captures file descriptor 1 while alive.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;
    // Everything printed since the last Take (GBK bytes).
    std::string Take();
    // Waits until the output contains `needle` (GBK); returns all output so far
    // since the last Take, and consumes it only when found.
    bool WaitFor(const std::string &needle, int timeout_ms);

private:
    std::mutex lock_;
    std::string captured_;  // guarded by lock_
    std::string pending_;
    zelkor::capture::TraceCapture capture_;
};

// Upper time bounds in tests stretch by this factor in sanitizer builds,
// which run several times slower; lower bounds never do.
#ifdef ZELKOR_UNDER_SANITIZER
inline constexpr int kSlack = 10;
#else
inline constexpr int kSlack = 1;
#endif

// Room on top of a documented wait before a test calls it too long: enough
// for a busy 2-core machine and sanitizers, still short of the next wait
// (a second 1000 ms answer wait, or the 2000 ms notice after the first).
inline constexpr int kBusyMarginMs = 700;

// Milliseconds since `start`.
long ElapsedMs(std::chrono::steady_clock::time_point start);

// A simulated reader on a pseudo-terminal published as COM<kPort> in a private
// ZELKOR_PORT_DIR, and an open session on it (9600 8N1).
class SimulatedReaderTest : public ::testing::Test {
protected:
    static constexpr int kPort = 7;
    void SetUp() override;
    void TearDown() override;
    // Reopens the session (after a test closed it).
    bool Open(int baud = 9600);

    sim::Simulator sim_;
    std::string port_dir_;
    StdoutCapture out_;
};

}  // namespace testing_support
