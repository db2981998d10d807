#include "ports/port_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <unistd.h>

#include "reader/platform/port_names.h"

namespace zelkor::ports {
namespace {

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

std::vector<Port> PublishedPorts() {
    std::vector<Port> ports;
    const char *dir = std::getenv(platform::kPortDirVariable);
    if (dir == nullptr || *dir == '\0') return ports;
    DIR *d = ::opendir(dir);
    if (d == nullptr) return ports;
    while (const dirent *e = ::readdir(d)) {
        const int n = platform::PublishedEntryNumber(e->d_name);
        if (n <= 0) continue;
        std::string path = std::string(dir) + "/" + e->d_name;
        char target[256];
        const ssize_t len = ::readlink(path.c_str(), target, sizeof target - 1);
        std::string shown = len > 0 ? std::string(target, static_cast<size_t>(len)) : path;
        ports.push_back({n, path, "COM" + std::to_string(n) + " (" + shown + ")"});
    }
    ::closedir(d);
    return ports;
}

std::vector<Port> DevicePorts(const std::vector<Port> &published) {
    std::vector<Port> ports;
    DIR *d = ::opendir("/dev");
    if (d == nullptr) return ports;
    while (const dirent *e = ::readdir(d)) {
        const int n = platform::PortNumberForDevice(e->d_name);
        if (n <= 0 || !SerialDevicePresent(e->d_name)) continue;
        const bool shadowed =
            std::any_of(published.begin(), published.end(), [n](const Port &p) { return p.number == n; });
        if (shadowed) continue;
        std::string path = std::string("/dev/") + e->d_name;
        ports.push_back({n, path, "COM" + std::to_string(n) + " (" + path + ")"});
    }
    ::closedir(d);
    return ports;
}

}  // namespace

std::vector<Port> ListPorts() {
    std::vector<Port> published = PublishedPorts();
    std::vector<Port> devices = DevicePorts(published);
    auto by_number = [](const Port &a, const Port &b) { return a.number < b.number; };
    std::sort(published.begin(), published.end(), by_number);
    std::sort(devices.begin(), devices.end(), by_number);
    published.insert(published.end(), devices.begin(), devices.end());
    return published;
}

}  // namespace zelkor::ports
