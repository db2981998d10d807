// Windows serial ports. The port is opened for overlapped I/O so that the
// receive thread can wait for input and for Wake() at the same time: a read
// first waits for a received-character event (or the wake event, or the time
// limit), then takes whatever the driver holds without waiting again.
#include "reader/platform/serial_port.h"

#include <chrono>
#include <thread>

#include <windows.h>

namespace zelkor::platform {
namespace {

constexpr DWORD kQueueSize = 1024;
// Time a write may take beyond the bytes' own time on the line: the driver
// may hold the output briefly, but a dead device must not stall the caller.
constexpr DWORD kWriteSlackMs = 1000;
// Polling period for drivers that cannot signal received characters.
constexpr DWORD kPollSliceMs = 10;

HANDLE Native(void *handle) { return static_cast<HANDLE>(handle); }

// Opens the port with no sharing: while we hold it every other open fails.
HANDLE OpenExclusive(const char *path, DWORD flags) {
    HANDLE handle = ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  flags, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

void CloseIfSet(void *&handle) {
    if (handle != nullptr) ::CloseHandle(Native(handle));
    handle = nullptr;
}

// Reads return at once with what the driver holds; waiting is done by
// WaitCommEvent. A write of n bytes may take the line's time for n bytes
// (10 bits each, rounded up per byte) plus the slack.
bool SetTimeouts(HANDLE port, int baud) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = baud > 0 ? 10000 / static_cast<DWORD>(baud) + 1 : 1;
    timeouts.WriteTotalTimeoutConstant = kWriteSlackMs;
    return ::SetCommTimeouts(port, &timeouts) != 0;
}

// Waits for an overlapped operation that the caller gave up on to end, so
// that its OVERLAPPED record may go out of scope.
void CancelAndSettle(HANDLE port, OVERLAPPED *overlapped) {
    ::CancelIoEx(port, overlapped);
    DWORD ignored = 0;
    ::GetOverlappedResult(port, overlapped, &ignored, TRUE);
}

// Waits until a character was received (kData), Wake() was called (kWoken),
// the time or a polling slice ran out (kNothing) or the device failed (kGone).
ReadStatus WaitForInput(HANDLE port, HANDLE read_event, HANDLE wake_event, DWORD timeout_ms) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = read_event;
    DWORD mask = 0;
    const bool done = ::WaitCommEvent(port, &mask, &overlapped) != 0;
    const bool pending = !done && ::GetLastError() == ERROR_IO_PENDING;
    // A wait that failed says nothing for sure: ClearCommError judges the
    // device on the next round.
    if (!done && !pending) mask = 0;
    if (pending) {
        HANDLE events[2] = {read_event, wake_event};
        const DWORD which = ::WaitForMultipleObjects(2, events, FALSE, timeout_ms);
        if (which != WAIT_OBJECT_0) {
            CancelAndSettle(port, &overlapped);
            if (which == WAIT_OBJECT_0 + 1) return ReadStatus::kWoken;
            return which == WAIT_TIMEOUT ? ReadStatus::kNothing : ReadStatus::kGone;
        }
        DWORD ignored = 0;
        if (::GetOverlappedResult(port, &overlapped, &ignored, FALSE) == 0) mask = 0;
    }
    if ((mask & EV_RXCHAR) != 0) return ReadStatus::kData;
    // The wait ended without the event: some drivers (Wine's on a
    // pseudo-terminal) cannot report received characters and abort every
    // wait at once. Poll them instead, one short slice at a time, so that the
    // caller neither spins nor misses a Wake(). A device that went away fails
    // ClearCommError on the next round.
    const DWORD slice_ms = timeout_ms < kPollSliceMs ? timeout_ms : kPollSliceMs;
    return ::WaitForSingleObject(wake_event, slice_ms) == WAIT_OBJECT_0 ? ReadStatus::kWoken
                                                                         : ReadStatus::kNothing;
}

// The receive thread runs code of this module. Unloading the DLL while a
// session is open would join that thread under the loader lock, which the
// thread needs in order to end: FreeLibrary would hang. Once a port has been
// opened the module therefore stays loaded until the process ends.
void KeepModuleLoaded() {
    static const char anchor = 0;
    HMODULE self = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                         &anchor, &self);
}

}  // namespace

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Open(const char *path) {
    Close();
    HANDLE port = OpenExclusive(path, FILE_FLAG_OVERLAPPED);
    if (port == nullptr) return false;
    handle_ = port;
    wake_event_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    read_event_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    write_event_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (wake_event_ == nullptr || read_event_ == nullptr || write_event_ == nullptr ||
        ::SetCommMask(port, EV_RXCHAR) == 0) {
        Close();
        return false;
    }
    ::SetupComm(port, kQueueSize, kQueueSize);
    SetTimeouts(port, 9600);
    KeepModuleLoaded();
    return true;
}

