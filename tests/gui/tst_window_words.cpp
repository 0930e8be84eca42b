// Every text the window, its dialogs and the tray menu show is Japanese, but for names: the
// texts are gathered by walking the widgets as they stand, not listed by hand.
#include "support/LoopbackPeers.h"
#include "support/TestCertificates.h"
#include "support/WindowTestSupport.h"

#include "gui/CertificateTrustDialog.h"
#include "gui/DisplayTls.h"
#include "gui/QtTranslation.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>

namespace {

// What a window shows: its title, and the captions, texts, hints, items and tips of every
// control that is not hidden, with the actions of its menus.
QStringList ShownTexts(QWidget* window) {
    QStringList texts{window->windowTitle()};
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        if (widget != window && !widget->isVisibleTo(window)) {
            continue;
        }
        texts << widget->toolTip();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            texts << label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            texts << button->text();
        } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
            texts << frame->title();
        } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
            texts << edit->text() << edit->placeholderText();
        } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            for (int i = 0; i < combo->count(); ++i) {
                texts << combo->itemText(i);
            }
        }
        for (const QAction* action : widget->actions()) {
            texts << action->text() << action->toolTip();
        }
    }
    texts.removeAll(QString());
    return texts;
}

// The notes of the server log, each put together from the lines it was broken into.
QStringList ServerNotes(Shell::Display& display) {
    QStringList notes;
    LogListModel& list1 = LogModel(display, "List1");
    for (int row = 0; row < list1.rowCount(); ++row) {
        const QString line = list1.data(list1.index(row)).toString();
        if (line.startsWith(QStringLiteral("　 ")) && !notes.isEmpty()) {
            notes.last() += line.mid(2);
        } else {
            notes << line;
        }
    }
    return notes;
}

// The words in ASCII letters that are not names: names are the ones below, file paths, host
// names and addresses, file names, fingerprints and the parts of a certificate's name.
QStringList ForeignWords(const QStringList& texts) {
    static const QRegularExpression names(
        QStringLiteral(R"((/[^\s「」、。]+)|([\w-]+(\.[\w-]+)+)|(\b(CN|O|OU|C)=[^,\n]*)|)"
                       R"(([0-9A-F]{2}(:[0-9A-F]{2})+))"));
    static const QRegularExpression word(QStringLiteral("[A-Za-z][A-Za-z0-9-]*"));
    static const QStringList allowed = {
        QStringLiteral("Quorlin"),   QStringLiteral("TLS"),
        QStringLiteral("SSL"),       QStringLiteral("STARTTLS"),
        QStringLiteral("STLS"),      QStringLiteral("APOP"),
        QStringLiteral("SHA-256"),   QStringLiteral("CA"),
        QStringLiteral("CharSet"),   QStringLiteral("Ins"),
        QStringLiteral("Del"),       QStringLiteral("OK"),
        QStringLiteral("UTC"),       QStringLiteral("SASL"),
        QStringLiteral("PLAIN"),     QStringLiteral("LOGIN"),
        QStringLiteral("localhost"), QStringLiteral("X-Quorlin-Charset")};
    QStringList foreign;
    for (QString text : texts) {
        text.remove(names);
        for (const QRegularExpressionMatch& match : word.globalMatch(text)) {
            if (!allowed.contains(match.captured())) {
                foreign << match.captured();
            }
        }
    }
    return foreign;
}

TlsFailure Refused(const QString& reason, const QSslCertificate& certificate) {
    return TlsFailure{QStringLiteral("127.0.0.1"), 995, reason, certificate};
}

} // namespace

class tst_WindowWords : public QObject {
    Q_OBJECT

    TestCertificates certificates;

    // The texts of the modal dialog that opens inside act, which is then closed.
    static QStringList ModalTexts(const std::function<void()>& act) {
        QStringList texts;
        ModalAnswerer answerer([&texts](QWidget* modal) {
            texts = ShownTexts(modal);
            QMetaObject::invokeMethod(modal, &QWidget::close, Qt::QueuedConnection);
        });
        act();
        return texts;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(LoadQtJapanese());
        QVERIFY2(certificates.Make(), certificates.log.constData());
    }

    void windowAndTrayMenu() {
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        AppOptions options = TestOptions();
        options.security = SecurityMode::Tls;
        DesktopSession session(options, true);
        QVERIFY(session.Form_Load());
        InstallServerTls(session);
        const QStringList texts =
            ShownTexts(&session.Window()) + ShownTexts(&session.Window().SysTray());
        QVERIFY2(texts.contains(QStringLiteral("受け取りたくない文字コードリスト")),
                 qPrintable(texts.join(u'|')));
        QVERIFY2(texts.contains(QStringLiteral("表示")), qPrintable(texts.join(u'|')));
        QCOMPARE(ForeignWords(texts), QStringList());
    }

