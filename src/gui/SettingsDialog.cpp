#include "gui/SettingsDialog.h"

#include "app/AppOptions.h"
#include "gui/AccountsBox.h"
#include "gui/ClientTlsBox.h"
#include "gui/PortSpinBox.h"
#include "gui/ServerSecurityBox.h"
#include "gui/SettingsProblemText.h"
#include "platform/ProgramFiles.h"
#include "settings/AccountsFile.h"
#include "settings/AutostartEntry.h"
#include "settings/FileErrorMessages.h"
#include "settings/ListenSetting.h"
#include "settings/LogSetting.h"
#include "settings/OptionValues.h"
#include "settings/ServerSecurity.h"
#include "settings/TaggingOptions.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

const QString SettingsDialog::Title = QStringLiteral("設定");
const QString SettingsDialog::CommandLineMark = QStringLiteral(" ＊");

SettingsDialog::SettingsDialog(const Settings& inForce, AppOptions& options, QWidget* parent)
    : QDialog(parent), commandLine(options) {
    setObjectName(QStringLiteral("SettingsDialog"));
    setWindowTitle(Title);

    security = new ServerSecurityBox(this);
    const Account& account = inForce.DefaultAccount();
    ServerSecurity serverSecurity{account.security, std::nullopt, account.caFile};
    if (account.port != DefaultServerPort(account.security)) {
        serverSecurity.port = account.port;
    }
    security->SetValue(serverSecurity);
    security->MarkFromCommandLine(options.security.has_value(),
                                  options.security || options.serverPort,
                                  options.caFile.has_value(), CommandLineMark);
    anyFromCommandLine = options.security || options.serverPort || options.caFile;

    clientTls = new ClientTlsBox(this);
    clientTls->SetValue(inForce.clientTls);
    clientTls->ShowCertificate(inForce.clientIdentity);
    clientTls->MarkFromCommandLine(options.clientTls.has_value(), options.clientTlsPort.has_value(),
                                   options.clientCertificateFile.has_value(), CommandLineMark);
    anyFromCommandLine = anyFromCommandLine || options.clientTls || options.clientTlsPort ||
                         options.clientCertificateFile;

    // Two pages, so that the dialog fits a small screen at 125 %: the connections, the tagging
    // and the log in two columns, and TLS toward the mail clients, whose certificate lines are
    // as wide as a page.
    auto* connections = new QVBoxLayout;
    connections->addWidget(ListenBox(inForce));
    connections->addWidget(security);
    connections->addStretch();
    auto* rest = new QVBoxLayout;
    rest->addWidget(TaggingBox(inForce));
    rest->addWidget(LogAndStartBox(inForce));
    rest->addStretch();
    auto* general = new QWidget(this);
    auto* columns = new QHBoxLayout(general);
    columns->addLayout(connections);
    columns->addLayout(rest);
    auto* pages = new QTabWidget(this);
    pages->addTab(general, QStringLiteral("全般"));
    pages->addTab(clientTls, QStringLiteral("メーラーとの TLS"));
    accounts = new AccountsBox(this);
    accounts->SetAccounts(inForce.accounts.mid(1));
    pages->addTab(accounts, QStringLiteral("アカウント"));

    auto* note = new QLabel(QStringLiteral("＊ 起動オプションで指定された、今回だけの値です。"
                                           "変更すると保存され、すぐに使われます。"),
                            this);
    note->setObjectName(QStringLiteral("CommandLineNote"));
    note->setWordWrap(true);
    note->setVisible(anyFromCommandLine);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pages);
    layout->addWidget(note);
    layout->addWidget(buttons);

    shown = {listenPort->value(),       listenAddress->text().trimmed(), security->Value(),
             clientTls->Value(),        encodedWords->isChecked(),       charsetHeader->isChecked(),
             logFile->text().trimmed(), startAtLogin->isChecked(),       accounts->Accounts()};
}

QLabel* SettingsDialog::Caption(const QString& text, bool fromCommandLine) {
    anyFromCommandLine = anyFromCommandLine || fromCommandLine;
    return new QLabel(fromCommandLine ? text + CommandLineMark : text, this);
}

QWidget* SettingsDialog::ListenBox(const Settings& inForce) {
    listenPort = new PortSpinBox(this);
    listenPort->setObjectName(QStringLiteral("ListenPort"));
    listenPort->setValue(inForce.listen.port);
    listenPort->setToolTip(
        QStringLiteral("メーラーが接続するポートです。1024 未満には特別な権限が必要です。"));

    listenAddress = new QLineEdit(this);
    listenAddress->setObjectName(QStringLiteral("ListenAddress"));
    listenAddress->setPlaceholderText(QStringLiteral("すべてのアドレス"));
    if (inForce.listen.address != QHostAddress(QHostAddress::Any)) {
        listenAddress->setText(inForce.listen.address.toString());
    }
    listenAddress->setToolTip(QStringLiteral(
        "このマシンのメーラーだけなら localhost (127.0.0.1 と ::1)、空欄ならすべてのアドレスで"
        "待ち受けます。"));

    auto* box = new QGroupBox(QStringLiteral("メーラーからの接続"), this);
    auto* form = new QFormLayout(box);
    form->addRow(Caption(QStringLiteral("待ち受けポート"), commandLine.listenPort.has_value()),
                 listenPort);
    form->addRow(Caption(QStringLiteral("待ち受けアドレス"), commandLine.listenAddress.has_value()),
                 listenAddress);
    return box;
}

