#include "settings/ClientLimits.h"

#include "settings/OptionKeys.h"
#include "settings/OptionValues.h"
#include "settings/OptionsFile.h"

ClientLimits ReadClientLimits() {
    const auto file = OpenOptionsFile();
    return ClientLimits{
        ParseCountValue(OptionText(*file, OptionKeys::ClientLimit.Path()), MaxClientLimit),
        ParseCountValue(OptionText(*file, OptionKeys::IdleTimeout.Path()), MaxIdleTimeoutSeconds)};
}
