#include "settings/ListenSetting.h"

#include "settings/OptionsFile.h"

namespace {

const QString PortKey = QStringLiteral("Listen/Port");
const QString AddressKey = QStringLiteral("Listen/Address");

} // namespace

ListenSetting LoadListenSetting() {
    ListenSetting setting;
    const std::unique_ptr<QSettings> file = OpenOptionsFile();
    bool ok = false;
    const uint port = file->value(PortKey).toString().trimmed().toUInt(&ok);
    if (ok && port >= 1 && port <= 65535) {
        setting.port = static_cast<quint16>(port);
    }
    const QHostAddress address(file->value(AddressKey).toString().trimmed());
    if (!address.isNull()) {
        setting.address = address;
    }
    return setting;
}

Result<> SaveListenSetting(const ListenSetting& setting) {
    return EditOptionsFile([&setting](QSettings& file) {
        file.setValue(PortKey, setting.port);
        file.setValue(AddressKey, setting.address == QHostAddress(QHostAddress::Any)
                                      ? QString()
                                      : setting.address.toString());
    });
}
