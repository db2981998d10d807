// Scaffolding of the Windows tests: the library's standard output captured,
// the Linux peer that wine-run.sh put behind the test's COM port, and byte
// helpers.
#pragma once

#include <chrono>
#include <mutex>
#include <string>

#include "capture/trace_capture.h"
#include "tests/support/hex_bytes.h"
#include "sim/sim_frame.h"

namespace wine_support {

using hex_bytes::Hex;
using hex_bytes::ToHex;

// UTF-8 text -> GBK (code page 936) bytes, with Windows' line ends, the way
// the library's text arrives through a text-mode standard output.
std::string GbkLines(const std::string &utf8);

// True when running under Wine rather than Windows.
bool UnderWine();

// The COM port number wine-run.sh published the peer as (ZELKOR_TEST_COM).
int TestPort();

// Process time (user + kernel) used so far, in milliseconds.
double ProcessCpuMs();

long ElapsedMs(std::chrono::steady_clock::time_point start);

// Captures file descriptor 1, in text mode as a program's standard output
// is, while alive.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;
    // Bytes printed since the last Take.
    std::string Take();
    // Waits until the output holds `needle`; keeps it for the next Take.
    bool WaitFor(const std::string &needle, int timeout_ms);

private:
    std::mutex lock_;
    std::string captured_;  // guarded by lock_
    std::string pending_;
    zelkor::capture::TraceCapture capture_;
};

// The simulated reader behind the test's port.
class SimulatorControl {
public:
    // Sends one of the simulator's commands ("unplug", "none", "s70", ...).
    static bool Send(const std::string &command);
    // Waits until the simulator's output holds `text`.
    static bool WaitForOutput(const std::string &text, int timeout_ms);
};

}  // namespace wine_support
