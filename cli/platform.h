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

#include "cli/bilingual.h"

namespace zelkor::cli::platform {

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
std::unique_ptr<PublishedPort> PublishDevice(const std::string &device_path, Bilingual *error);

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
Bilingual AccessHint(const std::vector<SerialDevice> &devices);

// A closed reader of standard output ends the writing, not the program.
void IgnoreBrokenPipe();

bool StderrIsTerminal();
void WriteStderr(std::string_view text);
// Writes the program's UTF-8 text to `descriptor` (standard output or a copy
// of it) as the system shows it.
void WriteTo(int descriptor, std::string_view text);

}  // namespace zelkor::cli::platform
