#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTest>

// Raw file content for tests, bypassing the code under test.
inline void WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A folder path below a regular file: nothing can be created there, whoever runs the test (root
// included, for whom permission bits would not do).
inline QString UnwritableFolder(const QString& scratchDir) {
    WriteFileBytes(scratchDir + QStringLiteral("/regular"), "x");
    return scratchDir + QStringLiteral("/regular/config");
}

// The file's bytes, or a null array when it cannot be read.
inline QByteArray ReadFileBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    QByteArray bytes = file.readAll();
    if (bytes.isNull()) {
        bytes = QByteArray("", 0);
    }
    return bytes;
}
