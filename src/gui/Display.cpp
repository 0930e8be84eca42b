#include "gui/Display.h"

#include "QuorlinVersion.h"
#include "app/StartupMessages.h"
#include "gui/FitText.h"
#include "gui/Placement.h"
#include "gui/ServerSecurityBox.h"
#include "gui/SettingsDialog.h"
#include "gui/SettingsKeys.h"
#include "gui/SettingsProblemText.h"
#include "gui/TrayPictureIcons.h"
#include "gui/Twips.h"
#include "gui/models/LogListModel.h"
#include "platform/Cp932.h"
#include "relay/Relay.h"
#include "settings/FileErrorMessages.h"
#include "settings/ServerSecurity.h"
#include "settings/ServerSetting.h"
#include "settings/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QWindow>
#include <memory>
#ifndef QT_NO_SESSIONMANAGER
#include <QSessionManager>
#endif

namespace Shell {

const QString Display::BaseCaption = QStringLiteral("Quorlin");
const QString Display::ClientGoneMessage = QStringLiteral("メーラーからの接続は解除されています。");

namespace {

constexpr QSize ClientArea(4710 / TwipsPerPixel, 5700 / TwipsPerPixel);
// What a list leaves between its edge and an entry's text, on either side.
constexpr int TextMargin = 4;

const QString ServerToolTip = QStringLiteral("APOPで接続するサーバーを入力してください。");
const QString ConsoleCaption = QStringLiteral("任意コマンド");
const std::array<QString, 2> ConsoleHints = {QStringLiteral("メールサーバーへのコマンド"),
                                             QStringLiteral("メーラーへのコマンド")};

// At a fractional scale (125 %) Qt rounds a list's inner area outwards over the bottom line of
// its frame, which then vanishes. The list fills its background itself, under an inner area
// that paints only the entries, and the frame stays whole.
void KeepFrameWhole(QAbstractScrollArea* list) {
    list->viewport()->setAutoFillBackground(false);
    list->setBackgroundRole(QPalette::Base);
    list->setAutoFillBackground(true);
}

template <typename Control>
Control* Place(Control* control, const QString& name, const QRect& geometry) {
    control->setObjectName(name);
    control->setGeometry(geometry);
    return control;
}

} // namespace

Display::Display(Settings& shownSettings, TrayIcon& tray, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      settings(shownSettings), notify(tray) {
    setObjectName(QStringLiteral("Display"));
    setWindowTitle(BaseCaption);
    setWindowIcon(TrayPictureIcon(TrayPicture::Idle));
    setFixedSize(ClientArea);
    BuildControls();
    SetTabOrder();
    ConnectEvents();
}

Display::~Display() = default;

void Display::UseRelay(Relay& relayCore, AppOptions& options) {
    relay = &relayCore;
    commandLine = &options;
}

void Display::BuildControls() {
    label1 = Place(new QLabel(QStringLiteral("サーバー名"), this), QStringLiteral("Label1"),
                   TwipsRect(60, 60, 1095, 255));
    label1->setToolTip(ServerToolTip);

    text1 = Place(new QLineEdit(this), QStringLiteral("Text1"), TwipsRect(1200, 0, 2115, 375));
    text1->setToolTip(ServerToolTip);

    command2 = Place(new QPushButton(QStringLiteral("登録"), this), QStringLiteral("Command2"),
                     TwipsRect(3300, 0, 495, 375));

    list1Model = new LogListModel(LogListModel::DefaultCapacity, this);
    list2Model = new LogListModel(LogListModel::DefaultCapacity, this);
    list1 = Place(new QListView(this), QStringLiteral("List1"), TwipsRect(60, 420, 4575, 1140));
    list2 = Place(new QListView(this), QStringLiteral("List2"), TwipsRect(60, 1620, 4575, 1140));
    for (auto [view, model] : {std::pair{list1, list1Model}, std::pair{list2, list2Model}}) {
        KeepFrameWhole(view);
        view->setModel(model);
        // Every line is one text row: the view need not measure a hundred thousand of them.
        view->setUniformItemSizes(true);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
    }

    frame1 = Place(new QGroupBox(ConsoleCaption, this), QStringLiteral("Frame1"),
                   TwipsRect(60, 2820, 3855, 1275));
    const std::array<int, 2> rowTops = {300, 720};
    for (int i = 0; i < 2; ++i) {
        text2[i] = Place(new QLineEdit(frame1), QStringLiteral("Text2_%1").arg(i),
                         TwipsRect(180, rowTops[i], 2475, 375));
        // The caption is a hint, never a line to send: it looks like typed text, yet the box
        // holds nothing until the user types.
        text2[i]->setPlaceholderText(ConsoleHints[i]);
        QPalette palette = text2[i]->palette();
        palette.setColor(QPalette::PlaceholderText, palette.color(QPalette::Text));
        text2[i]->setPalette(palette);
        command1[i] =
            Place(new QPushButton(QStringLiteral("送信"), frame1),
                  QStringLiteral("Command1_%1").arg(i), TwipsRect(2700, rowTops[i], 1035, 375));
        text2[i]->setProperty("Index", i);
        command1[i]->setProperty("Index", i);
    }

    // The blocked list's caption and the option take the window's whole width: in the narrower
    // boxes of the original layout their captions fit only in a smaller font.
    label2 = Place(new QLabel(QStringLiteral("受け取りたくない文字コードリスト"), this),
                   QStringLiteral("Label2"), TwipsRect(60, 4200, 4575, 255));

    list3 = Place(new QListWidget(this), QStringLiteral("List3"), TwipsRect(60, 4500, 4575, 780));
    list3->setToolTip(QStringLiteral("[Ins]で登録[Del]で削除できます。"));
    list3->setSortingEnabled(false);
    list3->setSelectionMode(QAbstractItemView::SingleSelection);
    KeepFrameWhole(list3);

    check1 = Place(new QCheckBox(QStringLiteral("CharSetが無いメールは無条件で引っ掛ける"), this),
                   QStringLiteral("Check1"), TwipsRect(60, 5340, 4575, 255));
    check1->setChecked(true);

    // Beside the console frame, in the one free corner of the window.
    command3 = Place(new QPushButton(SettingsDialog::Title, this), QStringLiteral("Command3"),
                     TwipsRect(3975, 2880, 660, 375));
    command3->setToolTip(QStringLiteral("待ち受けポートなどの設定"));

    for (QLabel* label : {label1, label2}) {
        FitCaption(label);
    }
    FitCaption(check1);

    sysTray = new QMenu(QStringLiteral("SysTray"), this);
    sysTray->setObjectName(QStringLiteral("SysTray"));
    fShow = sysTray->addAction(QStringLiteral("表示"));
    fShow->setObjectName(QStringLiteral("FShow"));
    fSettings = sysTray->addAction(SettingsDialog::Title);
    fSettings->setObjectName(QStringLiteral("FSettings"));
    fEnd = sysTray->addAction(QStringLiteral("終了"));
    fEnd->setObjectName(QStringLiteral("FEnd"));
}

// Labels and the frame take no focus; the rest follow in the order of the layout's tab numbers.
void Display::SetTabOrder() {
    const QList<QWidget*> order = {list1,       list2,    text1, text2[0], command1[0], text2[1],
                                   command1[1], command2, list3, check1,   command3};
    for (QWidget* control : order) {
        control->setFocusPolicy(Qt::StrongFocus);
    }
    for (qsizetype i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

void Display::ConnectEvents() {
    connect(command2, &QPushButton::clicked, this, [this] { Command2_Click(); });
    // What the user types and ticks is the setting at once: the next connection and the next
    // inspection use it.
    connect(text1, &QLineEdit::textChanged, this,
            [this](const QString& host) { settings.DefaultAccount().host = host; });
    connect(check1, &QCheckBox::stateChanged, this,
            [this](int state) { settings.tagUnlabelled = state == Qt::Checked; });
    for (int i = 0; i < 2; ++i) {
        connect(command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
        text2[i]->installEventFilter(this);
    }
    text1->installEventFilter(this);
    list3->installEventFilter(this);
    connect(fShow, &QAction::triggered, this, &Display::FShow_Click);
    connect(fEnd, &QAction::triggered, this, &Display::FEnd_Click);
    connect(fSettings, &QAction::triggered, this, &Display::OpenSettings);
    connect(command3, &QPushButton::clicked, this, &Display::OpenSettings);
    // The window's own context menu (a click of the right button on its background).
    addAction(fSettings);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    // The logs follow the newest line, unless the user has scrolled up to read.
    for (auto [view, model] : {std::pair{list1, list1Model}, std::pair{list2, list2Model}}) {
        auto following = std::make_shared<bool>(true);
        connect(model, &QAbstractItemModel::rowsAboutToBeInserted, view, [view, following] {
            const QScrollBar* bar = view->verticalScrollBar();
            *following = bar->value() == bar->maximum();
        });
        connect(model, &QAbstractItemModel::rowsInserted, view, [view, following] {
            if (*following) {
                view->scrollToBottom();
            }
        });
    }

    // Refusing every close must not hold up the end of the user's session: once the session
    // manager has announced the end, closes go through, and the quit that follows closes the
    // sockets and takes the icon away.
#ifndef QT_NO_SESSIONMANAGER
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        connect(application, &QGuiApplication::commitDataRequest, this,
                [this](QSessionManager&) { ending = true; });
    }
#endif
}

void Display::ShowSettings() {
    text1->setText(settings.DefaultAccount().host);
    ShowBlockedList();
    check1->setChecked(settings.tagUnlabelled);
}

void Display::ShowBlockedList() {
    list3->clear();
    list3->addItems(settings.blockedCharsets);
}

// Placed without being shown: a window shown and hidden here would, shown again right away (as
// after Cancel at the first-run question), be mapped while the window manager still handles the
// first map and the withdrawal after it, and end up withdrawn while Qt takes it for shown, so
// that nothing would bring it back.
void Display::PlaceAtStart() {
    setWindowFlag(Qt::WindowStaysOnTopHint, true);
    PlaceBottomRight();
    if (!notify.SystemTrayAvailable()) {
        show();
    }
}

void Display::AddVersionToCaption() {
    setWindowTitle(windowTitle() + QStringLiteral("  Ver.%1.%2.%3")
                                       .arg(QUORLIN_VERSION_MAJOR)
                                       .arg(QUORLIN_VERSION_MINOR)
                                       .arg(QUORLIN_VERSION_PATCH));
}

// Rather than hiding until the first mail check fails.
void Display::AskForServerIfNone(bool quietly) {
    if (!Text1().trimmed().isEmpty()) {
        return;
    }
    LogNote(NoServerSetMessage());
    if (quietly && notify.SystemTrayAvailable()) {
        notify.ShowMessage(BaseCaption, NoServerSetMessage());
        return;
    }
    ShowFromUser();
    text1->setFocus();
}

// Right and bottom edges on those of the desktop's work area, so no panel covers the window.
//
// Given as the window's own position rather than its frame's: the frame is known only once the
// window has been on screen, and until then a window manager puts it around the window, title
// bar above, instead of pushing the window down by the title bar's height.
void Display::PlaceBottomRight() {
    const QPoint frame = BottomRightPlacement(PrimaryWorkArea(), frameGeometry().size());
    setGeometry(QRect(frame + (geometry().topLeft() - pos()), size()));
}

bool Display::ReportStartFailure(const QString& message) {
    QMessageBox box(QMessageBox::Warning, BaseCaption, message, QMessageBox::NoButton, this);
    QPushButton* settings = box.addButton(SettingsDialog::Title, QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("終了"), QMessageBox::RejectRole);
    box.exec();
    // Start-up begins again with what is saved there.
    return box.clickedButton() == settings && EditSettings(true);
}

// Each line of the note is broken to the list's width, so that all of it can be read without
// scrolling sideways; the lines it is broken into stand in from the mark.
void Display::LogNote(const QString& text) {
    const QString mark = QStringLiteral("※ ");
    const QString indent = QStringLiteral("　 ");
    const QFontMetrics metrics(list1->font());
    const int room = list1->contentsRect().width() -
                     list1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, list1) -
                     metrics.horizontalAdvance(mark) - 2 * TextMargin;
    QByteArray lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QStringList pieces = WrapToWidth(line, metrics, room);
        for (qsizetype i = 0; i < pieces.size(); ++i) {
            lines += TextToCp932((i == 0 ? mark : indent) + pieces[i]) + "\r\n";
        }
    }
    list1Model->AddLines(lines);
}

bool Display::OpenSettings() {
    return EditSettings(false);
}

bool Display::EditSettings(bool forRestart) {
    SettingsDialog dialog(settings, *commandLine, this);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    if (!forRestart) {
        Q_EMIT SettingsSaved();
    }
    return true;
}

void Display::ShowSecurityInCaption(const QString& oldSuffix) {
    QString caption = windowTitle();
    if (!oldSuffix.isEmpty() && caption.endsWith(oldSuffix)) {
        caption.chop(oldSuffix.size());
    }
    setWindowTitle(caption + SecurityCaptionSuffix(settings.DefaultAccount().security));
}

QString Display::Text1() const {
    return text1->text();
}

void Display::AddServerLines(QByteArrayView lines) {
    list1Model->AddLines(lines);
}

void Display::AddClientLines(QByteArrayView lines) {
    list2Model->AddLines(lines);
}

void Display::ClearServerLog() {
    list1Model->Clear();
}

void Display::ClearClientLog() {
    list2Model->Clear();
}

QStringList Display::List3Items() const {
    QStringList items;
    items.reserve(list3->count());
    for (int i = 0; i < list3->count(); ++i) {
        items.append(list3->item(i)->text());
    }
    return items;
}

int Display::List3FirstSelected() const {
    for (int i = 0; i < list3->count(); ++i) {
        if (list3->item(i)->isSelected()) {
            return i;
        }
    }
    return -1;
}

int Display::Check1Value() const {
    switch (check1->checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    }
    return 0;
}

// A mail check: the window comes up on top, out of the minimised state too, but the keyboard
// stays where the user is typing; a stray Enter in the server box would save whatever was typed.
void Display::ShowWindow() {
    if (!isVisible() || isMinimized()) {
        shownForCheck = true;
    }
    ShowWithoutActivating(true);
    Reveal();
}

void Display::ShowFromUser() {
    shownForCheck = false;
    ShowWithoutActivating(false);
    Reveal();
    raise();
    activateWindow();
}

// The attribute reaches the window system only when the native window is made; on X11 the
// window's property is what sets its user time to 0 at the next map, which tells the window
// manager not to give it the keyboard.
void Display::ShowWithoutActivating(bool on) {
    setAttribute(Qt::WA_ShowWithoutActivating, on);
    if (QWindow* native = windowHandle()) {
        native->setProperty("_q_showWithoutActivating", on);
    }
}

void Display::Reveal() {
    if (isMinimized()) {
        // Window managers give the keyboard to a window they bring back from the minimised
        // state. Withdrawn, and with a native window made afresh (leaving the minimised state
        // maps the old one at once, before it can say that it wants no keyboard), it comes up
        // as a new window does.
        if (testAttribute(Qt::WA_ShowWithoutActivating)) {
            hide();
            destroy();
        }
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    // Not raised: the window stays on top anyway, and some window managers answer a raise
    // with the keyboard.
    show();
    // Some platforms know the frame at once, others once the window manager has framed it.
    PlaceWithFrame();
    windowHandle()->installEventFilter(this);
}

// Placed before its frame was known, the window moves, once, by what the frame needs to keep
// the right and bottom edges on those of the work area.
void Display::PlaceWithFrame() {
    if (placedWithFrame || frameGeometry() == geometry()) {
        return;
    }
    placedWithFrame = true;
    PlaceBottomRight();
}

// The mail checks are over: a window they brought into view goes with them, but one the user
// opened is theirs, and may be in use.
void Display::HideWindow() {
    if (shownForCheck) {
        Withdraw();
    }
}

void Display::Withdraw() {
    shownForCheck = false;
    if (notify.SystemTrayAvailable()) {
        hide();
    }
}

void Display::ShowTrayPicture(TrayPicture picture) {
    notify.ShowPicture(picture);
}

// With several clients served, the console's frame names the client it talks to, by the
// number its log lines carry.
void Display::ConsoleClient(int number) {
    frame1->setTitle(number == 0 ? ConsoleCaption
                                 : QStringLiteral("%1 [%2]").arg(ConsoleCaption).arg(number));
}

// The server row names the account whose server it talks to, where that is not the default one.
void Display::ConsoleServer(const QString& account) {
    consoleAccount = account;
    if (!text2[0]->hasFocus()) {
        text2[0]->setPlaceholderText(ConsoleHint(0));
    }
}

QString Display::ConsoleHint(int index) const {
    return index == 0 && !consoleAccount.isEmpty()
               ? QStringLiteral("メールサーバー（%1）へのコマンド").arg(consoleAccount)
               : ConsoleHints[index];
}

std::optional<QString> Display::InputBox(const QString& prompt, const QString& title,
                                         const QString& defaultAnswer) {
    bool answered = false;
    QString shownPrompt = prompt;
    shownPrompt.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // Over the window when it is in view; otherwise (the first-run question) in the middle of
    // the screen rather than over a window that has not been placed yet.
    QWidget* over = isVisible() ? this : nullptr;
    const QString answer = QInputDialog::getText(over, title, shownPrompt, QLineEdit::Normal,
                                                 defaultAnswer, &answered);
    if (!answered) {
        return std::nullopt;
    }
    return answer;
}

void Display::ReportFileError(const QString& message) {
    QMessageBox::warning(this, BaseCaption, message);
}

void Display::ReportUnusableSettings(const QString& path, const QList<UnusableSetting>& unusable) {
    ReportFileError(UnusableSettingsWindowMessage(path, unusable));
}

void Display::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, BaseCaption, text, QMessageBox::Ok, this);
    box.exec();
}

void Display::Command1_Click(int index) {
    // Only what the user typed goes out: an empty box sends nothing, not even a line end.
    if (text2[index]->text().isEmpty()) {
        return;
    }
    switch (relay->ConsoleSend(index, TextToCp932(text2[index]->text()))) {
    case Relay::ConsoleResult::Sent:
        text2[index]->clear();
        break;
    case Relay::ConsoleResult::ServerConnectStarted:
        // The connection is on its way; the line waits in the box to be sent again.
        break;
    case Relay::ConsoleResult::ClientNotConnected:
        ShowMessage(ClientGoneMessage);
        break;
    }
}

void Display::Text2_KeyDown(int index, VirtualKey key) {
    if (key == VirtualKey::Enter) {
        Command1_Click(index);
    }
}

void Display::Text2_GotFocus(int index) {
    text2[index]->clear();
}

void Display::Command2_Click() {
    SaveServerSetting(settings, *this);
}

void Display::Text1_KeyDown(VirtualKey key) {
    ServerBoxKeyDown(settings, *this, key);
}

void Display::List3_KeyDown(VirtualKey key) {
    if (BlockedListKeyDown(settings, *this, List3FirstSelected(), key)) {
        ShowBlockedList();
    }
}

void Display::FShow_Click() {
    ShowTrayPicture(TrayPicture::OpenedFromMenu);
    ShowFromUser();
}

void Display::FEnd_Click() {
    Q_EMIT EndRequested(0);
}

void Display::closeEvent(QCloseEvent* event) {
    if (ending) {
        event->accept();
        return;
    }
    event->ignore();
    if (!notify.SystemTrayAvailable()) {
        Q_EMIT EndRequested(0);
        return;
    }
    Withdraw();
    ShowTrayPicture(TrayPicture::Idle);
}

bool Display::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose) {
        PlaceWithFrame();
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        // Modifier keys are not looked at: Shift+Enter saves as Enter does.
        const VirtualKey key = VirtualKeyCode(static_cast<QKeyEvent*>(event)->key());
        if (watched == text1) {
            Text1_KeyDown(key);
        } else if (watched == list3) {
            if (key == VirtualKey::Insert || key == VirtualKey::Delete) {
                List3_KeyDown(key);
                return true;
            }
        } else {
            for (int i = 0; i < 2; ++i) {
                if (watched == text2[i]) {
                    Text2_KeyDown(i, key);
                }
            }
        }
    } else if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        const bool in = event->type() == QEvent::FocusIn;
        // Coming back to the window (from another program or from a message box closing) is
        // not a visit: a line refused by the console stays until the user enters the box again.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        const bool visit = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
        for (int i = 0; i < 2; ++i) {
            if (watched == text2[i]) {
                // The hint is gone while the user is in the box, as the caption it stands for was.
                text2[i]->setPlaceholderText(in ? QString() : ConsoleHint(i));
                if (in && visit) {
                    Text2_GotFocus(i);
                }
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace Shell
