// What the user is shown to make mail clients trust Quorlin's certificate.
#include "platform/TrustInstructions.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Made once with openssl; its fingerprints below are openssl's own output
// (x509 -noout -fingerprint -sha256 / -md5).
constexpr char FixedCertificate[] = R"(-----BEGIN CERTIFICATE-----
MIIBkzCCATmgAwIBAgIUcjpZg+g7PAOcgXhaJ9hSZ9aLOd8wCgYIKoZIzj0EAwIw
FDESMBAGA1UEAwwJbG9jYWxob3N0MB4XDTI2MTIwNzE2NDYxN1oXDTM2MTIwNDE2
NDYxN1owFDESMBAGA1UEAwwJbG9jYWxob3N0MFkwEwYHKoZIzj0CAQYIKoZIzj0D
AQcDQgAEfp6p8WJg3OrtYXVg+q1JImj5DgnjJ/IXa1JXiKU8MDWO4/T+6gZxxyYe
J5azniIGhId8X7ewLduTQWdeOZCSSqNpMGcwHQYDVR0OBBYEFMUc2ATkGfvcO471
u9ZVynvDMzwqMB8GA1UdIwQYMBaAFMUc2ATkGfvcO471u9ZVynvDMzwqMA8GA1Ud
EwEB/wQFMAMBAf8wFAYDVR0RBA0wC4IJbG9jYWxob3N0MAoGCCqGSM49BAMCA0gA
MEUCIDRbwlp2sQ4ctYXxziBQxvnlns1Lv1orsGsBhbvgJywjAiEAgda66rx9MWji
Co6eAi7H5AhEqZQCGCSnwz4BRciV1dE=
-----END CERTIFICATE-----
)";

} // namespace

class tst_TrustInstructions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shown_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fetchmailPath");
        QTest::addColumn<QString>("neomuttPath");
        QTest::newRow("plain path") << u"/home/u/.config/Quorlin/Quorlin_Certificate.pem"_s
                                    << u"\"/home/u/.config/Quorlin/Quorlin_Certificate.pem\""_s
                                    << u"\"/home/u/.config/Quorlin/Quorlin_Certificate.pem\""_s;
        QTest::newRow("quote, backslash, dollar, space")
            << u"/home/u/a\"b\\c$d e.pem"_s << u"\"/home/u/a\\x22b\\x5cc$d e.pem\""_s
            << u"\"/home/u/a\\\"b\\\\c\\$d e.pem\""_s;
    }

    void shown() {
        QFETCH(QString, path);
        QFETCH(QString, fetchmailPath);
        QFETCH(QString, neomuttPath);
        const QSslCertificate certificate(QByteArray(FixedCertificate), QSsl::Pem);
        QVERIFY(!certificate.isNull());
        const QStringList expected{
            u"Certificate: "_s + path,
            u"SHA-256 fingerprint: C8:19:7E:3A:8A:71:99:48:5B:4D:4B:17:60:07:48:8D:89:59:74:07:4C:"
            "03:19:DE:BB:56:19:81:17:FC:66:4E"_s,
            u"MD5 fingerprint: 69:45:93:B8:B3:AC:48:C6:3E:F2:C9:5D:98:4E:5F:68"_s,
            u"fetchmail (both lines, in the poll entry of ~/.fetchmailrc):"_s,
            u"  sslcertfile "_s + fetchmailPath,
            u"  sslfingerprint \"69:45:93:B8:B3:AC:48:C6:3E:F2:C9:5D:98:4E:5F:68\""_s,
            u"neomutt (~/.neomuttrc):"_s,
            u"  set certificate_file="_s + neomuttPath,
        };
        QCOMPARE(TrustInstructions(path, certificate), expected);
    }
};

QTEST_GUILESS_MAIN(tst_TrustInstructions)
#include "tst_trust_instructions.moc"
