// The start-at-login entry: where it goes, its Exec line, and that desktops accept it.
#include "settings/AutostartEntry.h"
#include "support/FileBytes.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_AutostartEntry : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pathFollowsXdgConfigHome_data() {
        QTest::addColumn<QByteArray>("configHome");
        QTest::addColumn<QString>("path");
        const QString home = QDir::homePath();
        QTest::newRow("set") << QByteArray("/tmp/cfg") << u"/tmp/cfg/autostart/quorlin.desktop"_s;
        QTest::newRow("empty") << QByteArray() << home + u"/.config/autostart/quorlin.desktop"_s;
        QTest::newRow("relative") << QByteArray("cfg")
                                  << home + u"/.config/autostart/quorlin.desktop"_s;
    }

    void pathFollowsXdgConfigHome() {
        QFETCH(QByteArray, configHome);
        QFETCH(QString, path);
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", configHome);
        const QString found = AutostartEntryPath();
        qputenv("XDG_CONFIG_HOME", saved);
        QCOMPARE(found, path);
    }

    void execQuotedAndValid_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("configDir");
        QTest::addColumn<QByteArray>("exec");

        QTest::newRow("plain paths")
            << u"/usr/local/bin/quorlin"_s << u"/home/u/.config/Quorlin"_s
            << QByteArray("Exec=/usr/local/bin/quorlin --config-dir /home/u/.config/Quorlin "
                          "--autostart");
        QTest::newRow("spaces") << u"/opt/My Apps/quorlin"_s << u"/home/u/My Mail"_s
                                << QByteArray("Exec=\"/opt/My Apps/quorlin\" --config-dir "
                                              "\"/home/u/My Mail\" --autostart");
        QTest::newRow("dollar, quote, backslash, percent")
            << u"/usr/bin/quorlin"_s << u"/tmp/a$b\"c\\d%e"_s
            << QByteArray("Exec=/usr/bin/quorlin --config-dir \"/tmp/a\\\\$b\\\\\"c\\\\\\\\d%%e\" "
                          "--autostart");
        QTest::newRow("non-ASCII") << u"/usr/bin/quorlin"_s << u"/home/u/メール"_s
                                   << QByteArray("Exec=/usr/bin/quorlin --config-dir "
                                                 "/home/u/\xe3\x83\xa1\xe3\x83\xbc\xe3\x83\xab "
                                                 "--autostart");
    }

    void execQuotedAndValid() {
        QFETCH(QString, program);
        QFETCH(QString, configDir);
        QFETCH(QByteArray, exec);

        QTemporaryDir dir;
        const QString path = dir.filePath(u"autostart/quorlin.desktop"_s);
        QVERIFY(WriteAutostartEntry(path, program, configDir).Ok());
        const QByteArray written = ReadFileBytes(path);
        QVERIFY2(written.split('\n').contains(exec), written.constData());

        const QString validator = QStandardPaths::findExecutable(u"desktop-file-validate"_s);
        QVERIFY2(!validator.isEmpty(), "desktop-file-validate is missing: run "
                                       "scripts/install-deps --tests");
        QProcess validate;
        validate.setProcessChannelMode(QProcess::MergedChannels);
        validate.start(validator, {path});
        QVERIFY(validate.waitForFinished(30000));
        const QByteArray verdict = validate.readAll();
        QVERIFY2(validate.exitCode() == 0 && !verdict.contains("error"), verdict.constData());
    }

    void writtenAndRemoved() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"config/autostart/quorlin.desktop"_s);
        QVERIFY(!AutostartEntryExists(path));
        QVERIFY(WriteAutostartEntry(path, u"/usr/bin/quorlin"_s, dir.path()).Ok());
        QVERIFY(AutostartEntryExists(path));
        QVERIFY(RemoveAutostartEntry(path).Ok());
        QVERIFY(!AutostartEntryExists(path));
        QVERIFY(RemoveAutostartEntry(path).Ok());
    }
};

QTEST_GUILESS_MAIN(tst_AutostartEntry)
#include "tst_autostart_entry.moc"
