#include "console_capture.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>

namespace {

void CloseFd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

ConsoleCapture::ConsoleCapture(QObject *parent) : QObject(parent) {}

ConsoleCapture::~ConsoleCapture() { Stop(); }

bool ConsoleCapture::Start(int target_fd) {
    if (active()) return true;
    // A program started without standard output still gets a log: give the
    // descriptor a target first, so the pipe cannot take its number.
    if (::fcntl(target_fd, F_GETFD) < 0) {
        const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null_fd >= 0 && null_fd != target_fd) {
            ::dup2(null_fd, target_fd);
            ::close(null_fd);
        }
    }
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        const int error = errno;
        std::fprintf(stderr, "创建匿名管道失败,错误代码:%d\n", error);
        std::fprintf(stderr, "Parvex: 标准输出不进入日志窗口（无法创建管道）\n");
        std::fflush(stderr);
        return false;
    }
    int wake_fds[2];
    const int notify = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (notify < 0 || ::pipe2(wake_fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
        if (notify >= 0) ::close(notify);
        std::fprintf(stderr, "创建匿名管道失败,错误代码:%d\n", error);
        std::fprintf(stderr, "Parvex: 标准输出不进入日志窗口（无法创建管道）\n");
        std::fflush(stderr);
        return false;
    }
    // A large pipe absorbs the output of a long library call at once; the
    // kernel caps the size for unprivileged processes, so try smaller ones.
    for (int size = kPipeSize; size >= 64 * 1024; size /= 2) {
        if (::fcntl(pipe_fds[1], F_SETPIPE_SZ, size) >= 0) break;
    }
    const int capacity = ::fcntl(pipe_fds[1], F_GETPIPE_SZ);

    if (target_fd == STDOUT_FILENO) std::fflush(stdout);
    const int saved = ::fcntl(target_fd, F_DUPFD_CLOEXEC, 3);
    if (saved < 0 || ::dup2(pipe_fds[1], target_fd) < 0) {
        const int error = errno;
        if (saved >= 0) ::close(saved);
        for (int fd : {pipe_fds[0], pipe_fds[1], wake_fds[0], wake_fds[1], notify}) ::close(fd);
        std::fprintf(stderr, "Parvex: 无法重定向标准输出，错误代码:%d\n", error);
        std::fflush(stderr);
        return false;
    }
    ::close(pipe_fds[1]);
    if (target_fd == STDOUT_FILENO) {
        // Line-buffer the stream so text printed without a flush still
        // reaches the log line by line.
        std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    }
    ::fcntl(pipe_fds[0], F_SETFL, ::fcntl(pipe_fds[0], F_GETFL) | O_NONBLOCK);

    m_nTargetFd = target_fd;
    m_nSavedFd = saved;
    m_hPipeRead = pipe_fds[0];
    m_hWakeRead = wake_fds[0];
    m_hWakeWrite = wake_fds[1];
    m_hNotify = notify;
    m_nPipeCapacity = capacity > 0 ? capacity : 0;
    m_pNotifier = new QSocketNotifier(static_cast<qintptr>(notify), QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &ConsoleCapture::DeliverPending);
    m_consoleThread = std::thread([this] { ConsoleReaderThread(); });
    return true;
}

void ConsoleCapture::Stop() {
    if (!active()) return;
    if (m_nTargetFd == STDOUT_FILENO) std::fflush(stdout);
    ::dup2(m_nSavedFd, m_nTargetFd);
    CloseFd(m_nSavedFd);
    const char wake = 1;
    while (::write(m_hWakeWrite, &wake, 1) < 0 && errno == EINTR) {
    }
    if (m_consoleThread.joinable()) m_consoleThread.join();
    delete m_pNotifier;
    m_pNotifier = nullptr;
    DeliverPending();
    CloseFd(m_hNotify);
    CloseFd(m_hPipeRead);
    CloseFd(m_hWakeRead);
    CloseFd(m_hWakeWrite);
    m_nTargetFd = -1;
    m_nPipeCapacity = 0;
}

// Reads one chunk if the pipe holds data; false when it is empty or closed.
bool ConsoleCapture::ReadOnce() {
    char buffer[kChunkSize];
    const ssize_t n = ::read(m_hPipeRead, buffer, sizeof buffer);
    if (n <= 0) return n < 0 && errno == EINTR;
    {
        std::lock_guard lock(m_queueLock);
        m_queue.emplace_back(buffer, static_cast<std::size_t>(n));
    }
    const std::uint64_t one = 1;
    while (::write(m_hNotify, &one, sizeof one) < 0 && errno == EINTR) {
    }
    return true;
}

void ConsoleCapture::DeliverPending() {
    std::uint64_t count = 0;
    while (::read(m_hNotify, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::deque<std::string> chunks;
    {
        std::lock_guard lock(m_queueLock);
        chunks.swap(m_queue);
    }
    for (const std::string &chunk : chunks)
        emit chunkRead(QByteArray(chunk.data(), static_cast<qsizetype>(chunk.size())));
}

void ConsoleCapture::ConsoleReaderThread() {
    for (;;) {
        pollfd fds[2] = {{m_hPipeRead, POLLIN, 0}, {m_hWakeRead, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            if (!ReadOnce() && (fds[0].revents & POLLIN) == 0) {
                // Every writer has gone: nothing more can arrive.
                if ((fds[1].revents & POLLIN) == 0) {
                    ::poll(&fds[1], 1, -1);
                }
                return;
            }
        }
        if ((fds[1].revents & POLLIN) != 0) {
            // Stop: the descriptor is restored, so deliver the rest and end.
            while (ReadOnce()) {
            }
            return;
        }
    }
}
