#pragma once

#include <QString>

// The keys of the options file (Quorlin_Options.ini), each named once here: loading, saving and
// checking a value all go by these.
struct OptionKey {
    QString group;
    QString name;
    // "Group/Name", as QSettings addresses a key inside a section.
    QString Path() const { return group + QLatin1Char('/') + name; }
};

namespace OptionKeys {
inline const OptionKey ServerSecurity{QStringLiteral("Server"), QStringLiteral("Security")};
inline const OptionKey ServerPort{QStringLiteral("Server"), QStringLiteral("Port")};
inline const OptionKey ServerCaFile{QStringLiteral("Server"), QStringLiteral("CaFile")};
inline const QString TrustedCertificates = QStringLiteral("TrustedCertificates");
inline const OptionKey ListenPort{QStringLiteral("Listen"), QStringLiteral("Port")};
inline const OptionKey ListenAddress{QStringLiteral("Listen"), QStringLiteral("Address")};
inline const OptionKey ClientLimit{QStringLiteral("Clients"), QStringLiteral("Limit")};
inline const OptionKey IdleTimeout{QStringLiteral("Clients"), QStringLiteral("IdleTimeoutSeconds")};
inline const OptionKey ClientTlsEnabled{QStringLiteral("ClientTls"), QStringLiteral("Enabled")};
inline const OptionKey ClientTlsPort{QStringLiteral("ClientTls"), QStringLiteral("Port")};
inline const OptionKey ClientTlsCertificate{QStringLiteral("ClientTls"),
                                            QStringLiteral("Certificate")};
inline const OptionKey ClientTlsKey{QStringLiteral("ClientTls"), QStringLiteral("Key")};
inline const OptionKey EncodedWords{QStringLiteral("Tagging"), QStringLiteral("EncodedWords")};
inline const OptionKey CharsetHeader{QStringLiteral("Tagging"), QStringLiteral("CharsetHeader")};
inline const OptionKey LogFile{QStringLiteral("Log"), QStringLiteral("File")};
inline const OptionKey LogMaxBytes{QStringLiteral("Log"), QStringLiteral("MaxBytes")};
inline const OptionKey LogKeptFiles{QStringLiteral("Log"), QStringLiteral("KeptFiles")};
} // namespace OptionKeys
