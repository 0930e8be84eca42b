#pragma once

#include "app/AppOptions.h"
#include "gui/DesktopSession.h"
#include "gui/Display.h"
#include "gui/models/LogListModel.h"
#include "platform/ProgramFiles.h"
#include "support/RelayRig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

// Answers the first modal dialog the code under test opens (and waits for) with answer, and
// closes any later one unanswered, so an unexpected dialog fails the test instead of hanging
// it. Polls, because the dialog appears only inside the call that the test makes next.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer) {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this, answer] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) {
                return;
            }
            if (++answered == 1) {
                answer(modal);
            } else {
                modal->close();
            }
        });
        timer.start();
    }
    // Dialogs seen so far.
    int answered = 0;

private:
    QTimer timer;
};

// Plays the user through a chain of modal dialogs: each step gets the next dialog that comes up.
// Steps act through the event queue, since a click may open the next dialog inside it. A dialog
// beyond the steps is closed, so a surprise fails the test instead of hanging it.
class ModalSteps {
public:
    explicit ModalSteps(QList<std::function<void(QWidget*)>> stepList) : steps(stepList) {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == last) {
                return;
            }
            last = modal;
            ++seen;
            if (steps.isEmpty()) {
                QMetaObject::invokeMethod(modal, &QWidget::close, Qt::QueuedConnection);
                return;
            }
            steps.takeFirst()(modal);
        });
        timer.start();
    }
    int seen = 0;

private:
    QList<std::function<void(QWidget*)>> steps;
    QPointer<QWidget> last;
    QTimer timer;
};

inline void ClickLater(QAbstractButton* button) {
    QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
}

inline QAbstractButton* OkButton(QWidget* dialog) {
    return dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

// A settings folder of its own for each test, optionally with the two files in it.
class ConfigFolder {
public:
    ConfigFolder() { SetSettingsDirectory(folder.path()); }
    QString Path(const QString& name) const { return folder.filePath(name); }
    void Write(const QString& name, const QByteArray& bytes) const {
        QFile file(Path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QByteArray Read(const QString& name) const {
        QFile file(Path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

private:
    QTemporaryDir folder;
};

// The latest conversation's server connection has gone (or there is no conversation).
inline bool ServerClosed(const Relay& relay) {
    const RelaySession* latest = relay.LatestSession();
    return !latest || latest->Upstream().CurrentPhase() == UpstreamLink::Phase::Closed;
}

// Loopback only, on a port the system picks.
inline AppOptions TestOptions(quint16 serverPort = 110) {
    AppOptions options;
    options.listenPort = 0;
    options.listenAddress = QHostAddress::LocalHost;
    options.serverPort = serverPort;
    return options;
}

template <typename Widget> Widget* Control(QWidget& window, const char* name) {
    return window.findChild<Widget*>(QString::fromLatin1(name));
}

// What one of the window's logs holds, by the list's name ("List1", "List2").
inline LogListModel& LogModel(QWidget& window, const char* name) {
    return *qobject_cast<LogListModel*>(Control<QListView>(window, name)->model());
}
