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
