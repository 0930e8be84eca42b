#include "shell/SavedOptions.h"

#include "settings/ListenSetting.h"

void ApplySavedListenSetting(AppOptions& options) {
    const ListenSetting saved = LoadListenSetting();
    if (!options.listenPortGiven) {
        options.listenPort = saved.port;
    }
    if (!options.listenAddressGiven) {
        options.listenAddress = saved.address;
    }
}
