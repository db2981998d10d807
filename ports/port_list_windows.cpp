#include "ports/port_list.h"

#include <algorithm>
#include <cstring>

#include <windows.h>

#include "reader/platform/port_names.h"

namespace zelkor::ports {
namespace {

// Every name in the DOS device namespace, as a list of strings ending in an
// empty one; the list grows with the number of devices, so grow the buffer.
std::vector<char> DosDeviceNames() {
    std::vector<char> names(16 * 1024);
    while (names.size() <= 4 * 1024 * 1024) {
        const DWORD n = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
        if (n != 0) {
            names.resize(n);
            return names;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
        names.resize(names.size() * 2);
    }
    return {};
}

}  // namespace

std::vector<Port> ListPorts() {
    std::vector<Port> ports;
    const std::vector<char> names = DosDeviceNames();
    for (std::size_t i = 0; i < names.size() && names[i] != '\0';) {
        const char *name = names.data() + i;
        const std::size_t length = std::strlen(name);
        const int number = platform::PortNumberForDevice(name);
        if (number > 0) {
            char target[512] = {};
            const std::string shown = ::QueryDosDeviceA(name, target, sizeof target) != 0 ? target : name;
            ports.push_back({number, std::string("\\\\.\\") + name, "COM" + std::to_string(number) + " (" + shown + ")"});
        }
        i += length + 1;
    }
    std::sort(ports.begin(), ports.end(), [](const Port &a, const Port &b) { return a.number < b.number; });
    return ports;
}

}  // namespace zelkor::ports
