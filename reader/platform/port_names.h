// Port numbers ("COM<n>") and the devices behind them.
//
// Port n is, in this order of preference:
//  1. the entry COM<n> (a symbolic link to a tty, or a device node) in the
//     directory named by the environment variable ZELKOR_PORT_DIR;
//  2. a fixed device: /dev/ttyS<k> is COM<k+1>, /dev/ttyUSB<k> is COM<101+k>,
//     /dev/ttyACM<k> is COM<201+k> (k from 0 to 99).
// A device keeps its number whatever else is plugged in.
// On Windows port n is the system's own device COM<n> (port_names_win32.cpp).
// The ports present now are listed by ports/port_list.h on these rules.
#pragma once

#include <cstddef>

namespace zelkor::platform {

inline constexpr const char *kPortDirVariable = "ZELKOR_PORT_DIR";

// Writes the device path of port `number` into `path`; false when the number
// is 0 or less, maps to nothing, or the path does not fit.
bool ResolvePort(int number, char *path, std::size_t capacity);

// Port number of a device name such as "ttyUSB0" (without /dev/), or 0.
int PortNumberForDevice(const char *name);

// Port number of a published entry's name "COM<n>", or 0.
int PublishedEntryNumber(const char *name);

}  // namespace zelkor::platform
