#include "platform/Cp932.h"

#include <QTest>

Q_DECLARE_METATYPE(Cp932Backend)

using namespace Qt::StringLiterals;

// Every test runs once on each converter, so the one this system does not pick is proven too.
class tst_Cp932 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase_data() {
        QTest::addColumn<Cp932Backend>("backend");
        QTest::newRow("Qt ICU") << Cp932Backend::QtIcu;
        QTest::newRow("iconv") << Cp932Backend::Iconv;
    }

    void init() {
        QFETCH_GLOBAL(Cp932Backend, backend);
        if (!UseCp932Backend(backend)) {
            QSKIP("this converter is not available here");
        }
    }

    void roundTrip_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QString() << QByteArray();
        QTest::newRow("ASCII with backslash and tilde")
            << u"USER taro\\~ 0-9 {}"_s << QByteArray("USER taro\\~ 0-9 {}");
        QTest::newRow("control bytes")
            << u"\x1a\x00\x1c\x7f\t"_s << QByteArray("\x1a\x00\x1c\x7f\t", 5);
        QTest::newRow("half-width katakana")
            << u"ｱｲｳｴｵｶﾞ"_s << QByteArray("\xb1\xb2\xb3\xb4\xb5\xb6\xde");
        QTest::newRow("kanji") << u"漢字"_s << QByteArray("\x8a\xbf\x8e\x9a");
        QTest::newRow("hiragana") << u"ひらがな"_s
                                  << QByteArray("\x82\xd0\x82\xe7\x82\xaa\x82\xc8");
        QTest::newRow("Windows extensions")
            << u"～①ⅰ￢"_s << QByteArray("\x81\x60\x87\x40\xfa\x40\x81\xca");
        QTest::newRow("mixed") << u"件名: 会議のお知らせ (ｶﾞｲﾄﾞ)"_s
                               << QByteArray("\x8c\x8f\x96\xbc: \x89\xef\x8b\x63\x82\xcc\x82\xa8"
                                             "\x92\x6d\x82\xe7\x82\xb9 (\xb6\xde\xb2\xc4\xde)");
    }

    void roundTrip() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(TextToCp932(text), bytes);
        QCOMPARE(Cp932ToText(bytes), text);
    }

    void invalidBytes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("lead byte at the end") << QByteArray("abc\x82") << u"abc\uFFFD"_s;
        QTest::newRow("lead byte before a space") << QByteArray("\x82 x") << u"\uFFFD x"_s;
        QTest::newRow("byte that is never valid") << QByteArray("a\xff"
                                                                "b")
                                                  << u"a\uFFFDb"_s;
        QTest::newRow("between characters")
            << QByteArray("\x82\xa0\xff\x82\xa2") << u"あ\uFFFDい"_s;
        QTest::newRow("unassigned pair keeps ASCII trail")
            << QByteArray("\x85\x40z") << u"\uFFFD@z"_s;
        QTest::newRow("unassigned pair with high trail") << QByteArray("\x85\x80z") << u"\uFFFDz"_s;
        QTest::newRow("several in a row") << QByteArray("\xff\xfe\xfd") << u"\uFFFD\uFFFD\uFFFD"_s;
        // The edges of both lead-byte ranges: a pair there must stay one character when an
        // invalid byte beside it makes the converter work character by character.
        QTest::newRow("0x9F pair beside an invalid byte")
            << QByteArray("\x9f\x40\xff") << u"檗\uFFFD"_s;
        QTest::newRow("0xE0 pair beside an invalid byte")
            << QByteArray("\xff\xe0\x40") << u"\uFFFD漾"_s;
        QTest::newRow("0xFC pair beside an invalid byte")
            << QByteArray("\xfc\x4b\xff") << u"黑\uFFFD"_s;
    }

    void invalidBytes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QCOMPARE(Cp932ToText(bytes), text);
    }

    void callsAreIndependent() {
        // A lead byte at the end of one call must not join the next call's first byte.
        QCOMPARE(Cp932ToText("x\x82"), u"x\uFFFD"_s);
        QCOMPARE(Cp932ToText("\xa0"), u"\uFFFD"_s);
        QCOMPARE(Cp932ToText("\x82\xa0"), u"あ"_s);
        QCOMPARE(TextToCp932(u"a\xd83d"_s), QByteArray("a?"));
        QCOMPARE(TextToCp932(u"\xde00"
                             "b"_s),
                 QByteArray("?b"));
    }

    void unmappableCharacters_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("accented Latin") << u"café"_s << QByteArray("caf?");
        QTest::newRow("euro sign between") << u"a€b"_s << QByteArray("a?b");
        QTest::newRow("yen sign has only a look-alike") << u"¥100"_s << QByteArray("?100");
        QTest::newRow("not sign has only a look-alike") << u"¬"_s << QByteArray("?");
        QTest::newRow("character beyond the BMP is one question mark")
            << u"x😀y"_s << QByteArray("x?y");
        QTest::newRow("lone surrogate") << u"a\xd800"
                                           "b"_s
                                        << QByteArray("a?b");
        QTest::newRow("between kanji") << u"漢é字"_s << QByteArray("\x8a\xbf?\x8e\x9a");
    }

    void unmappableCharacters() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(TextToCp932(text), bytes);
    }

    void longInputWithScatteredFaults() {
        QByteArray bytes;
        QString expected;
        QString text;
        QByteArray encoded;
        for (int i = 0; i < 20000; ++i) {
            bytes += "\x82\xa0 ok \xb1";
            expected += u"あ ok ｱ"_s;
            text += u"漢 "_s;
            encoded += "\x8a\xbf ";
            if (i % 997 == 0) {
                bytes += '\xff';
                expected += u'\uFFFD';
                text += u'€';
                encoded += '?';
            }
        }
        QCOMPARE(Cp932ToText(bytes), expected);
        QCOMPARE(TextToCp932(text), encoded);
    }

    // Any character on which the two converters differ would make the program's files and logs
    // depend on how Qt was built.
    void convertersAgreeOnEveryCharacter() {
        QFETCH_GLOBAL(Cp932Backend, backend);
        if (backend != Cp932Backend::QtIcu) {
            QSKIP("compares both converters in the first round");
        }
        QVERIFY(UseCp932Backend(Cp932Backend::Iconv));
        const auto decodeAll = [](Cp932Backend which) {
            UseCp932Backend(which);
            QStringList decoded;
            for (int first = 0; first < 0x100; ++first) {
                decoded.append(Cp932ToText(QByteArray(1, char(first))));
                for (int second = 0x40; second <= 0xfc; ++second) {
                    const char pair[] = {char(first), char(second)};
                    decoded.append(Cp932ToText(QByteArrayView(pair, 2)));
                }
            }
            return decoded;
        };
        const auto encodeAll = [](Cp932Backend which) {
            UseCp932Backend(which);
            QList<QByteArray> encoded;
            for (char16_t c = 0; c < 0xffff; ++c) {
                encoded.append(TextToCp932(QStringView(&c, 1)));
            }
            return encoded;
        };
        const QStringList viaIcu = decodeAll(Cp932Backend::QtIcu);
        const QStringList viaIconv = decodeAll(Cp932Backend::Iconv);
        for (qsizetype i = 0; i < viaIcu.size(); ++i) {
            QVERIFY2(viaIcu[i] == viaIconv[i], qPrintable(viaIcu[i] + u" / "_s + viaIconv[i]));
        }
        const QList<QByteArray> bytesViaIcu = encodeAll(Cp932Backend::QtIcu);
        const QList<QByteArray> bytesViaIconv = encodeAll(Cp932Backend::Iconv);
        for (qsizetype i = 0; i < bytesViaIcu.size(); ++i) {
            QVERIFY2(bytesViaIcu[i] == bytesViaIconv[i],
                     qPrintable(u"U+%1"_s.arg(int(i), 4, 16, QChar(u'0'))));
        }
    }

    void asciiOnlyWhenNoConverterKnowsTheCodePage() {
        QVERIFY(UseCp932Backend(Cp932Backend::AsciiOnly));
        // The pair is still read as one character, so it gives one replacement.
        QCOMPARE(Cp932ToText("abc\x82\xa0"
                             "d"),
                 u"abc\uFFFD"
                 "d"_s);
        QCOMPARE(TextToCp932(u"abc漢"_s), QByteArray("abc?"));
    }
};

QTEST_GUILESS_MAIN(tst_Cp932)
#include "tst_cp932.moc"
