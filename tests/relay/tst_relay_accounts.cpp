// Several accounts through one relay, against scripted mail servers that check each APOP login
// with their own stamps: the login name picks the server, the client sees one answer, and one
// account's failure leaves the other's client alone.
#include "relay/Relay.h"
#include "relay/RelayReplies.h"
#include "support/FakeRelayView.h"
#include "support/LoopbackPeers.h"
#include "support/MailboxServer.h"
#include "support/RelayRig.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTest>

namespace {

const QByteArray AliceMail = "Subject: for alice\r\n\r\nalice's only mail\r\n";
const QByteArray CarolMail = "Subject: for carol\r\n\r\ncarol's only mail\r\n";

Account AccountAt(const QString& login, quint16 port) {
    Account account;
    account.login = login;
    account.host = QStringLiteral("127.0.0.1");
    account.port = port;
    return account;
}

QByteArray Greeting(const TestClient& client) {
    return client.received.left(client.received.indexOf("\r\n") + 2);
}

QByteArray Apop(const QByteArray& user, const QByteArray& greeting, const QByteArray& password) {
    const QByteArray stamp =
        greeting.mid(greeting.indexOf('<'), greeting.indexOf('>') - greeting.indexOf('<') + 1);
    return "APOP " + user + ' ' +
           QCryptographicHash::hash(stamp + password, QCryptographicHash::Md5).toHex() + "\r\n";
}

} // namespace

class tst_RelayAccounts : public QObject {
    Q_OBJECT

    // The default server knows carol; the account's server knows alice.
    std::unique_ptr<MailboxServer> defaultServer;
    std::unique_ptr<MailboxServer> aliceServer;
    FakeRelayView view;
    std::unique_ptr<Settings> settings;
    std::unique_ptr<Relay> relay;

    void StartRelay() {
        relay = std::make_unique<Relay>(view, *settings);
        QVERIFY(relay->StartListening().Ok());
        quint16 failed = 0;
        QVERIFY(relay->StartAccountListening(failed).Ok());
    }

    std::unique_ptr<TestClient> Greeted(quint16 port) {
        auto client = std::make_unique<TestClient>();
        client->ConnectTo(port);
        if (!QTest::qWaitFor([&] { return client->received.endsWith("\r\n"); }, 5000)) {
            return nullptr;
        }
        return client;
    }

private Q_SLOTS:
    void init() {
        defaultServer = std::make_unique<MailboxServer>();
        defaultServer->passwords["carol"] = "carol-pw";
        defaultServer->messages["carol"] = CarolMail;
        aliceServer = std::make_unique<MailboxServer>();
        aliceServer->passwords["alice"] = "alice pw";
        aliceServer->messages["alice"] = AliceMail;
        settings = std::make_unique<Settings>(LoopbackSettings(defaultServer->Port()));
        settings->accounts.append(AccountAt(QStringLiteral("alice"), aliceServer->Port()));
        Account spaced = AccountAt(QStringLiteral("carol smith"), aliceServer->Port());
        spaced.serverUser = QStringLiteral("alice");
        settings->accounts.append(spaced);
        view = FakeRelayView();
    }

    void cleanup() {
        relay.reset();
        settings.reset();
        aliceServer.reset();
        defaultServer.reset();
    }

    // The client asks the default server first; the login then needs alice's server: the
    // default connection goes once its reply is through, and the client sees the login's
    // answer alone, never the second greeting.
    void capaBeforeUserOfAnotherAccount() {
        StartRelay();
        const auto client = Greeted(relay->ListeningPort());
        QVERIFY(client);
        const QByteArray greeting = Greeting(*client);
        QVERIFY(defaultServer->ByStamp(greeting));
        client->Send("CAPA\r\nUSER alice\r\nPASS alice pw\r\nRETR 1\r\n");
        const QByteArray expected = greeting + "-ERR refused: CAPA\r\n" + UserReply +
                                    "+OK alice's maildrop ready\r\n" +
                                    MailboxServer::RetrReply(AliceMail);
        QTRY_COMPARE(client->received, expected);
        QTRY_COMPARE(defaultServer->OpenConnections(), 0);
        QCOMPARE(aliceServer->connections.size(), size_t(1));
        QCOMPARE(aliceServer->connections[0]->user, QByteArray("alice"));
        // The account's first line in the server log says whose server it is.
        QVERIFY(view.serverLog.contains(
            "(alice) " + MailboxServer::Greeting(*aliceServer->connections[0]).chopped(2)));
    }

