#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>
#include <QObject>
#include <QString>

// When a log file is moved aside, and how many old ones are kept.
struct LogRotation {
    qint64 maxBytes = 10 * 1024 * 1024;
    int keptFiles = 5; // PATH.1 ... PATH.keptFiles
};

// Log lines appended to a file of the user's choice, rotated by size: PATH grows up to a limit,
// then becomes PATH.1 (PATH.1 becomes PATH.2 ... the oldest kept falls away) and a new PATH
// starts. Lines gather until the event loop comes round and then go out in one write, so a
// reply of many lines costs one system call and a busy relay is not held up per line.
//
// A file that cannot be written never stops the relay: the failure is reported once, lines are
// dropped meanwhile, and every later write tries the path again; once it works, a line says how
// many were lost. The file is made readable by its owner alone: the log holds mail.
class LogFile : public QObject {
    Q_OBJECT

public:
    explicit LogFile(const QString& path, LogRotation rotation = {});
    // Writes what still waits.
    ~LogFile() override;

    // Whole lines, each ending with '\n'.
    void Append(QByteArrayView lines);
    // Writes what waits now rather than when the event loop comes round.
    void Flush();

    QString Path() const { return file.fileName(); }

Q_SIGNALS:
    // Writing stopped working: the path and the system's reason, once until it works again.
    void Failed(const QString& path, const QString& reason);

private:
    // Each gives the system's reason when it fails, and nothing when it works.
    QString EnsureOpen();
    QString Write(QByteArrayView bytes);
    QString Rotate();
    QString TellLost();
    void Drop(QByteArrayView lines, const QString& reason);

    QFile file;
    LogRotation rotation;
    qint64 size = 0; // bytes in the current file
    QByteArray pending;
    bool flushQueued = false;
    bool failing = false;
    qint64 lost = 0; // lines dropped since writing failed
};
