// The console capture: standard output through a pipe into the main window's
// log, chunked, in order, without blocking the writer, decoding GBK across
// chunk boundaries.
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStringDecoder>
#include <QSignalSpy>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include "tests/app/support/app_test_support.h"
#include "app/console_capture.h"
#include "app/parvex_app.h"
#include "app/parvex_dlg.h"
#include "tests/app/support/test_main.h"
#include "zelkor.h"

namespace {

// GBK bytes of "寻卡成功\n".
const QByteArray kFindCardOk("\xD1\xB0\xBF\xA8\xB3\xC9\xB9\xA6\n");

void WriteAll(int fd, const QByteArray &bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0) return;
        done += n;
    }
}

struct Collected {
    QList<QByteArray> chunks;
    QByteArray all() const {
        QByteArray joined;
        for (const auto &c : chunks) joined += c;
        return joined;
    }
};

bool SameFile(int fd, const struct stat &before) {
    struct stat now {};
    return ::fstat(fd, &now) == 0 && now.st_dev == before.st_dev && now.st_ino == before.st_ino;
}

}  // namespace

class ConsoleCaptureTest : public QObject {
    Q_OBJECT

private slots:
    void chunksArriveWholeAndInOrder();
    void writerNeverWaitsForTheWindow();
    void stopDeliversTheRestAndRestoresStdout();
    void pipeFailureRunsWithoutCapture();
    void closedStdoutIsCapturedToo();
    void logDecodesGbkSplitAcrossChunks_data();
    void logDecodesGbkSplitAcrossChunks();
    void libraryOutputReachesTheLogInOrder();
    void burstReachesTheLogWhole();
    void logKeepsABoundedNumberOfLines();
};

void ConsoleCaptureTest::chunksArriveWholeAndInOrder() {
    ConsoleCapture capture;
    Collected got;
    connect(&capture, &ConsoleCapture::chunkRead, this, [&](const QByteArray &b) { got.chunks << b; });
    QVERIFY(capture.Start());
    QVERIFY(capture.pipeCapacity() >= 64 * 1024);

    QByteArray expected;
    for (int i = 0; i < 400; ++i) expected += QByteArray::number(i).rightJustified(9, '0') + '\n';
    WriteAll(STDOUT_FILENO, expected);              // 4000 bytes at once
    std::printf("printf without a flush\n");        // line-buffered stream
    expected += "printf without a flush\n";
    QVERIFY(WaitUntil([&] { return got.all().size() >= expected.size(); }, 5000));
    capture.Stop();

    QCOMPARE(got.all(), expected);
    QVERIFY(got.chunks.size() >= 4);
    for (const QByteArray &chunk : got.chunks) QVERIFY(chunk.size() <= ConsoleCapture::kChunkSize);
}

// The window thread stays inside a "library call" (no event processing)
// while another thread prints more than the pipe holds: the reader thread
// must keep draining the pipe instead of waiting for the window.
void ConsoleCaptureTest::writerNeverWaitsForTheWindow() {
    QVERIFY(theApp.StartCapture());
    {
        CParvexDlg dlg;
        const qsizetype lines = std::max<qsizetype>(100 * 1024, 3 * theApp.capture()->pipeCapacity()) / 100 + 1;
        auto writer = std::async(std::launch::async, [&] {
            for (qsizetype i = 0; i < lines; ++i)
                std::printf("%08lld %090d\n", static_cast<long long>(i), 0);  // 100 bytes
            std::fflush(stdout);
        });
        const bool finished = writer.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        // Let the queued chunks in (this also frees a writer that got stuck).
        const QString last = QStringLiteral("%1 %2\n").arg(lines - 1, 8, 10, QLatin1Char('0')).arg(0, 90, 10, QLatin1Char('0'));
        QVERIFY(WaitUntil([&] { return dlg.m_log->toPlainText().endsWith(last); }, 30000));
        writer.wait();
        QVERIFY2(finished, "the writer waited for the window thread");
    }
    theApp.StopCapture();
}

