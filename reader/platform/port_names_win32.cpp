// Windows names its serial ports itself: port n is the device COM<n>, opened
// as "\\.\COM<n>" so that numbers above 9 work too.
#include "port_names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <windows.h>

namespace zelkor::platform {
namespace {

// Parses the number of a name "COM<n>" (any case), or 0.
int ComNumber(const char *name) {
    if (name == nullptr || _strnicmp(name, "COM", 3) != 0) return 0;
    const char *digits = name + 3;
    if (*digits == '\0' || std::strlen(digits) > 6) return 0;
    int value = 0;
    for (const char *p = digits; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return 0;
        value = value * 10 + (*p - '0');
    }
    return value;
}

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

bool ResolvePort(int number, char *path, std::size_t capacity) {
    if (number <= 0 || path == nullptr || capacity == 0) return false;
    const int n = std::snprintf(path, capacity, "\\\\.\\COM%d", number);
    return n > 0 && static_cast<std::size_t>(n) < capacity;
}

int PortNumberForDevice(const char *name) { return ComNumber(name); }

std::vector<PortEntry> ListPorts() {
    std::vector<PortEntry> ports;
    const std::vector<char> names = DosDeviceNames();
    for (std::size_t i = 0; i < names.size() && names[i] != '\0';) {
        const char *name = names.data() + i;
        const std::size_t length = std::strlen(name);
        const int number = ComNumber(name);
        if (number > 0) {
            char target[512] = {};
            const std::string shown =
                ::QueryDosDeviceA(name, target, sizeof target) != 0 ? target : name;
            ports.push_back({number, std::string("\\\\.\\") + name,
                             "COM" + std::to_string(number) + " (" + shown + ")"});
        }
        i += length + 1;
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry &a, const PortEntry &b) { return a.number < b.number; });
    return ports;
}

}  // namespace zelkor::platform
