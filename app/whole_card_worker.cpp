#include "app/whole_card_worker.h"

#include <exception>

#include "card/file_problem.h"
#include "words/file_problem_words.h"

namespace card = zelkor::card;
namespace words = zelkor::words;

CCardWorker::CCardWorker(QObject *parent) : QObject(parent) {
    m_thread.setObjectName(QStringLiteral("whole-card worker"));
    m_pRunner = new QObject;
    m_pRunner->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_pRunner, &QObject::deleteLater);
    m_thread.start();
}

CCardWorker::~CCardWorker() {
    Cancel();
    m_thread.quit();
    m_thread.wait();
}

bool CCardWorker::Start(Job job) {
    if (m_bBusy) return false;
    m_bBusy = true;
    m_stop = std::stop_source();
    const std::stop_token token = m_stop.get_token();
    QMetaObject::invokeMethod(
        m_pRunner,
        [this, job = std::move(job), token] {
            const ProgressSink sink = [this](const QString &stage, int done, int total) {
                QMetaObject::invokeMethod(
                    this, [this, stage, done, total] { emit progress(stage, done, total); }, Qt::QueuedConnection);
            };
            Continuation continuation;
            try {
                continuation = job(sink, token);
            } catch (const card::FileError &error) {
                const QString message = QString::fromStdString(words::FileErrorText(error, words::Language::Chinese));
                continuation = [this, message] { emit failed(message); };
            } catch (const std::exception &error) {
                const QString message = QString::fromUtf8(error.what());
                continuation = [this, message] { emit failed(message); };
            }
            QMetaObject::invokeMethod(
                this, [this, continuation] { Deliver(continuation); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

void CCardWorker::Cancel() { m_stop.request_stop(); }

void CCardWorker::Deliver(const Continuation &continuation) {
    // The window is told first, so a continuation may start the next job.
    m_bBusy = false;
    emit finished();
    if (continuation) continuation();
}