QWidget* SettingsDialog::TaggingBox(const Settings& inForce) {
    encodedWords = new QCheckBox(QStringLiteral("符号化された件名・差出人の文字コードも調べる") +
                                     (commandLine.tagEncodedWords ? CommandLineMark : QString()),
                                 this);
    anyFromCommandLine = anyFromCommandLine || commandLine.tagEncodedWords;
    encodedWords->setObjectName(QStringLiteral("EncodedWords"));
    encodedWords->setChecked(inForce.encodedWords);
    encodedWords->setToolTip(
        QStringLiteral("件名や差出人の符号化された部分の文字コードと、メールの先頭にあるすべての"
                       "文字コード指定を、受け取りたくない文字コードリストと比べます。"));
    charsetHeader = new QCheckBox(QStringLiteral("X-Quorlin-Charset ヘッダーを付ける"), this);
    charsetHeader->setObjectName(QStringLiteral("CharsetHeader"));
    charsetHeader->setChecked(inForce.charsetHeader);
    charsetHeader->setToolTip(
        QStringLiteral("印を付けたメールに、見つかった文字コードを書いたヘッダーを加えます。"));

    auto* box = new QGroupBox(QStringLiteral("印を付けるメール"), this);
    auto* column = new QVBoxLayout(box);
    column->addWidget(encodedWords);
    column->addWidget(charsetHeader);
    return box;
}

QWidget* SettingsDialog::LogAndStartBox(const Settings& inForce) {
    logFile = new QLineEdit(inForce.log.file, this);
    logFile->setObjectName(QStringLiteral("LogFile"));
    logFile->setPlaceholderText(QStringLiteral("ログファイルなし"));
    logFile->setToolTip(
        QStringLiteral("サーバーとメーラーのやりとりを時刻付きで書き足すファイルです。"));
    auto* browse = new QToolButton(this);
    browse->setText(QStringLiteral("…"));
    connect(browse, &QToolButton::clicked, this, [this] {
        const QString chosen =
            QFileDialog::getSaveFileName(this, QStringLiteral("ログファイル"), logFile->text(),
                                         QStringLiteral("ログ (*.log);;すべてのファイル (*)"),
                                         nullptr, QFileDialog::DontConfirmOverwrite);
        if (!chosen.isEmpty()) {
            logFile->setText(chosen);
        }
    });
    auto* logRow = new QHBoxLayout;
    logRow->addWidget(logFile);
    logRow->addWidget(browse);

    startAtLogin = new QCheckBox(QStringLiteral("ログイン時に起動"), this);
    startAtLogin->setObjectName(QStringLiteral("StartAtLogin"));
    startAtLogin->setChecked(AutostartEntryExists(AutostartEntryPath()));
    startAtLogin->setToolTip(
        QStringLiteral("ログインするとこの設定フォルダーで起動し、トレイで待ちます。"));

    auto* box = new QGroupBox(QStringLiteral("ログと起動"), this);
    auto* form = new QFormLayout(box);
    form->addRow(Caption(QStringLiteral("ログファイル"), commandLine.logFile.has_value()), logRow);
    form->addRow(startAtLogin);
    return box;
}

bool SettingsDialog::Refused(const QString& message) {
    QMessageBox::warning(this, Title, message);
    return false;
}

void SettingsDialog::accept() {
    if (WriteChanges()) {
        QDialog::accept();
    }
}

