#pragma once

#include "platform/Result.h"
#include "settings/Settings.h"
#include "settings/UnusableSetting.h"

#include <QList>
#include <QString>
#include <QStringList>

// The accounts beside the default one, kept in the options file one section each, [Account1],
// [Account2] ... in their order, so that a person can add one by copying a section:
//   Login=bob@example.test   (the name the mail client logs in with, exactly as it sends it)
//   Host=pop.example.net
//   Security=none|tls|starttls (missing: none)
//   Port=995                 (missing: 995 for tls, 110 otherwise)
//   CaFile=/path/to/ca.pem   (authorities trusted beside the system's)
//   ServerUser=bob           (the name the server knows; missing: the login name)
//   ListenPort=1110          (a port of its own for clients that cannot choose the name)
// Certificates trusted by hand are those of [TrustedCertificates], by the account's host.
struct AccountsRead {
    QList<Account> accounts;
    // Sections left out, and CA files that cannot be read, in the order of the file.
    QList<UnusableSetting> problems;
};
AccountsRead LoadAccounts();

// Writes the accounts (without the default one) as the whole set of [Account...] sections.
Result<> SaveAccounts(const QList<Account>& accounts);
