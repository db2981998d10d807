// The one seam between the reader library and the operating system's serial
// ports. Everything above this file is platform neutral.
#pragma once

namespace zelkor::platform {

enum class ReadStatus {
    kData,     // `*count` bytes were read
    kNothing,  // the wait ran out with nothing to read
    kGone,     // the device reported an error or hang-up: it has vanished
    kWoken,    // Wake() was called
};

class SerialPort {
public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Opens the device at `path` for exclusive use (no other program that
    // locks the port can open it while we hold it) and puts the line in raw
    // mode. The handle is not inherited by programs this process starts.
    bool Open(const char *path);
    // Applies line speed, data bits (5..8), parity (0 none, 1 odd, 2 even,
    // 3 mark, 4 space) and stop bits (0 one, 1 one and a half, 2 two).
    // One and a half stop bits do not exist in termios; they become two.
    bool Configure(int baud, int data_bits, int parity, int stop_bits);
    // Discards everything queued in both directions.
    void Purge();
    // Discards the bytes received but not read yet.
    void DiscardInput();
    // Writes all `count` bytes; false when the device refused them.
    bool Write(const unsigned char *bytes, int count);
    // Waits up to `timeout_ms` for input, then reads at most `capacity` bytes.
    ReadStatus Read(unsigned char *buffer, int capacity, int timeout_ms, int *count);
    // Makes a Read that waits now (or the next one) return kWoken at once.
    void Wake();
    // Waits up to `timeout_ms` for Wake() alone; true when woken.
    bool WaitForWake(int timeout_ms);
    // Releases the device. Safe to call twice; false when closing failed.
    // In a process other than the one that opened it (a forked child) only
    // this process's handles go: the opener keeps the device and its lock.
    bool Close();
    bool IsOpen() const { return fd_ >= 0; }
    // True when the port is open and this process opened it.
    bool OwnedByThisProcess() const;

private:
    int fd_ = -1;
    int wake_read_ = -1;
    int wake_write_ = -1;
    int opener_pid_ = -1;
};

// True when the device at `path` exists and nobody holds it now.
bool ProbePort(const char *path);

// Sleeps `ms` milliseconds.
void SleepMs(int ms);

// Milliseconds of a monotonic clock, 32 bits, wrapping.
unsigned MonotonicMs();

}  // namespace zelkor::platform
