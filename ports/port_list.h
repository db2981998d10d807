// The serial ports present now, numbered as the library numbers them: what a
// front end offers its user to choose from. The numbering rules themselves
// belong to the library (its port naming); this lists what they find.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zelkor::ports {

struct Port {
    int number = 0;
    std::string device;  // path of the device (or of the published entry)
    std::string label;   // "COM<n> (<device>)"
};

// Published entries (ZELKOR_PORT_DIR) first, then real devices, each group in
// ascending number; on Windows the system's COM devices in ascending number.
std::vector<Port> ListPorts();

// The number the library gives a device named `name` ("ttyUSB0", without
// /dev/), or 0 when it has none.
int PortNumberForDevice(const std::string &name);
// The environment variable naming a directory of entries COM<n> that the
// library takes as port n before any device.
const char *PortDirVariable();
// The device behind port `number` now, or nothing when there is none.
std::optional<std::string> DevicePath(int number);

}  // namespace zelkor::ports
