#include "settings/OptionsFile.h"

#include "platform/ProgramFiles.h"

QString OptionsFilePath() {
    return ProgramDirectory() + QStringLiteral("/Quorlin_Options.ini");
}

std::unique_ptr<QSettings> OpenOptionsFile() {
    auto file = std::make_unique<QSettings>(OptionsFilePath(), QSettings::IniFormat);
    file->setAtomicSyncRequired(true);
    return file;
}
