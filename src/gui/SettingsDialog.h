#pragma once

#include "settings/ClientTlsSetting.h"
#include "settings/ServerSecurity.h"
#include "settings/Settings.h"

#include <QDialog>

class AccountsBox;
class ClientTlsBox;
class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class ServerSecurityBox;
struct AppOptions;
struct Settings;

// The options beyond the server host and the blocked list: where Quorlin waits for the mail
// client and TLS toward it, how it reaches the mail server, how far the tagging looks, a log file
// and the start at login. It opens with the settings in force and marks those this run's command
// line gave. OK writes what the user changed, and only that: a value the command line gave and the
// user left alone stays this run's and is not saved; one the user changed is saved and wins over
// the command line for the rest of the run. A value that cannot be used, or a file that cannot be
// written, is told and the dialog stays open. The caller reads the files again after OK.
class SettingsDialog : public QDialog {
    Q_OBJECT

public:
    static const QString Title;
    // Behind the caption of a value the command line gave.
    static const QString CommandLineMark;

    SettingsDialog(const Settings& inForce, AppOptions& commandLine, QWidget* parent = nullptr);

    void accept() override;

private:
    QWidget* ListenBox(const Settings& inForce);
    QWidget* TaggingBox(const Settings& inForce);
    QWidget* LogAndStartBox(const Settings& inForce);
    QLabel* Caption(const QString& text, bool fromCommandLine);
    bool Refused(const QString& message);
    bool WriteChanges();
    bool WriteClientTlsChanges();

    // What the boxes showed when the dialog opened: the user changed what differs at OK.
    struct Shown {
        int listenPort = 0;
        QString listenAddress;
        ServerSecurity security;
        ClientTlsSetting clientTls;
        bool encodedWords = false;
        bool charsetHeader = false;
        QString logFile;
        bool startAtLogin = false;
        QList<Account> accounts;
    };

    AppOptions& commandLine;
    Shown shown;
    QSpinBox* listenPort = nullptr;
    QLineEdit* listenAddress = nullptr;
    ServerSecurityBox* security = nullptr;
    ClientTlsBox* clientTls = nullptr;
    QCheckBox* encodedWords = nullptr;
    QCheckBox* charsetHeader = nullptr;
    QLineEdit* logFile = nullptr;
    QCheckBox* startAtLogin = nullptr;
    AccountsBox* accounts = nullptr;
    bool anyFromCommandLine = false;
};
