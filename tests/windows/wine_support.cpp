#include "tests/windows/wine_support.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <windows.h>

namespace wine_support {

std::string GbkLines(const std::string &utf8) {
    std::string text;
    for (char c : utf8) {
        if (c == '\n') text += '\r';
        text += c;
    }
    if (text.empty()) return text;
    const int wide_size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), wide_size);
    const int gbk_size = ::WideCharToMultiByte(936, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
    std::string gbk(static_cast<std::size_t>(gbk_size), '\0');
    ::WideCharToMultiByte(936, 0, wide.data(), wide_size, gbk.data(), gbk_size, nullptr, nullptr);
    return gbk;
}

bool UnderWine() {
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int TestPort() {
    const char *port = std::getenv("ZELKOR_TEST_COM");
    return port != nullptr ? std::atoi(port) : 0;
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user) == 0) return 0;
    auto ms = [](const FILETIME &t) {
        return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

long ElapsedMs(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

StdoutCapture::StdoutCapture() {
    zelkor::capture::CaptureOptions options;
    options.text_mode = true;
    zelkor::capture::StartError error;
    const bool started = capture_.Start(
        [this](std::string_view bytes) {
            std::lock_guard lock(lock_);
            captured_ += bytes;
        },
        options, &error);
    if (!started) std::fprintf(stderr, "standard output not captured, error %d\n", error.system_error);
}

StdoutCapture::~StdoutCapture() { capture_.Stop(); }

std::string StdoutCapture::Take() {
    capture_.Flush(10000);
    {
        std::lock_guard lock(lock_);
        pending_ += captured_;
        captured_.clear();
    }
    std::string out;
    out.swap(pending_);
    return out;
}

bool StdoutCapture::WaitFor(const std::string &needle, int timeout_ms) {
    const auto start = std::chrono::steady_clock::now();
    std::string seen;
    for (;;) {
        seen += Take();
        const bool found = seen.find(needle) != std::string::npos;
        if (found || ElapsedMs(start) > timeout_ms) {
            pending_ = seen + pending_;
            return found;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool SimulatorControl::Send(const std::string &command) {
    const char *path = std::getenv("ZELKOR_SIM_CONTROL");
    if (path == nullptr) return false;
    FILE *f = std::fopen(path, "ab");
    if (f == nullptr) return false;
    const bool ok = std::fprintf(f, "%s\n", command.c_str()) > 0;
    return std::fclose(f) == 0 && ok;
}

bool SimulatorControl::WaitForOutput(const std::string &text, int timeout_ms) {
    const char *path = std::getenv("ZELKOR_SIM_LOG");
    if (path == nullptr) return false;
    const auto start = std::chrono::steady_clock::now();
    do {
        std::string log;
        if (FILE *f = std::fopen(path, "rb")) {
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) log.append(buffer, n);
            std::fclose(f);
        }
        if (log.find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (ElapsedMs(start) < timeout_ms);
    return false;
}

}  // namespace wine_support
