// Windows implementation of the program's system interface: descriptor 1
// through a CRT pipe, Ctrl-C through a console control handler, ports as the
// system's own COM<n> devices (there are no device paths to publish), the DOS
// device namespace for the device list, and code page 936 for GBK.
#include "platform.h"

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

#include "platform/port_names.h"

namespace zelkor::cli::platform {
namespace {

constexpr int kStdout = 1;
constexpr int kStderr = 2;

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

std::string Narrow(const wchar_t *wide, int count) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide, count, out.data(), n, nullptr, nullptr);
    return out;
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

// ---- Standard output capture ---------------------------------------------

struct OutputCapture::State {
    int saved_fd = -1;
    int read_fd = -1;
    Sink sink;
    std::thread reader;
};

OutputCapture::OutputCapture() : state_(std::make_unique<State>()) {}

OutputCapture::~OutputCapture() { Stop(); }

bool OutputCapture::Start(Sink sink, std::string *error) {
    if (state_->saved_fd >= 0) return true;
    // A GUI-launched program may have no descriptor 1: give it one, or the
    // pipe could take its number.
    if (::_get_osfhandle(kStdout) == -1) {
        const int null_fd = ::_open("NUL", _O_WRONLY | _O_BINARY);
        if (null_fd >= 0 && null_fd != kStdout) {
            ::_dup2(null_fd, kStdout);
            ::_close(null_fd);
        }
    }
    // Binary, so the library's GBK bytes and line ends arrive as written.
    int fds[2];
    if (::_pipe(fds, 64 * 1024, _O_BINARY | _O_NOINHERIT) != 0) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    std::fflush(stdout);
    const int saved = ::_dup(kStdout);
    if (saved < 0 || ::_dup2(fds[1], kStdout) != 0) {
        *error = std::string("cannot redirect standard output: ") + std::strerror(errno);
        if (saved >= 0) ::_close(saved);
        ::_close(fds[0]);
        ::_close(fds[1]);
        return false;
    }
    ::_close(fds[1]);
    state_->saved_fd = saved;
    state_->read_fd = fds[0];
    state_->sink = std::move(sink);
    // The thread reads until the write end is gone, which Stop brings about.
    state_->reader = std::thread([state = state_.get()] {
        char buffer[4096];
        for (;;) {
            const int n = ::_read(state->read_fd, buffer, sizeof buffer);
            if (n <= 0) return;
            state->sink(std::string_view(buffer, static_cast<std::size_t>(n)));
        }
    });
    return true;
}

void OutputCapture::Stop() {
    if (state_->saved_fd < 0) return;
    std::fflush(stdout);
    ::_dup2(state_->saved_fd, kStdout);  // closes the pipe's write end
    ::_close(state_->saved_fd);
    state_->saved_fd = -1;
    if (state_->reader.joinable()) state_->reader.join();
    ::_close(state_->read_fd);
    state_->read_fd = -1;
}

void OutputCapture::WriteResult(std::string_view text) {
    WriteAll(state_->saved_fd >= 0 ? state_->saved_fd : kStdout, text);
}

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
std::unique_ptr<PublishedPort> PublishDevice(const std::string &device_path, std::string *error) {
    *error = device_path + ": device paths are not used on Windows; give the port as a number or COM<n> "
                           "(`zelkor ports` lists them)";
    return nullptr;
}

std::vector<SerialDevice> ListSerialDevices() {
    std::vector<SerialDevice> devices;
    for (const auto &port : zelkor::platform::ListPorts()) {
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

std::string AccessHint(const std::vector<SerialDevice> &) { return {}; }

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

// ---- GBK to UTF-8 -----------------------------------------------------------

namespace {

constexpr UINT kGbkCodePage = 936;
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// One GBK character (one byte below 0x80, else a lead and a trail byte) as
// UTF-8; empty when the system does not know it.
std::string ConvertCharacter(std::string_view gbk) {
    wchar_t wide[2];
    const int n = ::MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, gbk.data(),
                                        static_cast<int>(gbk.size()), wide, 2);
    return n > 0 ? Narrow(wide, n) : std::string();
}

}  // namespace

struct GbkToUtf8::State {
    std::string pending;  // a lead byte whose trail byte is still to come
};

GbkToUtf8::GbkToUtf8() : state_(std::make_unique<State>()) {}

GbkToUtf8::~GbkToUtf8() = default;

std::string GbkToUtf8::Convert(std::string_view gbk) {
    const std::string input = state_->pending + std::string(gbk);
    state_->pending.clear();
    std::string out;
    std::size_t i = 0;
    while (i < input.size()) {
        const auto byte = static_cast<unsigned char>(input[i]);
        if (byte < 0x80) {
            out += input[i++];
            continue;
        }
        if (IsLeadByte(byte) && i + 1 == input.size()) {
            state_->pending = input.substr(i);
            break;
        }
        const std::string character = IsLeadByte(byte) ? ConvertCharacter(std::string_view(input).substr(i, 2)) : "";
        if (character.empty()) {  // not GBK: one byte becomes U+FFFD
            out += kReplacement;
            ++i;
        } else {
            out += character;
            i += 2;
        }
    }
    return out;
}

std::string GbkToUtf8::Finish() {
    std::string rest;
    if (!state_->pending.empty()) rest = std::string(kReplacement);
    state_->pending.clear();
    return rest;
}

}  // namespace zelkor::cli::platform
