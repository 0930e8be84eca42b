#pragma once

#include "app/AppOptions.h"
#include "gui/Notify_Module.h"
#include "relay/Relay.h"
#include "relay/RelayView.h"
#include "settings/SettingsView.h"
#include "settings/VirtualKey.h"

#include <QSystemTrayIcon>
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

namespace Shell {

// The one window of the program. It owns the relay and every control, and stands in for the
// relay and the settings logic wherever they need the user: the server box, the logs, the
// blocked list, the option, the tray picture and the questions.
//
// Closing it only hides it; the program ends from the tray menu. Where the desktop has no
// system tray a hidden window could not be brought back, so there the window is never hidden
// and closing it ends the program.
//
// In a namespace because X11's headers, which Qt's application headers pull in, declare a
// Display of their own.
class Display : public QWidget, public RelayView, public SettingsView {
    Q_OBJECT

public:
    static const QString BaseCaption;
    static const QString ClientGoneMessage;

    explicit Display(const AppOptions& options,
                     bool systemTrayAvailable = QSystemTrayIcon::isSystemTrayAvailable(),
                     QWidget* parent = nullptr);
    ~Display() override;

    // The start-up sequence. False when listening failed; the user has been told why, and
    // RetryWanted tells whether they changed the listen setting to start again with it.
    bool Form_Load();
    bool RetryWanted() const { return retryWanted; }

    QString Text1() const override;
    void SetText1(const QString& text) override;
    void List1AddLines(QByteArrayView lines) override;
    void List2AddLines(QByteArrayView lines) override;
    void List1Clear() override;
    void List2Clear() override;
    QStringList List3Items() const override;
    void List3AddItem(const QString& entry) override;
    void List3RemoveItem(int index) override;
    int List3FirstSelected() const override;
    int Check1Value() const override;
    void ShowWindow() override;
    void HideWindow() override;
    void TraySetImage(TrayPicture picture) override;
    void ConsoleClient(int number) override;
    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultAnswer) override;
    void ReportFileError(const QString& message) override;

    void Command1_Click(int index);
    void Text2_KeyDown(int index, VirtualKey key);
    void Text2_GotFocus(int index);
    void Command2_Click();
    void Text1_KeyDown(VirtualKey key);
    void List3_KeyDown(VirtualKey key);
    void FShow_Click();
    void FEnd_Click();
    // The settings dialog, from the window's button, its context menu or the tray menu. True
    // when the user saved.
    bool OpenSettings();
    // The window brought back by the user (tray double-click, 表示): restored from minimised,
    // raised and given the keyboard, unlike ShowWindow for a mail check.
    void ShowFromUser();

    Relay& RelayCore() { return relay; }
    Notify_Module& Tray() { return notify; }
    QMenu& SysTray() { return *sysTray; }
    LogListModel& List1Model() { return *list1Model; }
    LogListModel& List2Model() { return *list2Model; }

Q_SIGNALS:
    // The program is to end now with this status; sockets and icon are already gone.
    void ProgramEnded(int status);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void SetTabOrder();
    void ConnectEvents();
    void PlaceBottomRight();
    void ShowMessage(const QString& text);
    // A note of Quorlin's own in the server log, where the user looks for what went wrong.
    void LogNote(const QString& text);
    void ReportServerFailure(const QString& reason);
    void ReportListenFailure(const QString& reason);
    void Reveal();
    void ShowWithoutActivating(bool on);
    void EndProgram(int status);
    void ReleaseSessionResources();

    const AppOptions options;
    Notify_Module notify;
    Relay relay;

    // Closes are no longer refused: the program or the session is ending.
    bool ending = false;
    bool retryWanted = false;

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