void ConsoleCaptureTest::stopDeliversTheRestAndRestoresStdout() {
    struct stat before {};
    QVERIFY(::fstat(STDOUT_FILENO, &before) == 0);
    Collected got;
    {
        ConsoleCapture capture;
        connect(&capture, &ConsoleCapture::chunkRead, this, [&](const QByteArray &b) { got.chunks << b; });
        QVERIFY(capture.Start());
        QVERIFY(!SameFile(STDOUT_FILENO, before));
        WriteAll(STDOUT_FILENO, "last words\n");
        capture.Stop();
        QVERIFY(!capture.active());
        QCoreApplication::sendPostedEvents();
    }
    QCOMPARE(got.all(), QByteArray("last words\n"));
    QVERIFY(SameFile(STDOUT_FILENO, before));
}

void ConsoleCaptureTest::pipeFailureRunsWithoutCapture() {
    struct stat before {};
    QVERIFY(::fstat(STDOUT_FILENO, &before) == 0);

    // Standard error into a file, to read the note.
    char err_name[] = "/tmp/parvex-stderr-XXXXXX";
    const int err_file = ::mkstemp(err_name);
    QVERIFY(err_file >= 0);
    const int saved_err = ::dup(STDERR_FILENO);
    ::dup2(err_file, STDERR_FILENO);

    // No descriptor left to allocate: the pipe cannot be created.
    rlimit old_limit {};
    ::getrlimit(RLIMIT_NOFILE, &old_limit);
    const int lowest_free = ::open("/dev/null", O_RDONLY);
    ::close(lowest_free);
    rlimit tight = old_limit;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free);
    ::setrlimit(RLIMIT_NOFILE, &tight);

    ConsoleCapture capture;
    const bool started = capture.Start();

    ::setrlimit(RLIMIT_NOFILE, &old_limit);
    ::dup2(saved_err, STDERR_FILENO);
    ::close(saved_err);
    ::close(err_file);

    QFile err(QString::fromLatin1(err_name));
    QVERIFY(err.open(QIODevice::ReadOnly));
    const QString note = QString::fromUtf8(err.readAll());
    ::unlink(err_name);

    QVERIFY(!started);
    QVERIFY(!capture.active());
    QVERIFY2(note.contains(QStringLiteral("创建匿名管道失败,错误代码:24")), qPrintable(note));
    QVERIFY(SameFile(STDOUT_FILENO, before));
}

// Started from a launcher that gave the program no standard output.
void ConsoleCaptureTest::closedStdoutIsCapturedToo() {
    const int saved = ::dup(STDOUT_FILENO);
    ::close(STDOUT_FILENO);
    Collected got;
    bool started = false;
    {
        ConsoleCapture capture;
        connect(&capture, &ConsoleCapture::chunkRead, this, [&](const QByteArray &b) { got.chunks << b; });
        started = capture.Start();
        if (started) {
            std::printf("no terminal\n");
            std::fflush(stdout);
            WaitUntil([&] { return got.all().size() >= 12; }, 3000);
        }
    }
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    QVERIFY(started);
    QCOMPARE(got.all(), QByteArray("no terminal\n"));
}

void ConsoleCaptureTest::logDecodesGbkSplitAcrossChunks_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("cut");
    QTest::addColumn<QString>("expected");
    const QByteArray text = QByteArray("OK ") + kFindCardOk;
    QTest::newRow("whole") << text << 0 << QStringLiteral("OK 寻卡成功\n");
    QTest::newRow("inside the first character") << text << 4 << QStringLiteral("OK 寻卡成功\n");
    QTest::newRow("inside the last character") << text << 10 << QStringLiteral("OK 寻卡成功\n");
    QTest::newRow("between characters") << text << 5 << QStringLiteral("OK 寻卡成功\n");
    const QByteArray label("\xB7\xA2\xCB\xCD\xCA\xFD\xBE\xDD\xA3\xBA" "55 55 \n");
    QTest::newRow("full-width colon split") << label << 9 << QStringLiteral("发送数据：55 55 \n");
}

