#include "settings/ListenSetting.h"

#include "settings/OptionKeys.h"
#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"

namespace {

const QString PortKey = OptionKeys::ListenPort.Path();
const QString AddressKey = OptionKeys::ListenAddress.Path();

} // namespace

QList<QHostAddress> ListenAddresses(const QHostAddress& address) {
    if (address == QHostAddress(QHostAddress::LocalHost)) {
        return {address, QHostAddress(QHostAddress::LocalHostIPv6)};
    }
    return {address};
}

ListenSetting LoadListenSetting() {
    ListenSetting setting;
    const std::unique_ptr<QSettings> file = OpenOptionsFile();
    setting.port = ParsePortValue(OptionText(*file, PortKey)).value_or(setting.port);
    setting.address = ParseAddressValue(OptionText(*file, AddressKey)).value_or(setting.address);
    return setting;
}

namespace {

void SetPort(QSettings& file, quint16 port) {
    file.setValue(PortKey, port);
}

void SetAddress(QSettings& file, const QHostAddress& address) {
    file.setValue(AddressKey,
                  address == QHostAddress(QHostAddress::Any) ? QString() : address.toString());
}

} // namespace

Result<> SaveListenSetting(const ListenSetting& setting) {
    return EditOptionsFile([&setting](QSettings& file) {
        SetPort(file, setting.port);
        SetAddress(file, setting.address);
    });
}

Result<> SaveListenPort(quint16 port) {
    return EditOptionsFile([port](QSettings& file) { SetPort(file, port); });
}

Result<> SaveListenAddress(const QHostAddress& address) {
    return EditOptionsFile([&address](QSettings& file) { SetAddress(file, address); });
}
