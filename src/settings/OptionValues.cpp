#include "settings/OptionValues.h"

#include <QStringList>

QString OptionText(const QSettings& file, const QString& key) {
    const QVariant value = file.value(key);
    return value.typeId() == QMetaType::QStringList
               ? value.toStringList().join(QStringLiteral(", "))
               : value.toString();
}

std::optional<quint16> ParsePortValue(const QString& text) {
    bool ok = false;
    const uint port = text.trimmed().toUInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        return std::nullopt;
    }
    return static_cast<quint16>(port);
}

std::optional<quint16> ParsePortOrNone(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("0")) {
        return quint16(0);
    }
    return ParsePortValue(trimmed);
}

std::optional<int> ParseCountValue(const QString& text, int most) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 1 || value > most) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> ParseSwitch(const QString& text) {
    const QString word = text.trimmed().toLower();
    for (const auto& [on, off] : {std::pair{"true", "false"}, std::pair{"yes", "no"},
                                  std::pair{"on", "off"}, std::pair{"1", "0"}}) {
        if (word == QLatin1String(on)) {
            return true;
        }
        if (word == QLatin1String(off)) {
            return false;
        }
    }
    return std::nullopt;
}

std::optional<QHostAddress> ParseAddressValue(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return QHostAddress(QHostAddress::Any);
    }
    if (trimmed.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        return QHostAddress(QHostAddress::LocalHost);
    }
    const QHostAddress address(trimmed);
    if (address.isNull()) {
        return std::nullopt;
    }
    return address;
}
