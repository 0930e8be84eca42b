#include "app/SavedOptions.h"

#include "platform/ProgramFiles.h"
#include "settings/ListenSetting.h"

AppOptions WithSavedListenSetting(AppOptions options) {
    if (options.configDir) {
        SetSettingsDirectory(*options.configDir);
    }
    const ListenSetting saved = LoadListenSetting();
    if (!options.listenPortGiven) {
        options.listenPort = saved.port;
    }
    if (!options.listenAddressGiven) {
        options.listenAddress = saved.address;
    }
    return options;
}
