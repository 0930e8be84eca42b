#pragma once

#include "app/SettingsReload.h"
#include "settings/ServerSecurity.h"
#include "settings/UnusableSetting.h"

#include <QList>
#include <QString>

// Settings that cannot be used, in the window's words: one table of Japanese reasons for what
// the options file, a CA file or a reload can run into (standard error has them in English).

QString JapaneseReason(const UnusableSetting& setting);
// The file, then a line for each value: "3 行目 Port=abc: ポート番号 (1〜65535) ではありません".
QString UnusableSettingsWindowMessage(const QString& path, const QList<UnusableSetting>& settings);
QString CaFileWindowMessage(const CaFileProblem& problem);
// The dialog's changes were saved, but the files hold something that cannot be used: the
// settings in force stay.
QString ReloadRefusedWindowMessage(const ReloadProblems& problems);
