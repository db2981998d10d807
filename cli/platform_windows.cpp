// Windows implementation of the program's system interface: Ctrl-C through a
// console control handler, ports as the system's own COM<n> devices (there are
// no device paths to publish), and the DOS device namespace for the device
// list.
#include "cli/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <io.h>

#include <windows.h>

#include "ports/port_list.h"

namespace zelkor::cli::platform {
namespace {

constexpr int kStderr = 2;

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

// The console of a descriptor, or null when it leads to a file or a pipe.
HANDLE ConsoleOf(int fd) {
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0 ? handle : nullptr;
}

// The program's text is UTF-8. A console shows it only as UTF-16, whatever
// its code page; files and pipes get the bytes.
void WriteAll(int fd, std::string_view text) {
    if (HANDLE console = ConsoleOf(fd)) {
        const std::wstring wide = Widen(text);
        DWORD written = 0;
        ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    while (!text.empty()) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(text.size(), 1u << 20));
        const int n = ::_write(fd, text.data(), chunk);
        if (n <= 0) return;  // a closed reader: nothing more can be shown
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

// ---- Interrupts ------------------------------------------------------------

// Windows calls a console control handler on a thread of its own, so the
// watch needs no thread; the handler reaches the watch through one slot,
// which the destructor empties under the same lock before the state goes.
namespace {

struct Watch {
    std::stop_source source;
    std::function<void()> on_first;
    int count = 0;
};

std::mutex watch_mutex;
Watch *active_watch = nullptr;
std::atomic<int> end_at_once_depth{0};

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    std::lock_guard lock(watch_mutex);
    if (active_watch == nullptr) return FALSE;
    if (end_at_once_depth > 0 || ++active_watch->count > 1) ::_exit(130);
    active_watch->source.request_stop();
    if (active_watch->on_first) active_watch->on_first();
    return TRUE;
}

}  // namespace

InterruptEndsAtOnce::InterruptEndsAtOnce() { ++end_at_once_depth; }
InterruptEndsAtOnce::~InterruptEndsAtOnce() { --end_at_once_depth; }

struct InterruptWatch::State {
    Watch watch;
};

InterruptWatch::InterruptWatch(std::stop_source source, std::function<void()> on_first)
    : state_(std::make_unique<State>()) {
    state_->watch.source = std::move(source);
    state_->watch.on_first = std::move(on_first);
    {
        std::lock_guard lock(watch_mutex);
        active_watch = &state_->watch;
    }
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

InterruptWatch::~InterruptWatch() {
    ::SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    std::lock_guard lock(watch_mutex);
    active_watch = nullptr;
}

// ---- Ports -------------------------------------------------------------------

std::string PortOptionHelp() { return "Port number or name (7 or COM7); `zelkor ports` lists them"; }

// Port n is always the system's COM<n>: there is no path to publish.
std::unique_ptr<PublishedPort> PublishDevice(const std::string &device_path, Bilingual *error) {
    *error = {device_path + ": device paths are not used on Windows; give the port as a number or COM<n> "
                            "(`zelkor ports` lists them)",
              device_path + "：Windows 上不使用设备路径；请用数字或 COM<n> 指定端口（`zelkor ports` 列出全部端口）"};
    return nullptr;
}

std::vector<SerialDevice> ListSerialDevices() {
    std::vector<SerialDevice> devices;
    for (const auto &port : zelkor::ports::ListPorts()) {
        SerialDevice device;
        device.number = port.number;
        device.device = "COM" + std::to_string(port.number);
        char target[512] = {};
        if (::QueryDosDeviceA(device.device.c_str(), target, sizeof target) != 0) device.target = target;
        // Windows grants COM ports to every local user; a port held by another
        // program is refused when opened, and that error says so.
        device.accessible = true;
        devices.push_back(std::move(device));
    }
    return devices;
}

Bilingual AccessHint(const std::vector<SerialDevice> &) { return {}; }

// Windows has no SIGPIPE: a write to a closed pipe fails, and WriteAll stops
// at the first failed write.
void IgnoreBrokenPipe() {}

// True for a console that understands the escape sequences of the progress
// line (Windows 10 and later, once asked; Wine's console does).
bool StderrIsTerminal() {
    HANDLE console = ConsoleOf(kStderr);
    if (console == nullptr) return false;
    DWORD mode = 0;
    ::GetConsoleMode(console, &mode);
    return ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void WriteStderr(std::string_view text) { WriteAll(kStderr, text); }

void WriteTo(int descriptor, std::string_view text) { WriteAll(descriptor, text); }

}  // namespace zelkor::cli::platform
