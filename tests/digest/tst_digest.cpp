#include "digest/MD5Hash.h"
#include "platform/Cp932.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QtTest>

using namespace MD5Hash_Module;

namespace {

QString Reference(QByteArrayView bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QByteArray RandomBytes(QRandomGenerator& random, qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = char(random.bounded(256));
    }
    return bytes;
}

// Feeds the input in pieces of random size, so that every position of a block gets to be a
// piece boundary sooner or later.
QString DigestInChunks(QRandomGenerator& random, const QByteArray& input, int largestChunk) {
    DigestReset();
    qsizetype at = 0;
    while (at < input.size()) {
        const qsizetype chunk =
            qMin<qsizetype>(random.bounded(largestChunk + 1), input.size() - at);
        DigestFeed(std::size_t(chunk), input.constData() + at);
        at += chunk;
    }
    DigestFinish();
    return DigestRender();
}

} // namespace

class tst_Digest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void publishedDigests_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("digest");
        // RFC 1321, appendix A.5.
        QTest::newRow("empty") << ""
                               << "d41d8cd98f00b204e9800998ecf8427e";
        QTest::newRow("a") << "a"
                           << "0cc175b9c0f1b6a831c399e269772661";
        QTest::newRow("abc") << "abc"
                             << "900150983cd24fb0d6963f7d28e17f72";
        QTest::newRow("message digest") << "message digest"
                                        << "f96b697d7cb7938d525a2f31aaf161d0";
        QTest::newRow("alphabet") << "abcdefghijklmnopqrstuvwxyz"
                                  << "c3fcd3d76192e4007dfb496cca67e13b";
        QTest::newRow("alphanumeric")
            << "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
            << "d174ab98d277d9f5a5611c2c9f419d9f";
        QTest::newRow("digits") << QString("1234567890").repeated(8)
                                << "57edf4a22be3c955ac49da2e2107b67a";
        // RFC 1939, section 7: the greeting's timestamp followed by the shared secret.
        QTest::newRow("APOP") << "<1896.697170952@dbc.mtview.ca.us>tanstaaf"
                              << "c4c9334bac560ecc979e58001b3e22fb";
    }
    void publishedDigests() {
        QFETCH(QString, text);
        QFETCH(QString, digest);
        QCOMPARE(DigestText(text), digest);
        QCOMPARE(DigestBytes(text.toLatin1()), digest);
    }

    // Where the 0x80 byte and the bit count fall on, across or just past a block boundary.
    void paddingAtBlockBoundaries_data() {
        QTest::addColumn<int>("length");
        for (int length : {55, 56, 57, 63, 64, 119, 120, 121, 127, 128}) {
            QTest::addRow("%d bytes", length) << length;
        }
    }
    void paddingAtBlockBoundaries() {
        QFETCH(int, length);
        QByteArray bytes;
        for (int i = 0; i < length; ++i) {
            bytes.append(char('A' + i % 26));
        }
        QCOMPARE(DigestText(QString::fromLatin1(bytes)), Reference(bytes));
    }

    // The server digests the bytes on the wire, so a kanji or kana counts two bytes, not one
    // character; half-width katakana stay one byte.
    void japaneseTextDigestsItsCodePageBytes() {
        const QString kanjiKana = QStringLiteral("漢字ひらがな");
        QCOMPARE(DigestText(kanjiKana),
                 Reference("\x8a\xbf\x8e\x9a\x82\xd0\x82\xe7\x82\xaa\x82\xc8"));
        QCOMPARE(DigestText(kanjiKana), Reference(TextToCp932(kanjiKana)));
        QVERIFY(DigestText(kanjiKana) != Reference(kanjiKana.toUtf8()));

        const QString mixed = QStringLiteral("<12.34@example.jp>ﾊﾟｽ漢字pass");
        QCOMPARE(DigestText(mixed), Reference(TextToCp932(mixed)));
        QCOMPARE(DigestText(mixed), Reference("<12.34@example.jp>\xca\xdf\xbd\x8a\xbf\x8e\x9a"
                                              "pass"));
    }

    void agreesWithReferenceOnRandomInput() {
        QRandomGenerator random(1321);
        for (int i = 0; i < 3000; ++i) {
            const QByteArray input = RandomBytes(random, random.bounded(301));
            const QString expected = Reference(input);
            QCOMPARE(DigestBytes(input), expected);
            QCOMPARE(DigestInChunks(random, input, 70), expected);
        }
        for (int i = 0; i < 4; ++i) {
            const QByteArray input = RandomBytes(random, (2 << 20) + random.bounded(3 << 20));
            const QString expected = Reference(input);
            QCOMPARE(DigestBytes(input), expected);
            QCOMPARE(DigestInChunks(random, input, 300), expected);
            QCOMPARE(DigestInChunks(random, input, 200000), expected);
        }
    }

    // Neither an earlier longer input nor a digest abandoned halfway may leak into the next.
    void callsAreIndependent() {
        const QString first = DigestText("+OK <1.2@host>secret");
        DigestText(QString(1000, QLatin1Char('x')));
        QCOMPARE(DigestText("+OK <1.2@host>secret"), first);

        DigestReset();
        DigestFeed(77, QByteArray(77, 'y').constData());
        QCOMPARE(DigestText("+OK <1.2@host>secret"), first);
    }

    void renderingListsBytesInOrderWithLeadingZeros() {
        DigestState = {0x0000000a, 0x10ffee01, 0xf00dbeef, 0};
        QCOMPARE(DigestRender(), QStringLiteral("0a00000001eeff10efbe0df000000000"));
    }

    // A byte count that wraps (at 2 GiB when signed 32-bit, at 4 GiB when unsigned) puts a wrong
    // length into the last block. The expected value is the md5sum of 4 GiB + 100 zero bytes.
    void inputBeyondFourGibibytes() {
        const QByteArray zeros(1 << 20, '\0');
        DigestReset();
        for (int i = 0; i < 4096; ++i) {
            DigestFeed(std::size_t(zeros.size()), zeros.constData());
        }
        DigestFeed(100, zeros.constData());
        QCOMPARE(DigestByteCount, (std::uint64_t(4) << 30) + 100);
        DigestFinish();
        QCOMPARE(DigestRender(), QStringLiteral("3601846a07f37ff8fbbeed3a1a7999b7"));
    }
};

QTEST_GUILESS_MAIN(tst_Digest)
#include "tst_digest.moc"
