#include "settings/FileErrorMessages.h"

#include <QDir>

namespace {

QString Message(const QString& what, const QString& path, const QString& reason) {
    return what + QLatin1Char('\n') + QDir::toNativeSeparators(path) + QLatin1Char('\n') + reason;
}

} // namespace

QString ReadFailureMessage(const LinesResult& result) {
    return Message(QStringLiteral("設定ファイルを読み込めませんでした。"), result.path,
                   result.error);
}

QString WriteFailureMessage(const FileResult& result) {
    return Message(QStringLiteral("設定ファイルに書き込めませんでした。"), result.path,
                   result.error);
}
