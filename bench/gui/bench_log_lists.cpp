// Usage: bench_log_lists [lines-of-60KB] [lines-of-1MB]
// Feeds the server log of a shown window as the relay does, one block per line, lets the window
// repaint after each, and reports resident memory and time per line.
#include "app/AppOptions.h"
#include "gui/DesktopSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

namespace {

qint64 ResidentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').first().toLongLong() / 1024;
        }
    }
    return -1;
}

// A LIST or UIDL style line of the given length, digits only, ending with CR LF.
QByteArray Line(int number, qsizetype length) {
    QByteArray line = QByteArray::number(number) + ' ';
    line += QByteArray(length - line.size(), '7');
    return line + "\r\n";
}

// Milliseconds per line for count lines of length bytes, each its own block.
double Feed(Shell::Display& display, int count, qsizetype length) {
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        display.AddServerLines(Line(i, length));
        QCoreApplication::processEvents();
    }
    return count > 0 ? double(clock.elapsed()) / count : 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const int shortCount = argc > 1 ? std::atoi(argv[1]) : 8000;
    const int longCount = argc > 2 ? std::atoi(argv[2]) : 50;

    AppOptions options;
    DesktopSession session(options, false);
    Shell::Display& display = session.Window();
    display.ShowWindow();
    QCoreApplication::processEvents();

    const qint64 before = ResidentMiB();
    const double perShort = Feed(display, shortCount, 60 * 1024);
    const qint64 after = ResidentMiB();
    std::printf("%d lines of 60 KB: resident %lld MiB before, %lld MiB after, %.3f ms per line\n",
                shortCount, static_cast<long long>(before), static_cast<long long>(after),
                perShort);

    display.ClearServerLog();
    const double perLong = Feed(display, longCount, 1024 * 1024);
    std::printf("%d lines of 1 MB: %.1f ms per line (%.1f MB/s)\n", longCount, perLong,
                perLong > 0 ? 1000.0 / perLong : 0.0);
    return 0;
}
