#include "gui/SettingsProblemText.h"

#include "settings/OptionsFile.h"

#include <QDir>
#include <QStringList>

QString JapaneseReason(const UnusableSetting& setting) {
    switch (setting.why) {
    case UnusableSetting::Why::FileFormat:
        return QStringLiteral("[セクション] でも キー=値 でもない行です");
    case UnusableSetting::Why::NoMode:
        return QStringLiteral("メールサーバーへの接続方法 (none, tls, starttls) ではありません");
    case UnusableSetting::Why::NotASwitch:
        return QStringLiteral("オン・オフ (true か false, yes か no, on か off, 1 か 0) では"
                              "ありません");
    case UnusableSetting::Why::NotAPort:
        return QStringLiteral("ポート番号 (1〜65535) ではありません");
    case UnusableSetting::Why::NotANumber:
        return QStringLiteral("1〜%1 の整数ではありません").arg(setting.most);
    case UnusableSetting::Why::NotAnAddress:
        return QStringLiteral("IP アドレスではありません");
    case UnusableSetting::Why::NoFingerprint:
        if (!setting.fingerprint.notHexDigit.isEmpty()) {
            return QStringLiteral("「%1」は16進数の数字 (0〜9, A〜F) ではありません")
                .arg(setting.fingerprint.notHexDigit);
        }
        return QStringLiteral("16進数が %1 桁です (SHA-256 の指紋は %2 桁)")
            .arg(setting.fingerprint.digits)
            .arg(FingerprintProblem::DigitsWanted);
    case UnusableSetting::Why::NoLoginName:
        return QStringLiteral("Login のないアカウントです。使いません");
    case UnusableSetting::Why::NoHost:
        return QStringLiteral("Host のないアカウントです。使いません");
    case UnusableSetting::Why::LoginTaken:
        return QStringLiteral("前のアカウントと同じログイン名です。使いません");
    case UnusableSetting::Why::AccountNoMode:
        return QStringLiteral("メールサーバーへの接続方法 (none, tls, starttls) ではありません。"
                              "このアカウントは使いません");
    case UnusableSetting::Why::UnreadableCaFile:
        return QStringLiteral("証明書のファイルを使えません%1。このアカウントはシステムの認証局"
                              "だけを信頼します")
            .arg(setting.systemReason.isEmpty()
                     ? QString()
                     : QStringLiteral(" (%1)").arg(setting.systemReason));
    }
    return {};
}

namespace {

QStringList UnusableLines(const QList<UnusableSetting>& settings) {
    QStringList lines;
    for (const UnusableSetting& setting : settings) {
        const QString problem =
            QStringLiteral("%1: %2").arg(setting.entry, JapaneseReason(setting));
        lines.append(setting.line > 0 ? QStringLiteral("%1 行目 %2").arg(setting.line).arg(problem)
                                      : problem);
    }
    return lines;
}

} // namespace

QString UnusableSettingsWindowMessage(const QString& path, const QList<UnusableSetting>& settings) {
    return QStringLiteral("設定ファイルに使えない値があります。使わずに続けます。\n%1\n%2")
        .arg(QDir::toNativeSeparators(path), UnusableLines(settings).join(QLatin1Char('\n')));
}

QString CaFileWindowMessage(const CaFileProblem& problem) {
    const QString file = QDir::toNativeSeparators(problem.path);
    if (problem.systemReason.isEmpty()) {
        return QStringLiteral("CAファイル %1 に証明書がありません。").arg(file);
    }
    return QStringLiteral("CAファイル %1 を読み込めません。\n%2").arg(file, problem.systemReason);
}

QString ReloadRefusedWindowMessage(const ReloadProblems& problems) {
    QStringList lines{QStringLiteral("設定ファイルに使えないものがあるので、設定を読み直せません"
                                     "でした。今の設定のまま続けます。")};
    for (const ReloadProblems::UnreadableFile& file : problems.unreadable) {
        lines.append(QStringLiteral("%1 を読み込めません: %2")
                         .arg(QDir::toNativeSeparators(file.path), file.reason));
    }
    if (!problems.unusable.isEmpty()) {
        lines.append(QDir::toNativeSeparators(OptionsFilePath()));
        lines += UnusableLines(problems.unusable);
    }
    if (problems.caFile) {
        lines.append(CaFileWindowMessage(*problems.caFile));
    }
    if (!problems.clientCertificate.isEmpty()) {
        lines.append(QStringLiteral("メーラーとの TLS の証明書を用意できません: ") +
                     problems.clientCertificate);
    }
    return lines.join(QLatin1Char('\n'));
}
