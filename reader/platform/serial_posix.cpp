#include "reader/platform/serial_port.h"

#include <cerrno>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace zelkor::platform {
namespace {

// Moves a new descriptor above standard input, output and error: a process
// that runs with one of them closed would otherwise get the port (or a pipe)
// there, and its printing would go onto the line. Keeps close-on-exec.
int AboveStandardStreams(int fd) {
    if (fd < 0 || fd > STDERR_FILENO) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

int OpenExclusive(const char *path) {
    const int fd = AboveStandardStreams(::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (fd < 0) return -1;
    // TIOCEXCL keeps out ordinary processes but not root; flock keeps out
    // every program that takes the lock too (it is advisory: a plain open by
    // root is not stopped). A non-tty is not a serial port.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool CloseExclusive(int fd) {
    // On a pseudo-terminal the exclusive flag outlives our close while the
    // other side stays open; clear it so the port can be opened again.
    ::ioctl(fd, TIOCNXCL);
    ::flock(fd, LOCK_UN);
    return ::close(fd) == 0 || errno == EINTR;
}

bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned major_number = major(st.st_rdev);
    return major_number >= 136 && major_number <= 143;  // UNIX98 pty slaves
}

speed_t SpeedCode(int baud) {
    switch (baud) {
    case 50: return B50;
    case 75: return B75;
    case 110: return B110;
    case 134: return B134;
    case 150: return B150;
    case 200: return B200;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 500000: return B500000;
    case 576000: return B576000;
    case 921600: return B921600;
    case 1000000: return B1000000;
    case 1152000: return B1152000;
    case 1500000: return B1500000;
    case 2000000: return B2000000;
    default: return B0;
    }
}

// CS5 is zero, so the caller checks the range itself.
tcflag_t DataBitsFlag(int data_bits) {
    switch (data_bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

}  // namespace

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Open(const char *path) {
    Close();
    const int fd = OpenExclusive(path);
    if (fd < 0) return false;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        CloseExclusive(fd);
        return false;
    }
    pipe_fds[0] = AboveStandardStreams(pipe_fds[0]);
    pipe_fds[1] = AboveStandardStreams(pipe_fds[1]);
    if (pipe_fds[0] < 0 || pipe_fds[1] < 0) {
        CloseExclusive(fd);
        if (pipe_fds[0] >= 0) ::close(pipe_fds[0]);
        if (pipe_fds[1] >= 0) ::close(pipe_fds[1]);
        return false;
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        CloseExclusive(fd);
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        return false;
    }
    // The protocol is binary: no echo, no line editing, no translation of
    // CR/LF, no signal or flow-control characters.
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &tio);
    fd_ = fd;
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];
    opener_pid_ = ::getpid();
    return true;
}

bool SerialPort::Configure(int baud, int data_bits, int parity, int stop_bits) {
    const speed_t speed = SpeedCode(baud);
    data_bits &= 0xFF;
    parity &= 0xFF;
    stop_bits &= 0xFF;
    if (speed == B0 || data_bits < 5 || data_bits > 8 || parity > 4 || stop_bits > 2) return false;
    const tcflag_t size = DataBitsFlag(data_bits);
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return false;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
    tio.c_cflag |= size;
    switch (parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (stop_bits != 0) tio.c_cflag |= CSTOPB;
    if (::tcsetattr(fd_, TCSANOW, &tio) == 0) return true;
    // A pseudo-terminal keeps 8 bits without parity whatever it is told, and
    // the C library reports that as a rejected setting; the line itself works.
    return errno == EINVAL && IsPseudoTerminal(fd_);
}

void SerialPort::Purge() {
    if (fd_ >= 0) ::tcflush(fd_, TCIOFLUSH);
}

void SerialPort::DiscardInput() {
    if (fd_ >= 0) ::tcflush(fd_, TCIFLUSH);
}

bool SerialPort::Write(const unsigned char *bytes, int count) {
    if (fd_ < 0) return false;
    int done = 0;
    int idle_rounds = 0;
    while (done < count) {
        const ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            idle_rounds = 0;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        // The output queue is full: allow roughly the time the line needs.
        if (++idle_rounds > 100) return false;
        pollfd pfd{fd_, POLLOUT, 0};
        ::poll(&pfd, 1, 10);
    }
    return true;
}

ReadStatus SerialPort::Read(unsigned char *buffer, int capacity, int timeout_ms, int *count) {
    *count = 0;
    if (fd_ < 0) return ReadStatus::kGone;
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_read_, POLLIN, 0}};
    int ready = ::poll(fds, 2, timeout_ms);
    if (ready < 0) return errno == EINTR ? ReadStatus::kNothing : ReadStatus::kGone;
    if (fds[1].revents != 0) {
        unsigned char drain[16];
        while (::read(wake_read_, drain, sizeof drain) > 0) {
        }
        return ReadStatus::kWoken;
    }
    if (ready == 0) return ReadStatus::kNothing;
    if ((fds[0].revents & POLLIN) != 0) {
        const ssize_t n = ::read(fd_, buffer, static_cast<size_t>(capacity));
        if (n > 0) {
            *count = static_cast<int>(n);
            return ReadStatus::kData;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return ReadStatus::kNothing;
        return ReadStatus::kGone;
    }
    return (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 ? ReadStatus::kGone
                                                                  : ReadStatus::kNothing;
}

void SerialPort::Wake() {
    if (wake_write_ >= 0) {
        const unsigned char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);
    }
}

bool SerialPort::WaitForWake(int timeout_ms) {
    if (wake_read_ < 0) {
        SleepMs(timeout_ms);
        return false;
    }
    pollfd pfd{wake_read_, POLLIN, 0};
    if (::poll(&pfd, 1, timeout_ms) <= 0) return false;
    unsigned char drain[16];
    while (::read(wake_read_, drain, sizeof drain) > 0) {
    }
    return true;
}

bool SerialPort::OwnedByThisProcess() const { return fd_ >= 0 && opener_pid_ == ::getpid(); }

bool SerialPort::Close() {
    bool ok = true;
    if (fd_ >= 0) {
        // The exclusive flag and the lock belong to the open file, which a
        // forked child shares with its parent: only the opener clears them.
        ok = OwnedByThisProcess() ? CloseExclusive(fd_) : ::close(fd_) == 0;
        fd_ = -1;
        opener_pid_ = -1;
    }
    if (wake_read_ >= 0) ::close(wake_read_);
    if (wake_write_ >= 0) ::close(wake_write_);
    wake_read_ = wake_write_ = -1;
    return ok;
}

bool ProbePort(const char *path) {
    const int fd = OpenExclusive(path);
    if (fd < 0) return false;
    CloseExclusive(fd);
    return true;
}

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

unsigned MonotonicMs() {
    using namespace std::chrono;
    return static_cast<unsigned>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace zelkor::platform
