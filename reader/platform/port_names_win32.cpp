// Windows names its serial ports itself: port n is the device COM<n>, opened
// as "\\.\COM<n>" so that numbers above 9 work too.
#include "reader/platform/port_names.h"

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

}  // namespace

bool ResolvePort(int number, char *path, std::size_t capacity) {
    if (number <= 0 || path == nullptr || capacity == 0) return false;
    const int n = std::snprintf(path, capacity, "\\\\.\\COM%d", number);
    return n > 0 && static_cast<std::size_t>(n) < capacity;
}

int PortNumberForDevice(const char *name) { return ComNumber(name); }

int PublishedEntryNumber(const char *name) { return ComNumber(name); }

}  // namespace zelkor::platform
