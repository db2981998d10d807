#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <typename Condition>
bool WaitUntil(Condition condition, int timeout_ms) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeout_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
