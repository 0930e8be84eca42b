#pragma once

#include "settings/Settings.h"
#include "settings/SettingsUser.h"

#include <QList>
#include <QStringList>

// Plays the user for the settings logic: answers input boxes from a queue (an empty optional is
// Cancel) and records every question and reported error.
class FakeSettingsUser : public SettingsUser {
public:
    struct Question {
        QString prompt;
        QString title;
        QString defaultAnswer;
    };

    QList<std::optional<QString>> answers;
    QList<Question> questions;
    QStringList errors;

    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultAnswer) override {
        questions.append({prompt, title, defaultAnswer});
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }

    void ReportFileError(const QString& message) override { errors.append(message); }
    void ReportUnusableSettings(const QString& path,
                                const QList<UnusableSetting>& settings) override {
        unusablePath = path;
        unusable += settings;
    }
    QString unusablePath;
    QList<UnusableSetting> unusable;
};

// The window as the settings logic sees it: the settings it shows (the host as text1, the
// blocked list as list3, the list's selected entry) and the user at it.
struct FakeSettingsView : FakeSettingsUser {
    Settings settings;
    QString& text1 = settings.DefaultAccount().host;
    QStringList& list3 = settings.blockedCharsets;
    int selected = -1;
};
