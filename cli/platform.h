// What the command-line program needs from the operating system, behind one
// small interface: each system supplies its own implementation file
// (platform_posix.cpp here), so no other file of the program needs an #ifdef.
#pragma once

#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace zelkor::cli::platform {

// Carries what the process writes on its standard output (the library's
// trace) to a sink, on a thread of its own, while the program keeps the
// original standard output for its results.
class OutputCapture {
public:
    using Sink = std::function<void(std::string_view bytes)>;

    OutputCapture();
    ~OutputCapture();  // stops
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    // Redirects standard output into the capture; false (nothing redirected)
    // when the system refuses, with the reason in `error`.
    bool Start(Sink sink, std::string *error);
    // Restores standard output and hands the sink everything still pending.
    void Stop();
    // Writes to the standard output the process had before Start.
    void WriteResult(std::string_view text);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Turns the first interrupt (Ctrl-C, or a request to terminate or hang up)
// into a stop request on `source` and calls `on_first`; a second one ends the
// process at once with status 130.
class InterruptWatch {
public:
    InterruptWatch(std::stop_source source, std::function<void()> on_first);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// While one lives (the program reads its input files: no card touched, no
// file written yet), an interrupt ends the process at once with 128 + the
// signal's number.
class InterruptEndsAtOnce {
public:
    InterruptEndsAtOnce();
    ~InterruptEndsAtOnce();
    InterruptEndsAtOnce(const InterruptEndsAtOnce &) = delete;
    InterruptEndsAtOnce &operator=(const InterruptEndsAtOnce &) = delete;
};

// A device path made reachable under a port number for the library, for as
// long as the object lives.
class PublishedPort {
public:
    virtual ~PublishedPort() = default;
    virtual int number() const = 0;
};

// Help text of the -p option: what a port may be given as on this system.
std::string PortOptionHelp();

// Publishes `device_path` (e.g. /dev/ttyUSB0, /dev/serial/by-id/...) as a
// port number; null with the reason in `error` when the device is missing or
// cannot be published.
std::unique_ptr<PublishedPort> PublishDevice(const std::string &device_path, std::string *error);

struct SerialDevice {
    int number = 0;
    std::string device;      // path the port number stands for
    std::string target;      // the device behind it when `device` is a link, else empty
    std::string stable_name; // a name that survives re-plugging, or empty
    bool accessible = true;  // this user may open it for reading and writing
};

// The serial devices present now, in port-number order.
std::vector<SerialDevice> ListSerialDevices();
// What the user can do about devices that are not accessible (empty: nothing
// known to suggest).
std::string AccessHint(const std::vector<SerialDevice> &devices);

// A closed reader of standard output ends the writing, not the program.
void IgnoreBrokenPipe();

bool StderrIsTerminal();
void WriteStderr(std::string_view text);

// Converts the library's GBK text to UTF-8 chunk by chunk: a character split
// between two chunks is completed by the next one; a byte that is not GBK
// becomes U+FFFD.
class GbkToUtf8 {
public:
    GbkToUtf8();
    ~GbkToUtf8();
    GbkToUtf8(const GbkToUtf8 &) = delete;
    GbkToUtf8 &operator=(const GbkToUtf8 &) = delete;
    std::string Convert(std::string_view gbk);
    // Whatever is left of an incomplete character, as U+FFFD.
    std::string Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zelkor::cli::platform