void ConsoleCaptureTest::logDecodesGbkSplitAcrossChunks() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, cut);
    QFETCH(QString, expected);
    CParvexDlg dlg;
    if (cut == 0) {
        dlg.OnConsoleText(bytes);
    } else {
        dlg.OnConsoleText(bytes.left(cut));
        dlg.OnConsoleText(bytes.mid(cut));
    }
    QCOMPARE(dlg.m_log->toPlainText(), expected);
}

void ConsoleCaptureTest::libraryOutputReachesTheLogInOrder() {
    QVERIFY(theApp.StartCapture());
    {
        CParvexDlg dlg;
        // A GBK character cut by the 1024-byte chunk boundary on the way
        // through the real pipe.
        QByteArray bytes(1023, 'a');
        bytes += kFindCardOk;
        WriteAll(STDOUT_FILENO, bytes);
        QVERIFY(WaitUntil([&] { return dlg.m_log->toPlainText().endsWith(QStringLiteral("寻卡成功\n")); }, 5000));
        QCOMPARE(dlg.m_log->toPlainText(), QString(1023, QLatin1Char('a')) + QStringLiteral("寻卡成功\n"));

        // The library's own prints: FindCard without a session traces its frame.
        FindCard();
        QVERIFY(WaitUntil([&] { return dlg.m_log->toPlainText().contains(QStringLiteral("55 55 00 00 00 04 02 01 26 21")); },
                          5000));

        // Cleared log: new output starts the empty log.
        dlg.findChild<QPushButton *>(QStringLiteral("IDC_3"))->click();
        QVERIFY(dlg.m_log->toPlainText().isEmpty());
        WriteAll(STDOUT_FILENO, "after clear\n");
        QVERIFY(WaitUntil([&] { return dlg.m_log->toPlainText() == QStringLiteral("after clear\n"); }, 5000));
    }
    theApp.StopCapture();
}

void ConsoleCaptureTest::burstReachesTheLogWhole() {
    QVERIFY(theApp.StartCapture());
    {
        CParvexDlg dlg;
        QString expected;
        QByteArray bytes;
        for (int i = 0; i < 1600; ++i) {
            // 64 bytes a line: 100 KB with a GBK character on every line.
            QByteArray line = QByteArray::number(i).rightJustified(6, '0') + ' ' + kFindCardOk.left(8) + ' ' +
                              QByteArray(47, 'z') + '\n';
            bytes += line;
        }
        QCOMPARE(bytes.size(), 1600 * 64);
        QStringDecoder gbk("GBK");
        expected = gbk.decode(bytes);
        WriteAll(STDOUT_FILENO, bytes);
        QVERIFY(WaitUntil([&] { return dlg.m_log->toPlainText().size() >= expected.size(); }, 10000));
        QCOMPARE(dlg.m_log->toPlainText(), expected);
        QVERIFY(WaitUntil([&] { return dlg.m_log->verticalScrollBar()->value() == dlg.m_log->verticalScrollBar()->maximum(); }, 2000));
        QVERIFY(dlg.m_log->verticalScrollBar()->maximum() > 0);
    }
    theApp.StopCapture();
}

void ConsoleCaptureTest::logKeepsABoundedNumberOfLines() {
    CParvexDlg dlg;
    QByteArray block;
    for (int i = 0; i < CParvexDlg::kLogLineLimit + 5000; ++i) block += "line " + QByteArray::number(i) + '\n';
    for (qsizetype at = 0; at < block.size(); at += 1024) dlg.OnConsoleText(block.mid(at, 1024));
    QVERIFY(dlg.m_log->document()->blockCount() <= CParvexDlg::kLogLineLimit);
    const QString text = dlg.m_log->toPlainText();
    QVERIFY(text.endsWith(QStringLiteral("line %1\n").arg(CParvexDlg::kLogLineLimit + 4999)) ||
            text.endsWith(QStringLiteral("line %1").arg(CParvexDlg::kLogLineLimit + 4999)));
    QVERIFY(!text.startsWith(QStringLiteral("line 0\n")));
}

PARVEX_TEST_MAIN(ConsoleCaptureTest)
#include "console_capture_test.moc"
