#include "settings/FileErrorMessages.h"

#include <QDir>

namespace {

QString Message(const QString& what, const QString& path, const QString& reason) {
    return what + QLatin1Char('\n') + QDir::toNativeSeparators(path) + QLatin1Char('\n') + reason;
}

} // namespace

QString ReadFailureMessage(const QString& path, const QString& reason) {
    return Message(QStringLiteral("設定ファイルを読み込めませんでした。"), path, reason);
}

QString WriteFailureMessage(const QString& path, const QString& reason) {
    return Message(QStringLiteral("設定ファイルに書き込めませんでした。"), path, reason);
}

QString UnusableSettingText(int lineNumber, const QString& entry, const QString& reason) {
    const QString problem = QStringLiteral("%1: %2").arg(entry, reason);
    return lineNumber > 0 ? QStringLiteral("%1 行目 %2").arg(lineNumber).arg(problem) : problem;
}

QString UnusableSettingsMessage(const QString& path, const QStringList& problems) {
    return Message(QStringLiteral("設定ファイルに使えない値があります。使わずに続けます。"), path,
                   problems.join(QLatin1Char('\n')));
}
