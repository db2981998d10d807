// The library's port naming, as the front ends need it: the same rules the
// library opens ports by, so that what they show is what it opens.
#include "ports/port_list.h"

#include "reader/platform/port_names.h"

namespace zelkor::ports {

int PortNumberForDevice(const std::string &name) { return platform::PortNumberForDevice(name.c_str()); }

const char *PortDirVariable() { return platform::kPortDirVariable; }

std::optional<std::string> DevicePath(int number) {
    char path[512];
    if (!platform::ResolvePort(number, path, sizeof path)) return std::nullopt;
    return std::string(path);
}

}  // namespace zelkor::ports