    // The questions and messages of the window, each walked as it comes up.
    void dialogsOfTheWindow_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("shows"); // a text it must show, so it was really walked
        QTest::newRow("first-run question") << "first run"
                                            << "初期設定";
        QTest::newRow("settings") << "settings"
                                  << "待ち受けポート";
        QTest::newRow("blocked entry") << "blocked entry"
                                       << "受け取りたくない文字セットを入力してください。";
        QTest::newRow("client gone") << "client gone"
                                     << "メーラーからの接続は解除されています。";
        QTest::newRow("blank host") << "blank host"
                                    << "登録";
        QTest::newRow("listen failure") << "listen failure"
                                        << "待ち受けられません";
    }
    void dialogsOfTheWindow() {
        QFETCH(QString, dialog);
        QFETCH(QString, shows);
        ConfigFolder folder;
        if (dialog != QStringLiteral("first run")) {
            folder.Write("Quorlin.ini", "pop.example.jp\r\n");
        }
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        AppOptions options = TestOptions();
        if (dialog == QStringLiteral("listen failure")) {
            options.listenPort = occupant.serverPort();
        }
        DesktopSession session(options, true);
        Shell::Display& display = session.Window();
        QStringList texts;
        if (dialog == QStringLiteral("first run") || dialog == QStringLiteral("listen failure")) {
            texts = ModalTexts([&] { session.Form_Load(); });
        } else {
            QVERIFY(session.Form_Load());
            display.ShowFromUser();
        }
        if (dialog == QStringLiteral("settings")) {
            texts = ModalTexts([&] { Control<QPushButton>(display, "Command3")->click(); });
        } else if (dialog == QStringLiteral("blocked entry")) {
            texts = ModalTexts(
                [&] { QTest::keyClick(Control<QListWidget>(display, "List3"), Qt::Key_Insert); });
        } else if (dialog == QStringLiteral("client gone")) {
            Control<QLineEdit>(display, "Text2_1")->setText(QStringLiteral("+OK"));
            texts = ModalTexts([&] { Control<QPushButton>(display, "Command1_1")->click(); });
        } else if (dialog == QStringLiteral("blank host")) {
            Control<QLineEdit>(display, "Text1")->clear();
            texts = ModalTexts([&] { Control<QPushButton>(display, "Command2")->click(); });
        }
        QVERIFY2(texts.join(u'|').contains(shows), qPrintable(texts.join(u'|')));
        QCOMPARE(ForeignWords(texts), QStringList());
    }

    // Qt's translation is loaded for the window, so the system's reason for a failed handshake
    // comes in Japanese: the window shows it, the mail client's line stays ASCII English.
    void mailClientGetsAsciiWords() {
        QVERIFY(LoadQtJapanese());
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        ScriptedServer plain;
        plain.greeting = "+OK not TLS at all\r\n";
        AppOptions options = TestOptions(plain.Port());
        options.security = SecurityMode::Tls;
        DesktopSession session(options, true);
        QVERIFY(session.Form_Load());
        InstallServerTls(session);
        TestClient client;
        client.ConnectTo(session.RelayCore().ListeningPort());
        QTRY_VERIFY(client.received.endsWith("\r\n"));
        QVERIFY2(client.received.startsWith("-ERR No secure connection to the mail server: "),
                 client.received.constData());
        QVERIFY2(std::all_of(client.received.cbegin(), client.received.cend() - 2,
                             [](char c) { return c >= 0x20 && c < 0x7f; }),
                 client.received.constData());
        QTRY_VERIFY(!ServerNotes(session.Window()).isEmpty());
    }

    // A refused TLS connection: the note in the server log and the trust dialog, whatever the
    // reason.
    void refusedTls_data() {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("certificate"); // empty: the server showed none
        QTest::newRow("self-signed") << TlsReason::SelfSigned << "self";
        QTest::newRow("two reasons")
            << TlsReason::OtherHost + TlsReason::Separator + TlsReason::SelfSigned << "self";
        QTest::newRow("expired") << TlsReason::Expired << "expired";
        QTest::newRow("not yet valid") << TlsReason::NotYetValid << "good";
        QTest::newRow("untrusted issuer") << TlsReason::UntrustedIssuer << "good";
        QTest::newRow("revoked") << TlsReason::Revoked << "good";
        QTest::newRow("not pinned")
            << TlsReason::SelfSigned + TlsReason::Separator + TlsReason::NotPinned << "self2";
        QTest::newRow("refused connection") << TlsReason::ConnectionRefused << "";
        QTest::newRow("no STLS") << TlsReason::NoStls << "";
        QTest::newRow("STLS refused") << TlsReason::StlsRefused << "";
        QTest::newRow("data after STLS") << TlsReason::DataAfterStls << "";
    }
    void refusedTls() {
        QFETCH(QString, reason);
        QFETCH(QString, certificate);
        ConfigFolder folder;
        folder.Write("Quorlin.ini", "127.0.0.1\r\n");
        DesktopSession session(TestOptions(), true);
        QVERIFY(session.Form_Load());
        InstallServerTls(session);
        const TlsFailure failure =
            Refused(reason, certificate.isEmpty() ? QSslCertificate()
                                                  : certificates.Certificate(certificate));
        Q_EMIT session.RelayCore().ServerTlsFailed(failure);

        const QStringList notes = ServerNotes(session.Window());
        // Behind the note of the certificate for the mail clients, made in the new folder.
        QVERIFY2(notes.join(u'|').contains(QStringLiteral(
                     "※ メールサーバー 127.0.0.1:995 との暗号化接続を中止しました。")),
                 qPrintable(notes.join(u'|')));
        auto* dialog = session.Window().findChild<CertificateTrustDialog*>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(ForeignWords(notes + ShownTexts(dialog)), QStringList());
    }
};

QTEST_MAIN(tst_WindowWords)
#include "tst_window_words.moc"
