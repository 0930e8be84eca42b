#include "platform/ProgramFiles.h"
#include "settings/ListenSetting.h"
#include "support/FileBytes.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

// Where Quorlin listens, as kept in the options file: what a hand-edited file gives, and what a
// save leaves there.
class tst_ListenSetting : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString File() const { return dir->filePath(QStringLiteral("Quorlin_Options.ini")); }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        SetSettingsDirectory(dir->path());
    }
    void cleanup() { SetSettingsDirectory(QString()); }

    void fileGivesPortAndAddress_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("address");
        QTest::newRow("no file") << QByteArray() << 110 << QString();
        QTest::newRow("both") << QByteArray("[Listen]\nPort=1110\nAddress=127.0.0.1\n") << 1110
                              << QStringLiteral("127.0.0.1");
        QTest::newRow("other sections only")
            << QByteArray("[Server]\nPort=995\n") << 110 << QString();
        QTest::newRow("empty address is every address")
            << QByteArray("[Listen]\nPort=2110\nAddress=\n") << 2110 << QString();
        QTest::newRow("no port, no address")
            << QByteArray("[Listen]\nPort=0\nAddress=mail.example.jp\n") << 110 << QString();
        QTest::newRow("port too big") << QByteArray("[Listen]\nPort=65536\n") << 110 << QString();
        QTest::newRow("IPv6") << QByteArray("[Listen]\nAddress=::1\n") << 110
                              << QStringLiteral("::1");
        QTest::newRow("localhost is the loopback address")
            << QByteArray("[Listen]\nAddress=LocalHost\n") << 110 << QStringLiteral("127.0.0.1");
    }
    void fileGivesPortAndAddress() {
        QFETCH(QByteArray, content);
        QFETCH(int, port);
        QFETCH(QString, address);
        if (!content.isNull()) {
            WriteFileBytes(File(), content);
        }
        const ListenSetting setting = LoadListenSetting();
        QCOMPARE(int{setting.port}, port);
        QCOMPARE(setting.address,
                 address.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(address));
    }

    // A save keeps the other sections and reads back; a folder that cannot hold the file is
    // reported with its path.
    void saveKeepsOtherSectionsAndReportsFailure() {
        WriteFileBytes(File(), "[Server]\nPort=995\n");
        QVERIFY(SaveListenSetting({1110, QHostAddress(QStringLiteral("127.0.0.1"))}).Ok());
        const QByteArray saved = ReadFileBytes(File());
        QVERIFY2(saved.contains("[Server]\nPort=995\n"), saved.constData());
        QVERIFY2(saved.contains("[Listen]\nAddress=127.0.0.1\nPort=1110\n"), saved.constData());
        QCOMPARE(LoadListenSetting().port, quint16{1110});

        QVERIFY(SaveListenSetting({2110, QHostAddress(QHostAddress::Any)}).Ok());
        QVERIFY(ReadFileBytes(File()).contains("[Listen]\nAddress=\nPort=2110\n"));

        SetSettingsDirectory(UnwritableFolder(dir->path()));
        const Result<> failed = SaveListenSetting({1110, QHostAddress::Any});
        QVERIFY(!failed.Ok());
        QVERIFY(failed.Where().endsWith(QStringLiteral("regular/config/Quorlin_Options.ini")));
        QVERIFY(!failed.Error().isEmpty());
    }

    // A write that stops halfway (here a file size limit, as a full disk would) keeps the old
    // file whole and says why, although QSettings itself reports no error for it.
    void saveStoppedHalfwayKeepsTheOldFile() {
        const QByteArray old = "[Server]\nCaFile=" + QByteArray(3000, 'c') + "\n";
        WriteFileBytes(File(), old);
        rlimit limit{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit unlimited = limit;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        limit.rlim_cur = 1000;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const Result<> written = SaveListenSetting({1110, QHostAddress(QHostAddress::Any)});
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written.Ok());
        QVERIFY(!written.Error().isEmpty());
        QCOMPARE(ReadFileBytes(File()), old);
    }
};

QTEST_GUILESS_MAIN(tst_ListenSetting)
#include "tst_listen_setting.moc"
