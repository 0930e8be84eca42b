#include "gui/TlsFailureText.h"

#include <QHash>
#include <QStringList>

QString JapaneseTlsReason(const QString& reason) {
    static const QHash<QString, QString> japanese = {
        {TlsReason::Expired, QStringLiteral("証明書の有効期限が切れています")},
        {TlsReason::NotYetValid, QStringLiteral("証明書の有効期間がまだ始まっていません")},
        {TlsReason::OtherHost, QStringLiteral("証明書が別のホスト名のものです")},
        {TlsReason::SelfSigned, QStringLiteral("証明書が自己署名で、信頼されていません")},
        {TlsReason::UntrustedIssuer,
         QStringLiteral("証明書が信頼できる認証局から発行されていません")},
        {TlsReason::Revoked, QStringLiteral("証明書が失効しています")},
        {TlsReason::NotPinned, QStringLiteral("信頼すると登録した証明書ではありません")},
        {TlsReason::ConnectionRefused, QStringLiteral("メールサーバーが接続を拒否しました")},
        {TlsReason::NoStls, QStringLiteral("メールサーバーが STLS に対応していません")},
        {TlsReason::StlsRefused, QStringLiteral("メールサーバーが STLS を拒否しました")},
        {TlsReason::DataAfterStls,
         QStringLiteral("メールサーバーが STLS の直後に余分なデータを送ってきました")},
    };
    QStringList parts;
    for (const QString& part : reason.split(TlsReason::Separator)) {
        parts.append(japanese.value(part, part));
    }
    return parts.join(QStringLiteral("。")) + QStringLiteral("。");
}

QString TlsRefusalMessage(const TlsFailure& failure) {
    return QStringLiteral("メールサーバー %1:%2 との暗号化接続を中止しました。\n理由: %3")
        .arg(failure.host)
        .arg(failure.port)
        .arg(JapaneseTlsReason(failure.reason));
}
