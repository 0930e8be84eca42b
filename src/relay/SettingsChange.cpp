#include "relay/SettingsChange.h"

#include "settings/Settings.h"

QList<Relay::ListenFailure> PutSettingsInForce(Relay& relay, Settings& inForce, Settings next) {
    QList<Relay::ListenFailure> failures = relay.ListenAgain(next);
    for (const Relay::ListenFailure& failure : failures) {
        if (failure.implicitTls) {
            next.clientTls.implicitPort = inForce.clientTls.implicitPort;
        } else {
            next.listen = inForce.listen;
        }
    }
    relay.KeepSettingsForSessions();
    inForce = std::move(next);
    // The accounts' own ports follow the accounts now in force.
    quint16 failedPort = 0;
    if (const Result<> listening = relay.StartAccountListening(failedPort); !listening) {
        failures.append({false, failedPort, 0, listening.Error()});
    }
    return failures;
}