    // Names not listed stay with the default server, letter case included; a name given twice
    // goes where the last one says; the client's own APOP goes to the greeting's server.
    void loginNamesPickTheServer_data() {
        QTest::addColumn<QByteArray>("login");
        QTest::addColumn<bool>("toAlice");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("listed") << QByteArray("USER alice\r\nPASS alice pw\r\n") << true
                                << QByteArray("+OK alice's maildrop ready\r\n");
        QTest::newRow("a name with a space")
            << QByteArray("USER carol smith\r\nPASS alice pw\r\n") << true
            << QByteArray("+OK alice's maildrop ready\r\n");
        QTest::newRow("another letter case") << QByteArray("USER Alice\r\nPASS alice pw\r\n")
                                             << false << QByteArray("-ERR refused: APOP Alice");
        QTest::newRow("not listed") << QByteArray("USER carol\r\nPASS carol-pw\r\n") << false
                                    << QByteArray("+OK carol's maildrop ready\r\n");
        QTest::newRow("alice, then carol")
            << QByteArray("USER alice\r\nUSER carol\r\nPASS carol-pw\r\n") << false
            << QByteArray("+OK carol's maildrop ready\r\n");
        QTest::newRow("client's own APOP")
            << QByteArray("APOP carol") << false << QByteArray("+OK carol's maildrop ready\r\n");
        QTest::newRow("APOP after USER of another account")
            << QByteArray("USER alice\r\nAPOP carol") << true << QByteArray(ApopElsewhereReply);
    }
    void loginNamesPickTheServer() {
        QFETCH(QByteArray, login);
        QFETCH(bool, toAlice);
        QFETCH(QByteArray, answer);
        StartRelay();
        const auto client = Greeted(relay->ListeningPort());
        QVERIFY(client);
        const QByteArray greeting = Greeting(*client);
        if (login.endsWith("APOP carol")) {
            login.chop(10);
            login += Apop("carol", greeting, "carol-pw");
        }
        client->Send(login);
        QTRY_VERIFY(client->received.contains(answer));
        QTRY_COMPARE(aliceServer->OpenConnections(), toAlice ? 1 : 0);
        QCOMPARE(defaultServer->OpenConnections(), toAlice ? 0 : 1);
        client->Send("RETR 1\r\n");
        if (answer.startsWith("+OK")) {
            QTRY_VERIFY(client->received.endsWith(
                MailboxServer::RetrReply(toAlice ? AliceMail : CarolMail)));
        }
    }

    // A server that cannot be reached fails only its own account's client.
    void accountDownOtherServed() {
        settings->accounts.append(
            AccountAt(QStringLiteral("bob@example.test"), FreeLoopbackPort()));
        StartRelay();
        QSignalSpy failures(relay.get(), &Relay::ServerConnectFailed);
        QSignalSpy checks(relay.get(), &Relay::AccountChecked);
        const auto bob = Greeted(relay->ListeningPort());
        const auto alice = Greeted(relay->ListeningPort());
        QVERIFY(bob && alice);
        bob->Send("USER bob@example.test\r\nPASS bob-pw\r\n");
        alice->Send("USER alice\r\nPASS alice pw\r\n");
        QTRY_VERIFY(bob->received.startsWith(Greeting(*bob) + UserReply +
                                             "-ERR Cannot connect to the mail server: "));
        QTRY_COMPARE(bob->socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(alice->received.endsWith("+OK alice's maildrop ready\r\n"));
        alice->Send("RETR 1\r\nQUIT\r\n");
        QTRY_VERIFY(alice->received.endsWith(MailboxServer::RetrReply(AliceMail) + "+OK bye\r\n"));
        QCOMPARE(failures.count(), 1);
        QTRY_COMPARE(checks.count(), 2);
        const auto bobCheck = checks.at(0).at(0).value<AccountCheck>();
        const auto aliceCheck = checks.at(1).at(0).value<AccountCheck>();
        QCOMPARE(bobCheck.login, QStringLiteral("bob@example.test"));
        QCOMPARE(bobCheck.outcome, AccountCheck::Outcome::NoConnection);
        QCOMPARE(aliceCheck.login, QStringLiteral("alice"));
        QCOMPARE(aliceCheck.outcome, AccountCheck::Outcome::Done);
        QCOMPARE(aliceCheck.retrieved, 1);
    }

    // A client on the account's own port is greeted by that server and logs in there whatever
    // name it gives, under the name the server knows.
    void portRoute() {
        Account& alice = settings->accounts[1];
        alice.listenPort = FreeLoopbackPort();
        alice.serverUser = QStringLiteral("alice");
        alice.login = QStringLiteral("someone else");
        StartRelay();
        QCOMPARE(relay->AccountListeningPort(1), alice.listenPort);
        const auto client = Greeted(alice.listenPort);
        QVERIFY(client);
        QVERIFY(aliceServer->ByStamp(Greeting(*client)));
        client->Send("USER carol\r\nPASS alice pw\r\nRETR 1\r\n");
        QTRY_VERIFY(client->received.endsWith("+OK alice's maildrop ready\r\n" +
                                              MailboxServer::RetrReply(AliceMail)));
        QCOMPARE(defaultServer->connections.size(), size_t(0));
    }

    // No default server: Quorlin greets the client with a stamp of its own, answers CAPA
    // itself, and a listed name reaches its server; a name not listed reaches none.
    void noDefaultServer() {
        settings->DefaultAccount().host.clear();
        StartRelay();
        const auto client = Greeted(relay->ListeningPort());
        QVERIFY(client);
        QVERIFY(client->received.startsWith("+OK Quorlin ready <"));
        client->Send("CAPA\r\n");
        QTRY_VERIFY(client->received.endsWith("\r\nUSER\r\nSASL PLAIN LOGIN\r\n.\r\n"));
        client->Send("USER nobody\r\nPASS x\r\nUSER alice\r\nPASS alice pw\r\n");
        QTRY_VERIFY(client->received.endsWith(QByteArray(ServerNotConnectedReply) + UserReply +
                                              "+OK alice's maildrop ready\r\n"));
        QCOMPARE(defaultServer->connections.size(), size_t(0));
    }

    // AUTH taken in routes as USER does: "\0alice\0alice pw".
    void saslLoginRoutes() {
        StartRelay();
        const auto client = Greeted(relay->ListeningPort());
        QVERIFY(client);
        client->Send("AUTH PLAIN AGFsaWNlAGFsaWNlIHB3\r\nRETR 1\r\n");
        QTRY_VERIFY(client->received.endsWith("+OK alice's maildrop ready\r\n" +
                                              MailboxServer::RetrReply(AliceMail)));
        QTRY_COMPARE(defaultServer->OpenConnections(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_RelayAccounts)
#include "tst_relay_accounts.moc"
