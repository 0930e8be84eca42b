#include "platform/ProgramFiles.h"
#include "settings/AccountsFile.h"
#include "settings/Settings.h"
#include "support/FileBytes.h"

#include <QTemporaryDir>
#include <QTest>

// The accounts as kept in the options file: what a hand-edited file gives, what a save leaves
// there, and an options file from before accounts left as it was.
class tst_AccountsFile : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    QString File() const { return dir->filePath(QStringLiteral("Quorlin_Options.ini")); }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<QTemporaryDir>();
        SetSettingsDirectory(dir->path());
    }
    void cleanup() { SetSettingsDirectory(QString()); }

    // Each row: the file, then "login host:port security user listen" per account kept, and
    // how many sections were left out.
    void handEditedFile_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("accounts");
        QTest::addColumn<int>("problems");
        QTest::newRow("none: a file from before accounts")
            << QByteArray("[Server]\nSecurity=tls\n[Listen]\nPort=1110\n") << QStringList() << 0;
        QTest::newRow("defaults") << QByteArray("[Account1]\nLogin=alice\nHost=pop.example.jp\n")
                                  << QStringList{"alice pop.example.jp:110 none - 0"} << 0;
        QTest::newRow("everything, in sections' number order")
            << QByteArray("[Account10]\nLogin=carol\nHost=c.example\n"
                          "[Account2]\nLogin=bob@example.test\nHost=mail.example.net\n"
                          "Security=SSL/TLS\nServerUser=bob smith\nListenPort=1110\n")
            << QStringList{"bob@example.test mail.example.net:995 tls bob smith 1110",
                           "carol c.example:110 none - 0"}
            << 0;
        QTest::newRow("unusable sections left out")
            << QByteArray("[Account1]\nHost=nologin.example\n"
                          "[Account2]\nLogin=a\n"
                          "[Account3]\nLogin=b\nHost=b.example\nSecurity=ssl\n"
                          "[Account4]\nLogin=c\nHost=c.example\nPort=99999\n"
                          "[Account5]\nLogin=d\nHost=d.example\nSecurity=starttls\nPort=1995\n"
                          "[Account6]\nLogin=d\nHost=other.example\n")
            << QStringList{"d d.example:1995 starttls - 0"} << 5;
    }
    void handEditedFile() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, accounts);
        QFETCH(int, problems);
        WriteFileBytes(File(), content);
        const AccountsRead read = LoadAccounts();
        QStringList shown;
        for (const Account& account : read.accounts) {
            shown.append(QStringLiteral("%1 %2:%3 %4 %5 %6")
                             .arg(account.login, account.host)
                             .arg(account.port)
                             .arg(account.security == SecurityMode::None  ? "none"
                                  : account.security == SecurityMode::Tls ? "tls"
                                                                          : "starttls")
                             .arg(account.serverUser.isEmpty() ? "-" : account.serverUser)
                             .arg(account.listenPort));
        }
        QCOMPARE(shown, accounts);
        QCOMPARE(read.problems.size(), problems);
        QCOMPARE(ReadFileBytes(File()), content); // reading writes nothing
    }

    // Saved as sections a person can read and copy; the other sections stay, and sections of
    // accounts removed go.
    void savedForPeople() {
        WriteFileBytes(File(), "[Account7]\nLogin=gone\nHost=gone.example\n[Listen]\nPort=1110\n");
        Account bob;
        bob.login = QStringLiteral("bob@example.test");
        bob.host = QStringLiteral("mail.example.net");
        bob.security = SecurityMode::Tls;
        bob.port = 995;
        bob.serverUser = QStringLiteral("bob");
        bob.listenPort = 1111;
        Account alice;
        alice.login = QStringLiteral("alice");
        alice.host = QStringLiteral("pop.example.jp");
        QVERIFY(SaveAccounts({bob, alice}).Ok());
        QCOMPARE(ReadFileBytes(File()), QByteArray("[Account1]\n"
                                                   "Host=mail.example.net\n"
                                                   "ListenPort=1111\n"
                                                   "Login=bob@example.test\n"
                                                   "Port=995\n"
                                                   "Security=tls\n"
                                                   "ServerUser=bob\n"
                                                   "\n"
                                                   "[Account2]\n"
                                                   "Host=pop.example.jp\n"
                                                   "Login=alice\n"
                                                   "Port=110\n"
                                                   "Security=none\n"
                                                   "\n"
                                                   "[Listen]\n"
                                                   "Port=1110\n"));
        QCOMPARE(LoadAccounts().accounts.size(), 2);
    }
};

QTEST_GUILESS_MAIN(tst_AccountsFile)
#include "tst_accounts_file.moc"
