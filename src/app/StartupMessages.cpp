#include "app/StartupMessages.h"

#include "settings/ServerSecurity.h"

#include <QCoreApplication>
#include <QDir>

namespace {

constexpr quint16 FirstFreePort = 1024;

QString SetcapCommand() {
    return QStringLiteral("sudo setcap cap_net_bind_service=+ep %1")
        .arg(QCoreApplication::applicationFilePath());
}

// The names first, then the settings dialog's labels.
QString SecurityWords(const QString& labelsIntro) {
    const QString separator = QStringLiteral(", ");
    QStringList names;
    QStringList labels;
    for (const SecurityMode mode : SecurityModes) {
        names.append(SecurityModeName(mode));
        labels.append(SecurityModeLabel(mode));
    }
    return names.join(separator) + labelsIntro + labels.join(separator);
}

// The options file, and the line when it is known: `numbered` puts the two together.
QString OptionsFilePlace(const OptionsFileLine& line, const QString& numbered) {
    const QString file = QDir::toNativeSeparators(OptionsFilePath());
    return line.number > 0 ? numbered.arg(file).arg(line.number) : file;
}

} // namespace

QString ListenFailureMessage(quint16 port, const QString& reason) {
    QString message = QStringLiteral("Quorlin cannot listen for the mail client on port %1: %2")
                          .arg(port)
                          .arg(reason);
    if (port < FirstFreePort) {
        message += QStringLiteral(
                       "\nPorts below 1024 need a privilege. Either choose another port with "
                       "--listen-port (for example --listen-port 1110) and point the mail client "
                       "at it, or give the program the privilege once with:\n  %1")
                       .arg(SetcapCommand());
    }
    return message;
}

QString ListenFailureWindowMessage(quint16 port, const QString& reason) {
    QString message = QStringLiteral("ポート %1 でメーラーからの接続を待ち受けられません。\n%2")
                          .arg(port)
                          .arg(reason);
    if (port < FirstFreePort) {
        message += QStringLiteral(
                       "\n\n1024 未満のポートには特別な権限が必要です。「設定」で 1024 より大きい"
                       "ポート (例えば 1110) を選んでメーラーをそのポートに向けるか、"
                       "次のコマンドで一度だけプログラムに権限を与えてください。\n%1")
                       .arg(SetcapCommand());
    }
    return message;
}

QString ServerConnectFailureReport(const QString& host, quint16 port, const QString& reason) {
    return QStringLiteral("cannot connect to the mail server %1:%2: %3")
        .arg(host)
        .arg(port)
        .arg(reason);
}

QString ServerConnectFailureMessage(const QString& host, quint16 port, const QString& reason) {
    if (host.trimmed().isEmpty()) {
        return NoServerSetMessage();
    }
    return QStringLiteral("メールサーバー %1 (ポート %2) に接続できませんでした。\n%3")
        .arg(host)
        .arg(port)
        .arg(reason);
}

QString NoGreetingReport(const QString& host, quint16 port, const QString& reason,
                         SecurityMode mode) {
    QString report = QStringLiteral("the mail server %1:%2 sent no greeting: %3")
                         .arg(host)
                         .arg(port)
                         .arg(reason);
    if (mode != SecurityMode::Tls) {
        report += QStringLiteral("\n  A port that expects TLS from the first byte stays silent "
                                 "to plain text; for such a port, choose --security tls.");
    }
    return report;
}

QString NoGreetingWindowMessage(const QString& host, quint16 port, const QString& reason,
                                SecurityMode mode) {
    QString message = QStringLiteral("メールサーバー %1 (ポート %2) に接続しましたが、最初の応答 "
                                     "(グリーティング) がありませんでした。\n%3")
                          .arg(host)
                          .arg(port)
                          .arg(reason);
    if (mode != SecurityMode::Tls) {
        message += QStringLiteral("\n\n最初から TLS を使うポートかもしれません。その場合は"
                                  "「設定」で接続方法を TLS にしてください。");
    }
    return message;
}

QString NoServerSetMessage() {
    return QStringLiteral("メールサーバーが設定されていません。\n"
                          "「サーバー名」の欄にメールサーバーを入力して「登録」を押してください。");
}

