#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the settings logic needs from the window (or from the headless runner, or a test):
// the server box Text1, the blocked list List3, a modal input box and a way to tell the user
// that a file could not be read or written.
class SettingsView {
public:
    virtual ~SettingsView() = default;

    virtual QString Text1() const = 0;
    virtual void SetText1(const QString& text) = 0;

    virtual QStringList List3Items() const = 0;
    virtual void List3AddItem(const QString& entry) = 0;
    virtual void List3RemoveItem(int index) = 0;
    // Index of the first selected entry, or -1 when none is selected.
    virtual int List3FirstSelected() const = 0;

    // A modal input box; nullopt when the user cancelled.
    virtual std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                            const QString& defaultAnswer) = 0;

    virtual void ReportFileError(const QString& message) = 0;
};
