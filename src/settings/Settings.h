#pragma once

#include "platform/Pop3Ports.h"
#include "platform/ServerSocket.h"
#include "platform/TlsTrust.h"
#include "settings/ClientLimits.h"
#include "settings/ClientTlsSetting.h"
#include "settings/ListenSetting.h"
#include "settings/LogSetting.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

// The most each step toward the mail server before the login may take: the connection, its
// greeting, each reply of the STLS exchange, the TLS handshake. A server that stalls one of them
// must not hold the mail client for longer.
inline constexpr int DefaultServerStepTimeoutMs = 30 * 1000;

// A mail server and how to reach it. The default account's host is the one line of
// Quorlin.ini and takes every login name no other account claims; the others come from the
// options file's [Account...] sections or --account.
struct Account {
    // The name the mail client logs in with, as it sends it (letter case counts); empty for the
    // default account.
    QString login;
    QString host;
    SecurityMode security = SecurityMode::None;
    quint16 port = PlainPop3Port;
    QString caFile;
    QList<QSslCertificate> caCertificates; // read from caFile when it was set
    QList<QByteArray> pinnedFingerprints;  // this run's (--trust-fingerprint), never saved
    // The user name the server knows; empty: the login name as the client sent it.
    QString serverUser;
    // A port of its own: a client there goes to this account whatever name it logs in with.
    quint16 listenPort = 0;
};

// Everything Quorlin is set to do, as plain values: loaded from and saved to the settings files
// by this folder, owned by whoever runs the program (the desktop session or the headless
// runner), edited by the window and read by the relay where it needs a value (the host at every
// connection to the server, the blocked list and the unlabelled-mail rule at every inspection),
// so that an edit applies at once.
struct Settings {
    QList<Account> accounts{Account{}};
    Account& DefaultAccount() { return accounts.first(); }
    const Account& DefaultAccount() const { return accounts.first(); }
    bool HasAccounts() const { return accounts.size() > 1; }
    // The account a login name goes to, by its index: the one whose login is exactly this
    // name, or the default account (0).
    int AccountFor(const QString& login) const {
        for (int index = 1; index < accounts.size(); ++index) {
            if (accounts[index].login == login) {
                return index;
            }
        }
        return 0;
    }

    // Certificates the user trusts per server host, as saved under [TrustedCertificates].
    QHash<QString, QList<QByteArray>> trustedCertificates;
    QList<QByteArray> TrustedFor(const QString& host) const {
        return trustedCertificates.value(TrustedCertificatesKey(host));
    }
    // The key a host's certificates are kept under: the host name in lower case, "[::1]" and
    // "::1" being one host, as for the connection.
    static QString TrustedCertificatesKey(const QString& host) {
        return HostWithoutBrackets(host).trimmed().toLower();
    }

    // Mail declaring one of these character sets (Quorlin_BatList.ini) gets the tag.
    QStringList blockedCharsets;
    // Mail declaring no character set gets the tag too (the window's box, ticked from the start).
    bool tagUnlabelled = true;
    // [Tagging]: the charsets of encoded words in Subject and From, and every charset line of
    // the message's start, count; tagged mail gets "X-Quorlin-Charset:".
    bool encodedWords = false;
    bool charsetHeader = false;

    LogSetting log;

    ListenSetting listen;
    // TLS and SASL toward the mail clients, and the certificate they are shown: null when there
    // is none, and STLS and the implicit-TLS port are then not offered.
    ClientTlsSetting clientTls;
    TlsIdentity clientIdentity;
    bool ClientTlsReady() const { return clientTls.enabled && !clientIdentity.IsNull(); }
    int maxClients = DefaultMaxClients;
    int idleTimeoutMs = DefaultIdleTimeoutMs;
    int serverStepTimeoutMs = DefaultServerStepTimeoutMs;
};
