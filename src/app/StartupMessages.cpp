#include "app/StartupMessages.h"

#include <QCoreApplication>

namespace {

constexpr quint16 FirstFreePort = 1024;

QString SetcapCommand() {
    return QStringLiteral("sudo setcap cap_net_bind_service=+ep %1")
        .arg(QCoreApplication::applicationFilePath());
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

QString NoServerSetMessage() {
    return QStringLiteral("メールサーバーが設定されていません。\n"
                          "「サーバー名」の欄にメールサーバーを入力して「登録」を押してください。");
}
