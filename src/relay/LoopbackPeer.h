#pragma once

#include <QHostAddress>

// Whether a mail client's address counts as this machine for the plain-connection AUTH rule:
// 127.0.0.0/8, ::1, and those IPv4 addresses in their v4-mapped IPv6 form (::ffff:127.x.y.z), as
// a dual-stack listener reports them. A password sent from there crosses nothing that USER and
// PASS would not; every other address (the home network, the deprecated v4-compatible
// ::127.x.y.z) does not count.
bool IsLoopbackPeer(const QHostAddress& peer);
