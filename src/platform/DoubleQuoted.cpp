#include "platform/DoubleQuoted.h"

QString DoubleQuoted(const QString& text) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\' || c == u'$' || c == u'`') {
            quoted += u'\\';
        }
        quoted += c;
    }
    return quoted + u'"';
}
