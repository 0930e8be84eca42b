#include "platform/LogTimestamp.h"

#include <cstdlib>

QByteArray LogTimestamp(const QDateTime& when) {
    const int offset = when.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    const QString local = when.toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    return local.toLatin1() + (offset < 0 ? '-' : '+') +
           QByteArray::number(minutes / 60).rightJustified(2, '0') + ':' +
           QByteArray::number(minutes % 60).rightJustified(2, '0');
}
