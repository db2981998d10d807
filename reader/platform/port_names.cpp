#include "port_names.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
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

// A legacy ttyS node exists for every possible UART; only those with a port
// behind them count as present.
bool SerialDevicePresent(const char *name) {
    char attr[320];  // a d_name is at most 255 bytes
    std::snprintf(attr, sizeof attr, "/sys/class/tty/%s/device", name);
    if (::access(attr, F_OK) != 0) return false;
    if (std::strncmp(name, "ttyS", 4) != 0) return true;
    std::snprintf(attr, sizeof attr, "/sys/class/tty/%s/type", name);
    FILE *f = std::fopen(attr, "r");
    if (f == nullptr) return false;
    int type = 0;
    const bool read = std::fscanf(f, "%d", &type) == 1;
    std::fclose(f);
    return read && type != 0;
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

std::vector<PortEntry> ListPorts() {
    std::vector<PortEntry> published;
    std::vector<PortEntry> devices;
    const char *dir = std::getenv(kPortDirVariable);
    if (dir != nullptr && *dir != '\0') {
        if (DIR *d = ::opendir(dir)) {
            while (const dirent *e = ::readdir(d)) {
                if (std::strncmp(e->d_name, "COM", 3) != 0) continue;
                const int n = WholeNumber(e->d_name + 3);
                if (n <= 0) continue;
                std::string path = std::string(dir) + "/" + e->d_name;
                char target[256];
                const ssize_t len = ::readlink(path.c_str(), target, sizeof target - 1);
                std::string shown = len > 0 ? std::string(target, static_cast<size_t>(len)) : path;
                published.push_back({n, path, "COM" + std::to_string(n) + " (" + shown + ")"});
            }
            ::closedir(d);
        }
    }
    if (DIR *d = ::opendir("/dev")) {
        while (const dirent *e = ::readdir(d)) {
            const int n = PortNumberForDevice(e->d_name);
            if (n <= 0 || !SerialDevicePresent(e->d_name)) continue;
            const bool shadowed = std::any_of(published.begin(), published.end(),
                                              [n](const PortEntry &p) { return p.number == n; });
            if (shadowed) continue;
            std::string path = std::string("/dev/") + e->d_name;
            devices.push_back({n, path, "COM" + std::to_string(n) + " (" + path + ")"});
        }
        ::closedir(d);
    }
    auto by_number = [](const PortEntry &a, const PortEntry &b) { return a.number < b.number; };
    std::sort(published.begin(), published.end(), by_number);
    std::sort(devices.begin(), devices.end(), by_number);
    published.insert(published.end(), devices.begin(), devices.end());
    return published;
}

}  // namespace zelkor::platform