// Checks everything before anything is written, then writes each change; the first failure
// stops with the dialog open, what was written before it staying written.
bool SettingsDialog::WriteChanges() {
    const QString addressText = listenAddress->text().trimmed();
    const std::optional<QHostAddress> address = ParseAddressValue(addressText);
    if (!address) {
        return Refused(QStringLiteral("「%1」は localhost でも IP アドレスでもありません。空欄に"
                                      "するとすべてのアドレスで待ち受けます。")
                           .arg(addressText));
    }
    const ServerSecurity chosen = security->Value();
    if (chosen.mode != SecurityMode::None && !chosen.caFile.isEmpty()) {
        if (const auto problem = ReadCaFile(chosen.caFile).problem) {
            return Refused(CaFileWindowMessage(*problem) +
                           QStringLiteral("\n証明書のファイルを選び直すか、空欄にしてください。"));
        }
    }
    const ClientTlsSetting tls = clientTls->Value();
    if (tls.certificateFile != shown.clientTls.certificateFile ||
        tls.keyFile != shown.clientTls.keyFile) {
        if (tls.certificateFile.isEmpty() != tls.keyFile.isEmpty()) {
            return Refused(QStringLiteral("証明書と秘密鍵は両方とも選ぶか、両方とも空欄にしてくだ"
                                          "さい（空欄なら Quorlin が作った証明書を使います）。"));
        }
        if (!tls.certificateFile.isEmpty()) {
            const Result<TlsIdentity> read = ReadTlsIdentity(tls.certificateFile, tls.keyFile);
            if (!read) {
                return Refused(QStringLiteral("証明書と秘密鍵を使えません。\n%1: %2")
                                   .arg(QDir::toNativeSeparators(read.Where()), read.Error()));
            }
        }
    }
    for (const Account& account : accounts->Accounts()) {
        if (account.security == SecurityMode::None || account.caFile.isEmpty()) {
            continue;
        }
        if (const auto problem = ReadCaFile(account.caFile).problem) {
            return Refused(CaFileWindowMessage(*problem) +
                           QStringLiteral("\nアカウント %1 の証明書のファイルを選び直すか、"
                                          "空欄にしてください。")
                               .arg(account.login));
        }
    }
    const QString logText = logFile->text().trimmed();

    const auto written = [this](const Result<>& result) {
        return result.Ok() || Refused(WriteFailureMessage(result.Where(), result.Error()));
    };
    if (listenPort->value() != shown.listenPort) {
        if (!written(SaveListenPort(static_cast<quint16>(listenPort->value())))) {
            return false;
        }
        commandLine.listenPort.reset();
    }
    if (addressText != shown.listenAddress) {
        if (!written(SaveListenAddress(*address))) {
            return false;
        }
        commandLine.listenAddress.reset();
    }
    // The mode, the port and the CA file are one choice: a port belongs to its mode.
    if (chosen.mode != shown.security.mode ||
        chosen.EffectivePort() != shown.security.EffectivePort() ||
        chosen.caFile != shown.security.caFile) {
        if (!written(SaveServerSecurity(chosen))) {
            return false;
        }
        commandLine.security.reset();
        commandLine.serverPort.reset();
        commandLine.caFile.reset();
    }
    if (!WriteClientTlsChanges()) {
        return false;
    }
    if (encodedWords->isChecked() != shown.encodedWords) {
        if (!written(SaveTaggingOption(OptionKeys::EncodedWords, encodedWords->isChecked()))) {
            return false;
        }
        commandLine.tagEncodedWords.reset();
    }
    if (charsetHeader->isChecked() != shown.charsetHeader &&
        !written(SaveTaggingOption(OptionKeys::CharsetHeader, charsetHeader->isChecked()))) {
        return false;
    }
    if (logText != shown.logFile) {
        // A relative path is in the settings folder, as the options file takes it.
        const QString logPath =
            logText.isEmpty() ? QString() : QDir(SettingsDirectory()).absoluteFilePath(logText);
        if (!written(SaveLogFile(logPath))) {
            return false;
        }
        commandLine.logFile.reset();
    }
    // The table as the user left it, accounts this run's command line gave included: what the
    // user sees in the table is what is kept.
    if (accounts->ChangedFrom(shown.accounts)) {
        if (!written(SaveAccounts(accounts->Accounts()))) {
            return false;
        }
        commandLine.accounts.clear();
    }
    if (startAtLogin->isChecked() != shown.startAtLogin) {
        const QString entry = AutostartEntryPath();
        const QString folder = QFileInfo(SettingsDirectory()).absoluteFilePath();
        if (!written(
                startAtLogin->isChecked()
                    ? WriteAutostartEntry(entry, QCoreApplication::applicationFilePath(), folder)
                    : RemoveAutostartEntry(entry))) {
            return false;
        }
    }
    return true;
}

// Only the fields the user changed go into the file: the others may be this run's command line.
bool SettingsDialog::WriteClientTlsChanges() {
    const ClientTlsSetting chosen = clientTls->Value();
    const ClientTlsSetting& was = shown.clientTls;
    if (chosen == was) {
        return true;
    }
    const Result<> written = SaveClientTlsChanges(was, chosen);
    if (!written) {
        return Refused(WriteFailureMessage(written.Where(), written.Error()));
    }
    if (chosen.enabled != was.enabled) {
        commandLine.clientTls.reset();
    }
    if (chosen.implicitPort != was.implicitPort) {
        commandLine.clientTlsPort.reset();
    }
    if (chosen.certificateFile != was.certificateFile || chosen.keyFile != was.keyFile) {
        commandLine.clientCertificateFile.reset();
        commandLine.clientKeyFile.reset();
    }
    return true;
}
