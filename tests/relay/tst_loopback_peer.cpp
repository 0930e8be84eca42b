// Which client addresses may use AUTH on a plain connection.
#include "relay/LoopbackPeer.h"

#include <QTest>

class tst_LoopbackPeer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void classified_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("loopback");

        QTest::newRow("IPv4 127.0.0.1") << "127.0.0.1" << true;
        QTest::newRow("IPv4 top of 127/8") << "127.255.255.254" << true;
        QTest::newRow("IPv4 below 127/8") << "126.255.255.255" << false;
        QTest::newRow("IPv4 above 127/8") << "128.0.0.1" << false;
        QTest::newRow("IPv4 home network") << "192.168.1.20" << false;
        QTest::newRow("IPv4 any") << "0.0.0.0" << false;
        QTest::newRow("IPv6 ::1") << "::1" << true;
        QTest::newRow("IPv6 ::1 written out") << "0:0:0:0:0:0:0:1" << true;
        QTest::newRow("IPv6 any") << "::" << false;
        QTest::newRow("IPv6 link-local") << "fe80::1" << false;
        QTest::newRow("IPv6 ::2") << "::2" << false;
        QTest::newRow("v4-mapped 127.0.0.1") << "::ffff:127.0.0.1" << true;
        QTest::newRow("v4-mapped 127.1.2.3 in hex") << "::ffff:7f01:203" << true;
        QTest::newRow("v4-mapped home network") << "::ffff:192.168.1.20" << false;
        QTest::newRow("v4-compatible 127.0.0.1") << "::127.0.0.1" << false;
        QTest::newRow("v4-translated 127.0.0.1") << "::ffff:0:127.0.0.1" << false;
    }

    void classified() {
        QFETCH(QString, address);
        QFETCH(bool, loopback);
        const QHostAddress peer(address);
        QVERIFY(!peer.isNull());
        QCOMPARE(IsLoopbackPeer(peer), loopback);
    }
};

QTEST_GUILESS_MAIN(tst_LoopbackPeer)
#include "tst_loopback_peer.moc"
