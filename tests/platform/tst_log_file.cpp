// The log file: time stamps, rotation by size, a file that cannot be written.
#include "platform/LogFile.h"
#include "platform/LogTimestamp.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

using namespace Qt::StringLiterals;

class tst_LogFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void timestamp_data() {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QByteArray>("shown");
        const QDate day(2026, 1, 2);
        const QTime time(3, 4, 5, 678);
        QTest::newRow("east of UTC")
            << QDateTime(day, time, QTimeZone(9 * 3600)) << QByteArray("2026-01-02T03:04:05+09:00");
        QTest::newRow("west of UTC, half hour")
            << QDateTime(day, time, QTimeZone(-(3 * 3600 + 1800)))
            << QByteArray("2026-01-02T03:04:05-03:30");
        QTest::newRow("UTC") << QDateTime(day, time, QTimeZone::utc())
                             << QByteArray("2026-01-02T03:04:05+00:00");
    }

    void timestamp() {
        QFETCH(QDateTime, when);
        QFETCH(QByteArray, shown);
        QCOMPARE(LogTimestamp(when), shown);
    }

    void rotatedAtItsSize() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"quorlin.log"_s);
        WriteFileBytes(path, "old\n");
        LogFile log(path, {20, 2});

        log.Append("line 1\n");
        QTRY_COMPARE(ReadFileBytes(path), QByteArray("old\nline 1\n"));
        log.Append("line 2\nline 3\nline 4\nline 5\n");
        log.Append("line 6\nline 7\nline 8\nline 9\n");
        log.Flush();
        QCOMPARE(ReadFileBytes(path), QByteArray("line 9\n"));
        QCOMPARE(ReadFileBytes(path + ".1"), QByteArray("line 7\nline 8\n"));
        QCOMPARE(ReadFileBytes(path + ".2"), QByteArray("line 5\nline 6\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 QStringList({u"quorlin.log"_s, u"quorlin.log.1"_s, u"quorlin.log.2"_s}));

        // A line longer than the limit fills a file alone.
        log.Append("a line longer than twenty bytes\nnext\n");
        log.Flush();
        QCOMPARE(ReadFileBytes(path), QByteArray("next\n"));
        QCOMPARE(ReadFileBytes(path + ".1"), QByteArray("a line longer than twenty bytes\n"));
        QCOMPARE(ReadFileBytes(path + ".2"), QByteArray("line 9\n"));
    }

    void readableByItsOwnerAlone() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"new.log"_s);
        LogFile log(path);
        log.Append("x\n");
        log.Flush();
        QCOMPARE(QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser),
                 QFile::ReadOwner | QFile::WriteOwner);
    }

    void followsAPathMovedAway() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"moved.log"_s);
        LogFile log(path);
        log.Append("before\n");
        log.Flush();
        QVERIFY(QFile::rename(path, path + u".old"_s));
        log.Append("after\n");
        log.Flush();
        QCOMPARE(ReadFileBytes(path), QByteArray("after\n"));
        QCOMPARE(ReadFileBytes(path + u".old"_s), QByteArray("before\n"));
    }

    void unwritableReportedOnce_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing folder") << u"missing/quorlin.log"_s;
        QTest::newRow("full device") << u"/dev/full"_s;
    }

    void unwritableReportedOnce() {
        QFETCH(QString, path);
        QTemporaryDir dir;
        const QString full = QDir(dir.path()).filePath(path);
        LogFile log(full);
        QSignalSpy failed(&log, &LogFile::Failed);
        log.Append("a\n");
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), full);
        QVERIFY(!failed.at(0).at(1).toString().isEmpty());
        for (const char* line : {"b\n", "c\n"}) {
            log.Append(line);
            log.Flush();
        }
        QCOMPARE(failed.count(), 1);
    }

    void recoversOnceWritable() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"later/quorlin.log"_s);
        LogFile log(path);
        QSignalSpy failed(&log, &LogFile::Failed);
        log.Append("a\nb\n");
        log.Flush();
        QCOMPARE(failed.count(), 1);

        QVERIFY(QDir(dir.path()).mkdir(u"later"_s));
        log.Append("c\n");
        log.Flush();
        const QString written = QString::fromLatin1(ReadFileBytes(path));
        QVERIFY2(
            QRegularExpression(
                u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d quorlin: 2 lines "
                "were lost: the log file could not be written\\nc\\n$"_s)
                .match(written)
                .hasMatch(),
            qPrintable(written));
        QCOMPARE(failed.count(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_LogFile)
#include "tst_log_file.moc"
