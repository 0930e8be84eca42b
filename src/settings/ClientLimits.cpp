#include "settings/ClientLimits.h"

#include "settings/OptionsFile.h"

namespace {

std::optional<int> PositiveValue(const QSettings& file, const QString& key, int most) {
    bool ok = false;
    const int value = file.value(key).toString().trimmed().toInt(&ok);
    if (!ok || value < 1 || value > most) {
        return std::nullopt;
    }
    return value;
}

} // namespace

ClientLimits ReadClientLimits() {
    const auto file = OpenOptionsFile();
    return ClientLimits{
        PositiveValue(*file, QStringLiteral("Clients/Limit"), MaxClientLimit),
        PositiveValue(*file, QStringLiteral("Clients/IdleTimeoutSeconds"), MaxIdleTimeoutSeconds)};
}