QString UnknownSecurityMessage(const OptionsFileLine& line) {
    return QStringLiteral("%1: \"%2\" names no way to reach the mail server.\n"
                          "Security in [Server] takes %3, in any letter case.\n"
                          "Quorlin does not start rather than fall back to plain text.")
        .arg(OptionsFilePlace(line, QStringLiteral("%1, line %2")), line.text,
             SecurityWords(QStringLiteral(", or the settings dialog's ")));
}

QString UnknownSecurityWindowMessage(const OptionsFileLine& line) {
    return QStringLiteral("メールサーバーへの接続方法が分かりません。\n%1:\n%2\n\n"
                          "[Server] の Security に使える値: %3 (大文字・小文字は問いません)。\n"
                          "暗号化なしに切り替えることはしません。「設定」で接続方法を選び直すか、"
                          "ファイルを直してください。")
        .arg(OptionsFilePlace(line, QStringLiteral("%1 の %2 行目")), line.text,
             SecurityWords(QStringLiteral("、または設定画面の ")));
}

QString RenewalWindowNotice(CertificateRenewal renewal, const QString& certificatePath) {
    return RenewalNotice(
        renewal, certificatePath,
        {QStringLiteral("メーラーとの TLS に使う Quorlin の証明書を作りました: %1"),
         QStringLiteral("メーラーとの TLS に使う Quorlin の証明書が%1ため、作り直しました: %2\n"
                        "古い証明書を信頼していたメーラーには、新しい証明書を設定してください。"),
         QStringLiteral("読めなかった"), QStringLiteral("鍵と合わなかった"),
         QStringLiteral("期限が切れた（または間もなく切れる）")});
}

QString ClientTlsProblemMessage(const QString& problem) {
    return QStringLiteral("no TLS toward the mail clients this run (no STLS, no TLS port): %1")
        .arg(problem);
}

QString ClientTlsProblemWindowMessage(const QString& problem) {
    return QStringLiteral("メーラーとの TLS（STLS、SSL/TLS ポート）は今回使えません: %1")
        .arg(problem);
}

QString ReloadRefusedMessage(const ReloadProblems& problems) {
    QStringList lines{QStringLiteral("the settings were not reloaded; those in force stay:")};
    for (const ReloadProblems::UnreadableFile& file : problems.unreadable) {
        lines.append(QStringLiteral("  cannot read %1: %2")
                         .arg(QDir::toNativeSeparators(file.path), file.reason));
    }
    if (!problems.unusable.isEmpty()) {
        lines.append(QStringLiteral("  ") +
                     UnusableSettingsReport(OptionsFilePath(), problems.unusable)
                         .replace(QLatin1Char('\n'), QStringLiteral("\n  ")));
    }
    if (problems.caFile) {
        lines.append(QStringLiteral("  ") + EnglishWords(*problems.caFile));
    }
    if (!problems.clientCertificate.isEmpty()) {
        lines.append(QStringLiteral("  no certificate for TLS toward the mail clients: ") +
                     problems.clientCertificate);
    }
    return lines.join(QLatin1Char('\n'));
}

// `kept` is 0 where nothing listened before (a TLS port newly set): nothing listens then.
QString ListenAgainFailureMessage(quint16 wanted, const QString& reason, quint16 kept) {
    const QString after = kept == 0 ? QStringLiteral("nothing listens in its place")
                                    : QStringLiteral("still listening on port %1").arg(kept);
    return QStringLiteral("cannot listen for the mail client on port %1: %2; %3")
        .arg(wanted)
        .arg(reason, after);
}

QString ListenAgainFailureWindowMessage(quint16 wanted, const QString& reason, quint16 kept) {
    const QString after =
        kept == 0 ? QStringLiteral("このポートでは待ち受けません。")
                  : QStringLiteral("これまでどおりポート %1 で待ち受けます。").arg(kept);
    return QStringLiteral("ポート %1 でメーラーからの接続を待ち受けられません。\n%2\n%3")
        .arg(wanted)
        .arg(reason, after);
}

QString LogFileFailureMessage(const QString& path, const QString& reason) {
    return QStringLiteral("the log file %1 cannot be written: %2. Quorlin goes on without it and "
                          "tries again with the next lines.")
        .arg(QDir::toNativeSeparators(path), reason);
}

QString LogFileFailureWindowMessage(const QString& path, const QString& reason) {
    return QStringLiteral("ログファイル %1 に書き込めません。\n%2\n"
                          "ログファイルなしで続け、次の行からまた書き込んでみます。")
        .arg(QDir::toNativeSeparators(path), reason);
}
