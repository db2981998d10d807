#include "reader/platform/port_names.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace zelkor::platform {
namespace {

struct DeviceFamily {
    const char *prefix;
    int first_number;
};

// Number ranges per device family; each holds 100 devices.
constexpr DeviceFamily kFamilies[] = {{"ttyS", 1}, {"ttyUSB", 101}, {"ttyACM", 201}};
constexpr int kFamilySize = 100;

bool IsCharDevice(const char *path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISCHR(st.st_mode);
}

// Parses a decimal number that makes up all of `text`; -1 otherwise.
int WholeNumber(const char *text) {
    if (*text == '\0' || std::strlen(text) > 6) return -1;
    int value = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return -1;
        value = value * 10 + (*p - '0');
    }
    return value;
}

bool PublishedPort(int number, char *path, std::size_t capacity) {
    const char *dir = std::getenv(kPortDirVariable);
    if (dir == nullptr || *dir == '\0') return false;
    const int n = std::snprintf(path, capacity, "%s/COM%d", dir, number);
    if (n < 0 || static_cast<std::size_t>(n) >= capacity) return false;
    struct stat st {};
    return ::lstat(path, &st) == 0;
}

}  // namespace

int PortNumberForDevice(const char *name) {
    for (const DeviceFamily &family : kFamilies) {
        const std::size_t len = std::strlen(family.prefix);
        if (std::strncmp(name, family.prefix, len) != 0) continue;
        const int k = WholeNumber(name + len);
        if (k >= 0 && k < kFamilySize) return family.first_number + k;
    }
    return 0;
}

bool ResolvePort(int number, char *path, std::size_t capacity) {
    if (number <= 0 || path == nullptr || capacity == 0) return false;
    if (PublishedPort(number, path, capacity)) return true;
    for (const DeviceFamily &family : kFamilies) {
        if (number < family.first_number || number >= family.first_number + kFamilySize) continue;
        const int n = std::snprintf(path, capacity, "/dev/%s%d", family.prefix,
                                    number - family.first_number);
        return n > 0 && static_cast<std::size_t>(n) < capacity && IsCharDevice(path);
    }
    return false;
}

int PublishedEntryNumber(const char *name) {
    if (std::strncmp(name, "COM", 3) != 0) return 0;
    const int n = WholeNumber(name + 3);
    return n > 0 ? n : 0;
}

}  // namespace zelkor::platform
