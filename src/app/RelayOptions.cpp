#include "app/RelayOptions.h"

#include "settings/ClientLimits.h"

Relay::Options RelayOptionsFor(const AppOptions& options) {
    const ClientLimits saved = ReadClientLimits();
    Relay::Options relayOptions{options.serverPort, options.listenPort, options.listenAddress};
    relayOptions.maxClients =
        options.maxClients.value_or(saved.maxClients.value_or(Relay::DefaultMaxClients));
    const std::optional<int> idleSeconds =
        options.idleTimeoutSeconds ? options.idleTimeoutSeconds : saved.idleTimeoutSeconds;
    relayOptions.idleTimeoutMs = idleSeconds ? *idleSeconds * 1000 : DefaultIdleTimeoutMs;
    return relayOptions;
}
