// main() for QtTest programs that capture standard output: the test report
// goes to a duplicate of the original standard output, so it neither ends up
// in the captured log nor gets lost while a capture runs.
#pragma once

#include <QApplication>
#include <QStringList>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

inline int RunTestsBesideCapture(QObject *test, int argc, char **argv) {
    QStringList args;
    bool has_output = false;
    for (int i = 0; i < argc; ++i) {
        args << QString::fromLocal8Bit(argv[i]);
        if (qstrcmp(argv[i], "-o") == 0) has_output = true;
    }
    if (!has_output) {
        const int report = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
        if (report >= 0) args << QStringLiteral("-o") << QStringLiteral("/proc/self/fd/%1,txt").arg(report);
    }
    return QTest::qExec(test, args);
}

#define PARVEX_TEST_MAIN(TestClass)                                   \
    int main(int argc, char **argv) {                                 \
        QApplication app(argc, argv);                                 \
        app.setAttribute(Qt::AA_Use96Dpi, true);                      \
        TestClass test;                                               \
        return RunTestsBesideCapture(&test, argc, argv);              \
    }
