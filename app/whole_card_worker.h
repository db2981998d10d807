// Runs the whole-card page's long card work on a thread of its own, one job
// at a time, so the window stays responsive while the library talks to the
// reader. Progress and the end of a job reach the window thread as queued
// calls; a job is cancelled through its stop token.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <functional>
#include <stop_token>

class CCardWorker : public QObject {
    Q_OBJECT
public:
    // Reports progress from the worker thread; safe to call at any rate.
    using ProgressSink = std::function<void(const QString &stage, int done, int total)>;
    // What runs on the window thread once the job has ended.
    using Continuation = std::function<void()>;
    // The job itself, run on the worker thread; it returns its continuation.
    using Job = std::function<Continuation(const ProgressSink &, std::stop_token)>;

    explicit CCardWorker(QObject *parent = nullptr);
    // Cancels a running job and waits for its current library call to end.
    ~CCardWorker() override;
    CCardWorker(const CCardWorker &) = delete;
    CCardWorker &operator=(const CCardWorker &) = delete;

    // Starts `job`; false (and nothing started) while another one runs.
    bool Start(Job job);
    // Asks the running job to stop at its next check.
    void Cancel();
    bool busy() const { return m_bBusy; }
    // Whether the running or last job was asked to stop.
    bool cancelled() const { return m_stop.stop_requested(); }

signals:
    void progress(const QString &stage, int done, int total);
    // Emitted on the window thread when a job has ended, just before its
    // continuation runs (which may start the next job).
    void finished();
    // The job threw: its message, in place of the continuation.
    void failed(const QString &message);

private:
    void Deliver(const Continuation &continuation);

    QThread m_thread;
    QObject *m_pRunner = nullptr;  // lives on m_thread
    std::stop_source m_stop;
    bool m_bBusy = false;  // touched on the window thread only
};
