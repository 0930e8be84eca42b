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
