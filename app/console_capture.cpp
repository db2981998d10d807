#include "app/console_capture.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include <fcntl.h>
#include <sys/eventfd.h>

namespace {

void CloseFd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

void NotePipeFailure(int error) {
    std::fprintf(stderr, "创建匿名管道失败,错误代码:%d\n", error);
    std::fprintf(stderr, "Parvex: 标准输出不进入日志窗口（无法创建管道）\n");
    std::fflush(stderr);
}

void NoteRedirectFailure(int error) {
    std::fprintf(stderr, "Parvex: 无法重定向标准输出，错误代码:%d\n", error);
    std::fflush(stderr);
}

// An eventfd above the standard descriptors: with standard output closed it
// would otherwise take descriptor 1, which the capture is about to replace.
int EventDescriptor() {
    int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd >= 0 && fd <= STDERR_FILENO) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        ::close(fd);
        fd = moved;
    }
    return fd;
}

}  // namespace

ConsoleCapture::ConsoleCapture(QObject *parent) : QObject(parent) {}

ConsoleCapture::~ConsoleCapture() { Stop(); }

bool ConsoleCapture::Start(int target_fd) {
    if (active()) return true;
    const int notify = EventDescriptor();
    if (notify < 0) {
        NotePipeFailure(errno);
        return false;
    }
    auto capture = std::make_unique<zelkor::capture::TraceCapture>(target_fd);
    zelkor::capture::CaptureOptions options;
    options.chunk_size = kChunkSize;
    // A large pipe absorbs the output of a long library call at once.
    options.pipe_size = kPipeSize;
    // Before the capture's thread can deliver its first chunk.
    m_hNotify = notify;
    zelkor::capture::StartError error;
    if (!capture->Start([this](std::string_view bytes) { QueueChunk(bytes); }, options, &error)) {
        CloseFd(m_hNotify);
        if (error.what == zelkor::capture::StartFailure::kPipe) {
            NotePipeFailure(error.system_error);
        } else {
            NoteRedirectFailure(error.system_error);
        }
        return false;
    }
    if (target_fd == STDOUT_FILENO) {
        // Line-buffer the stream so text printed without a flush still
        // reaches the log line by line.
        std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    }
    m_pNotifier = new QSocketNotifier(static_cast<qintptr>(notify), QSocketNotifier::Read, this);
    connect(m_pNotifier, &QSocketNotifier::activated, this, &ConsoleCapture::DeliverPending);
    m_pCapture = std::move(capture);
    return true;
}

void ConsoleCapture::Stop() {
    if (!active()) return;
    m_pCapture->Stop();
    m_pCapture.reset();
    delete m_pNotifier;
    m_pNotifier = nullptr;
    DeliverPending();
    CloseFd(m_hNotify);
}

// On the capture's thread: never waits for the window.
void ConsoleCapture::QueueChunk(std::string_view bytes) {
    {
        std::lock_guard lock(m_queueLock);
        m_queue.emplace_back(bytes);
    }
    const std::uint64_t one = 1;
    while (::write(m_hNotify, &one, sizeof one) < 0 && errno == EINTR) {
    }
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
