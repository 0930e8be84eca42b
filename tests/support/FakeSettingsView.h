#pragma once

#include "settings/SettingsView.h"

#include <QList>

// Plays the window for the settings logic: holds Text1 and List3, answers input boxes from a
// queue (an empty optional is Cancel) and records every question and reported error.
class FakeSettingsView : public SettingsView {
public:
    struct Question {
        QString prompt;
        QString title;
        QString defaultAnswer;
    };

    QString text1;
    QStringList list3;
    int selected = -1;
    QList<std::optional<QString>> answers;
    QList<Question> questions;
    QStringList errors;

    QString Text1() const override { return text1; }
    void SetText1(const QString& text) override { text1 = text; }

    QStringList List3Items() const override { return list3; }
    void List3AddItem(const QString& entry) override { list3.append(entry); }
    void List3RemoveItem(int index) override {
        list3.removeAt(index);
        selected = -1;
    }
    int List3FirstSelected() const override { return selected; }

    std::optional<QString> InputBox(const QString& prompt, const QString& title,
                                    const QString& defaultAnswer) override {
        questions.append({prompt, title, defaultAnswer});
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }

    void ReportFileError(const QString& message) override { errors.append(message); }
};
