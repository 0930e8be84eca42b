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

FileResult SaveListenSetting(const ListenSetting& setting) {
    FileResult result;
    result.path = OptionsFilePath();
    const std::unique_ptr<QSettings> file = OpenOptionsFile();
    file->setValue(PortKey, setting.port);
    file->setValue(AddressKey, setting.address == QHostAddress(QHostAddress::Any)
                                   ? QString()
                                   : setting.address.toString());
    file->sync();
    switch (file->status()) {
    case QSettings::NoError:
        break;
    case QSettings::AccessError:
        result.ok = false;
        result.error = QStringLiteral("書き込みが許可されていません。");
        break;
    case QSettings::FormatError:
        result.ok = false;
        result.error = QStringLiteral("ファイルの形式が正しくありません。");
        break;
    }
    return result;
}
