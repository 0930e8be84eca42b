#pragma once

#include "relay/Relay.h"

struct Settings;

// Puts settings read again in force (SIGHUP, the settings dialog's OK): the conversations going
// on finish with those they started with, a changed listen address or port is listened on anew,
// the accounts' own ports follow the accounts, and the rest applies from the next client on.
// Where a new address or port cannot be had, the relay listens where it did, the setting in
// force for it stays, and the failure comes back.
QList<Relay::ListenFailure> PutSettingsInForce(Relay& relay, Settings& inForce, Settings next);
