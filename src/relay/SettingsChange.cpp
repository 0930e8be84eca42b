#include "relay/SettingsChange.h"

#include "settings/Settings.h"

QList<Relay::ListenFailure> PutSettingsInForce(Relay& relay, Settings& inForce, Settings next) {
    const QList<Relay::ListenFailure> failures = relay.ListenAgain(next);
    for (const Relay::ListenFailure& failure : failures) {
        if (failure.implicitTls) {
            next.clientTls.implicitPort = inForce.clientTls.implicitPort;
        } else {
            next.listen = inForce.listen;
        }
    }
    relay.KeepSettingsForSessions();
    inForce = std::move(next);
    return failures;
}
