// POSIX implementation of the program's system interface: signals through
// sigwait on a thread of its own, device paths published as symbolic links,
// and /dev and /sys for the device list.
#include "cli/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ports/port_list.h"

namespace zelkor::cli::platform {
namespace {

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // a closed reader: nothing more can be shown
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

std::string RealPath(const std::string &path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

std::string BaseName(const std::string &path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// ---- Interrupts ------------------------------------------------------------

// SIGINT, SIGTERM and SIGHUP are blocked in the constructing thread, and so in every
// thread started after it (the capture and the library's receive thread);
// only the watch thread takes them, so no library call is ever interrupted.
namespace {
std::atomic<int> end_at_once_depth{0};
}  // namespace

InterruptEndsAtOnce::InterruptEndsAtOnce() { ++end_at_once_depth; }
InterruptEndsAtOnce::~InterruptEndsAtOnce() { --end_at_once_depth; }

struct InterruptWatch::State {
    sigset_t signals{};
    sigset_t previous_mask{};
    std::atomic<bool> done{false};
    std::thread watcher;
};

InterruptWatch::InterruptWatch(std::stop_source source, std::function<void()> on_first)
    : state_(std::make_unique<State>()) {
    sigemptyset(&state_->signals);
    sigaddset(&state_->signals, SIGINT);
    sigaddset(&state_->signals, SIGTERM);
    sigaddset(&state_->signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &state_->signals, &state_->previous_mask);
    state_->watcher = std::thread([state = state_.get(), source, on_first]() mutable {
        int count = 0;
        for (;;) {
            int received = 0;
            if (sigwait(&state->signals, &received) != 0) continue;
            if (state->done) return;
            if (end_at_once_depth > 0) ::_exit(128 + received);
            if (++count > 1) ::_exit(130);
            source.request_stop();
            if (on_first) on_first();
        }
    });
}

InterruptWatch::~InterruptWatch() {
    state_->done = true;
    pthread_kill(state_->watcher.native_handle(), SIGINT);
    state_->watcher.join();
    pthread_sigmask(SIG_SETMASK, &state_->previous_mask, nullptr);
}

// ---- Publishing a device path ----------------------------------------------

namespace {

// COM<n> in a private directory named by ZELKOR_PORT_DIR, where n is the
// number the device has under the library's naming rule (1 when it has none).
class SymlinkPort final : public PublishedPort {
public:
    SymlinkPort(std::string dir, std::string link, int number, std::optional<std::string> previous)
        : dir_(std::move(dir)), link_(std::move(link)), number_(number), previous_(std::move(previous)) {}
    ~SymlinkPort() override {
        ::unlink(link_.c_str());
        ::rmdir(dir_.c_str());
        if (previous_) {
            ::setenv(zelkor::ports::PortDirVariable(), previous_->c_str(), 1);
        } else {
            ::unsetenv(zelkor::ports::PortDirVariable());
        }
    }
    int number() const override { return number_; }

private:
    std::string dir_;
    std::string link_;
    int number_;
    std::optional<std::string> previous_;
};

}  // namespace

std::string PortOptionHelp() {
    return "Port number as the library counts them (7 or COM7), or a device path "
           "(/dev/ttyUSB0, /dev/serial/by-id/...); `zelkor ports` lists them";
}

std::unique_ptr<PublishedPort> PublishDevice(const std::string &device_path, Bilingual *error) {
    const std::string real = RealPath(device_path);
    struct stat st {};
    if (real.empty() || ::stat(real.c_str(), &st) != 0) {
        const std::string reason = std::strerror(errno);
        *error = {device_path + ": " + reason, device_path + "：" + reason};
        return nullptr;
    }
    if (!S_ISCHR(st.st_mode)) {
        *error = {device_path + ": not a serial device", device_path + "：不是串口设备"};
        return nullptr;
    }
    const char *tmp = std::getenv("TMPDIR");
    std::string dir_template = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zelkor-port-XXXXXX";
    if (::mkdtemp(dir_template.data()) == nullptr) {
        const std::string reason = std::strerror(errno);
        *error = {"cannot create a private port directory: " + reason, "无法创建私有端口目录：" + reason};
        return nullptr;
    }
    int number = zelkor::ports::PortNumberForDevice(BaseName(real));
    if (number <= 0) number = 1;
    const std::string link = dir_template + "/COM" + std::to_string(number);
    if (::symlink(real.c_str(), link.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        *error = {"cannot publish " + device_path + ": " + reason, "无法发布 " + device_path + "：" + reason};
        ::rmdir(dir_template.c_str());
        return nullptr;
    }
    const char *previous = std::getenv(zelkor::ports::PortDirVariable());
    std::optional<std::string> kept;
    if (previous != nullptr) kept = previous;
    ::setenv(zelkor::ports::PortDirVariable(), dir_template.c_str(), 1);
    return std::make_unique<SymlinkPort>(dir_template, link, number, std::move(kept));
}

// ---- Device list -------------------------------------------------------------

namespace {

// Device path -> its name under /dev/serial/by-id, which names the adapter
// and survives re-plugging.
std::vector<std::pair<std::string, std::string>> StableNames() {
    std::vector<std::pair<std::string, std::string>> names;
    const std::string dir = "/dev/serial/by-id";
    if (DIR *d = ::opendir(dir.c_str())) {
        while (const dirent *e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            const std::string path = dir + "/" + e->d_name;
            const std::string real = RealPath(path);
            if (!real.empty()) names.emplace_back(real, path);
        }
        ::closedir(d);
    }
    return names;
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices() {
    const auto stable = StableNames();
    std::vector<SerialDevice> devices;
    for (const auto &port : zelkor::ports::ListPorts()) {
        SerialDevice device;
        device.number = port.number;
        device.device = port.device;
        const std::string real = RealPath(port.device);
        if (!real.empty() && real != port.device) device.target = real;
        for (const auto &[target, name] : stable) {
            if (target == real) device.stable_name = name;
        }
        device.accessible = ::access(port.device.c_str(), R_OK | W_OK) == 0;
        devices.push_back(std::move(device));
    }
    return devices;
}

Bilingual AccessHint(const std::vector<SerialDevice> &devices) {
    const auto blocked = std::find_if(devices.begin(), devices.end(),
                                      [](const SerialDevice &d) { return !d.accessible; });
    if (blocked == devices.end()) return {};
    struct stat st {};
    if (::stat(blocked->device.c_str(), &st) != 0) return {};
    const group *owner = ::getgrgid(st.st_gid);
    if (owner == nullptr) return {};
    const std::string name = owner->gr_name;
    gid_t groups[NGROUPS_MAX];
    const int count = ::getgroups(NGROUPS_MAX, groups);
    const bool member = ::getegid() == st.st_gid ||
                        std::find(groups, groups + std::max(count, 0), st.st_gid) != groups + std::max(count, 0);
    if (member) {
        return {"You are in the group " + name + ", yet may not open " + blocked->device +
                    ": check its permissions (ls -l " + blocked->device + ").",
                "你已在用户组 " + name + " 中，却仍不能打开 " + blocked->device + "：请检查它的权限（ls -l " +
                    blocked->device + "）。"};
    }
    return {"You may not open " + blocked->device + " (group " + name + "): add yourself to the group with\n"
            "  sudo usermod -aG " + name + " $USER\nand log in again.",
            "你不能打开 " + blocked->device + "（用户组 " + name + "）：用下面的命令把自己加入该用户组\n"
            "  sudo usermod -aG " + name + " $USER\n然后重新登录。"};
}

void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void WriteStderr(std::string_view text) { WriteAll(STDERR_FILENO, text); }

void WriteTo(int descriptor, std::string_view text) { WriteAll(descriptor, text); }

}  // namespace zelkor::cli::platform
