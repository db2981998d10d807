// Carries everything written to a file descriptor (standard output) into the
// program through the trace capture, whose thread hands what it reads to the
// window thread in chunks of at most 1024 bytes. That thread never waits for
// the window: it queues its own copy of each chunk and rings an event
// descriptor that the window thread watches.
#pragma once

#include <QByteArray>
#include <QObject>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "capture/trace_capture.h"

#include <unistd.h>

class QSocketNotifier;

// Create, start and stop it on the window thread.
class ConsoleCapture : public QObject {
    Q_OBJECT
public:
    static constexpr int kChunkSize = 1024;
    // Asked-for pipe buffer; the kernel may grant less.
    static constexpr int kPipeSize = 1 << 20;

    explicit ConsoleCapture(QObject *parent = nullptr);
    ~ConsoleCapture() override;
    ConsoleCapture(const ConsoleCapture &) = delete;
    ConsoleCapture &operator=(const ConsoleCapture &) = delete;

    // Redirects `target_fd` into a new pipe and starts the reader thread.
    // When the pipe cannot be created nothing is redirected, a note goes to
    // standard error and the result is false.
    bool Start(int target_fd = STDOUT_FILENO);
    // Puts the original descriptor back, ends the reader thread and delivers
    // what was still in the pipe.
    void Stop();

    bool active() const { return m_pCapture != nullptr && m_pCapture->active(); }
    // Buffer size of the pipe in bytes (0 when not active).
    int pipeCapacity() const { return active() ? m_pCapture->pipe_capacity() : 0; }

signals:
    // One chunk as read from the pipe, in order, emitted on the window thread.
    void chunkRead(const QByteArray &bytes);

private:
    void QueueChunk(std::string_view bytes);
    void DeliverPending();

    int m_hNotify = -1;  // eventfd: chunks are waiting
    std::unique_ptr<zelkor::capture::TraceCapture> m_pCapture;
    QSocketNotifier *m_pNotifier = nullptr;
    std::mutex m_queueLock;
    std::deque<std::string> m_queue;  // guarded by m_queueLock
};
