#pragma once

#include "gui/TrayIcon.h"
#include "gui/VirtualKey.h"
#include "relay/RelayView.h"
#include "settings/SettingsUser.h"

#include <QWidget>
#include <array>

class LogListModel;
class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QMenu;
class QPushButton;
class Relay;
struct AppOptions;
struct Settings;

namespace Shell {

// The one window of the program. It holds every control: it shows the settings and edits them
// (the server box, the blocked list, the option), shows what the relay asks for (the logs, the
// tray picture) and asks the settings' questions. The settings, the relay and the tray icon are
// DesktopSession's.
//
// Closing it only hides it; the program ends from the tray menu. Where the desktop has no
// system tray a hidden window could not be brought back, so there the window is never hidden
// and closing it asks for the end (EndRequested).
//
// In a namespace because X11's headers, which Qt's application headers pull in, declare a
// Display of their own.
class Display : public QWidget, public RelayView, public SettingsUser {
    Q_OBJECT

public:
    static const QString BaseCaption;
    static const QString ClientGoneMessage;

    Display(Settings& settings, TrayIcon& tray, QWidget* parent = nullptr);
    ~Display() override;

    // The relay whose console the window's controls work, and this run's command line, which
    // the settings dialog shows and may override; set once, before the window is loaded.
    void UseRelay(Relay& relay, AppOptions& commandLine);

    // The controls show the settings as they are now.
    void ShowSettings();
    // The window's part of the start-up sequence, after the settings are loaded: the window on
    // top and placed bottom right (still hidden), the version in the caption.
    void PlaceAtStart();
    void AddVersionToCaption();
    // Start-up cannot go on (listening failed, an unknown saved setting): the user is told why
    // and may open the settings. True when they saved there, to start again with them.
    bool ReportStartFailure(const QString& message);
    // Once listening: with no server set (first-run question cancelled, or an empty saved
    // host) the window says where the server goes, and stays up unless `quietly` (started at
    // login), where the tray says it.
    void AskForServerIfNone(bool quietly = false);

    // The controls as the user sees them.
    QString Text1() const;
    QStringList List3Items() const;
    int Check1Value() const;

    void AddServerLines(QByteArrayView lines) override;
    void AddClientLines(QByteArrayView lines) override;
    void ClearServerLog() override;
    void ClearClientLog() override;
    void ShowWindow() override;
    void HideWindow() override;
    void ShowTrayPicture(TrayPicture picture) override;
    void ConsoleClient(int number) override;
    void ConsoleServer(const QString& account) override;
    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultAnswer) override;
    void ReportFileError(const QString& message) override;
    void ReportUnusableSettings(const QString& path,
                                const QList<UnusableSetting>& settings) override;

    void Command1_Click(int index);
    void Text2_KeyDown(int index, VirtualKey key);
    void Text2_GotFocus(int index);
    void Command2_Click();
    void Text1_KeyDown(VirtualKey key);
    void List3_KeyDown(VirtualKey key);
    void FShow_Click();
    void FEnd_Click();
    // The settings dialog, from the window's button, its context menu or the tray menu. True
    // when the user saved (SettingsSaved then follows).
    bool OpenSettings();
    // The caption's note of the mode, after the mode in force has changed from `before`.
    void ShowSecurityInCaption(const QString& oldSuffix);
    // The window brought back by the user (tray double-click, 表示): restored from minimised,
    // raised and given the keyboard, unlike ShowWindow for a mail check.
    void ShowFromUser();

    // The tray icon's menu (表示, 設定, 終了).
    QMenu& SysTray() { return *sysTray; }
    void ShowMessage(const QString& text);
    // A note of Quorlin's own in the server log, where the user looks for what went wrong.
    void LogNote(const QString& text);
    // The program is ending: closes are no longer refused.
    void AllowClose() { ending = true; }

Q_SIGNALS:
    // The user ended the program (終了, or the close box where there is no tray).
    void EndRequested(int status);
    // OK in the settings dialog: what the user changed is saved, to be read again.
    void SettingsSaved();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void SetTabOrder();
    void ConnectEvents();
    void PlaceBottomRight();
    // The settings dialog; forRestart when start-up failed and begins again with what is saved.
    bool EditSettings(bool forRestart);
    void PlaceWithFrame();
    void Reveal();
    void ShowWithoutActivating(bool on);
    int List3FirstSelected() const;
    void ShowBlockedList();
    QString ConsoleHint(int index) const;
    // Out of view (where a tray can bring it back), whoever had it shown.
    void Withdraw();

    Settings& settings;
    TrayIcon& notify;
    Relay* relay = nullptr;
    AppOptions* commandLine = nullptr;
    QString consoleAccount; // whose server the console's server row talks to

    // Closes are no longer refused: the program or the session is ending.
    bool ending = false;
    // The window is in view because a mail check brought it there, not the user.
    bool shownForCheck = false;
    // The window has been placed with its frame, known only since it was first on screen.
    bool placedWithFrame = false;

    QLabel* label1 = nullptr;
    QLineEdit* text1 = nullptr;
    QPushButton* command2 = nullptr;
    LogListModel* list1Model = nullptr;
    LogListModel* list2Model = nullptr;
    QListView* list1 = nullptr;
    QListView* list2 = nullptr;
    QGroupBox* frame1 = nullptr;
    std::array<QLineEdit*, 2> text2{};
    std::array<QPushButton*, 2> command1{};
    QLabel* label2 = nullptr;
    QListWidget* list3 = nullptr;
    QCheckBox* check1 = nullptr;
    QPushButton* command3 = nullptr;
    QMenu* sysTray = nullptr;
    QAction* fShow = nullptr;
    QAction* fSettings = nullptr;
    QAction* fEnd = nullptr;
};

} // namespace Shell