bool SerialPort::Configure(int baud, int data_bits, int parity, int stop_bits) {
    data_bits &= 0xFF;
    parity &= 0xFF;
    stop_bits &= 0xFF;
    if (handle_ == nullptr || baud <= 0 || data_bits < 5 || data_bits > 8 || parity > 4 ||
        stop_bits > 2) {
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (::GetCommState(Native(handle_), &dcb) == 0) return false;
    // Parity and stop-bit codes are Windows' own (NOPARITY.., ONESTOPBIT..).
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = static_cast<BYTE>(data_bits);
    dcb.Parity = static_cast<BYTE>(parity);
    dcb.StopBits = static_cast<BYTE>(stop_bits);
    // Every flag is set: a flag left as the driver had it could turn on
    // XON/XOFF, which stalls the line at the first 0x11 or 0x13 in a frame,
    // or replace bytes. The protocol is binary and has no flow control.
    dcb.fBinary = 1;
    dcb.fParity = parity != 0 ? 1 : 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fAbortOnError = 0;
    if (::SetCommState(Native(handle_), &dcb) == 0) return false;
    SetTimeouts(Native(handle_), baud);
    return true;
}

void SerialPort::Purge() {
    if (handle_ != nullptr) ::PurgeComm(Native(handle_), PURGE_TXCLEAR | PURGE_RXCLEAR);
}

void SerialPort::DiscardInput() {
    if (handle_ != nullptr) ::PurgeComm(Native(handle_), PURGE_RXCLEAR);
}

bool SerialPort::Write(const unsigned char *bytes, int count) {
    if (handle_ == nullptr || count < 0) return false;
    HANDLE port = Native(handle_);
    DWORD errors = 0;
    ::ClearCommError(port, &errors, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = Native(write_event_);
    if (::WriteFile(port, bytes, static_cast<DWORD>(count), nullptr, &overlapped) == 0 &&
        ::GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    // Bounded by the write time-outs set in Configure.
    DWORD written = 0;
    if (::GetOverlappedResult(port, &overlapped, &written, TRUE) == 0) return false;
    return written == static_cast<DWORD>(count);
}

ReadStatus SerialPort::Read(unsigned char *buffer, int capacity, int timeout_ms, int *count) {
    *count = 0;
    if (handle_ == nullptr) return ReadStatus::kGone;
    HANDLE port = Native(handle_);
    const ULONGLONG deadline =
        ::GetTickCount64() + static_cast<ULONGLONG>(timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        // An unplugged adapter fails here from then on; Wine's driver can
        // fail once in passing, so only a second failure in a row counts.
        if (::ClearCommError(port, &errors, &status) == 0) {
            ::Sleep(10);
            if (::ClearCommError(port, &errors, &status) == 0) return ReadStatus::kGone;
        }
        if (status.cbInQue > 0) break;
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline) return ReadStatus::kNothing;
        const ReadStatus waited = WaitForInput(port, Native(read_event_), Native(wake_event_),
                                               static_cast<DWORD>(deadline - now));
        if (waited == ReadStatus::kData) break;
        if (waited != ReadStatus::kNothing) return waited;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = Native(read_event_);
    if (::ReadFile(port, buffer, static_cast<DWORD>(capacity), nullptr, &overlapped) == 0 &&
        ::GetLastError() != ERROR_IO_PENDING) {
        return ReadStatus::kGone;
    }
    // The read time-outs make this complete at once.
    DWORD got = 0;
    if (::GetOverlappedResult(port, &overlapped, &got, TRUE) == 0) return ReadStatus::kGone;
    *count = static_cast<int>(got);
    return got > 0 ? ReadStatus::kData : ReadStatus::kNothing;
}

void SerialPort::Wake() {
    if (wake_event_ != nullptr) ::SetEvent(Native(wake_event_));
}

bool SerialPort::WaitForWake(int timeout_ms) {
    if (wake_event_ == nullptr) {
        SleepMs(timeout_ms);
        return false;
    }
    const DWORD wait_ms = timeout_ms < 0 ? 0 : static_cast<DWORD>(timeout_ms);
    return ::WaitForSingleObject(Native(wake_event_), wait_ms) == WAIT_OBJECT_0;
}

bool SerialPort::Close() {
    bool ok = true;
    if (handle_ != nullptr) {
        ok = ::CloseHandle(Native(handle_)) != 0;
        handle_ = nullptr;
    }
    CloseIfSet(wake_event_);
    CloseIfSet(read_event_);
    CloseIfSet(write_event_);
    return ok;
}

// Windows has no fork: whoever holds the handle opened it.
bool SerialPort::OwnedByThisProcess() const { return IsOpen(); }

bool ProbePort(const char *path) {
    HANDLE port = OpenExclusive(path, 0);
    if (port == nullptr) return false;
    ::CloseHandle(port);
    return true;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

unsigned MonotonicMs() { return static_cast<unsigned>(::GetTickCount()); }

}  // namespace zelkor::platform
