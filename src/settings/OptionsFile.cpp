#include "settings/OptionsFile.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

QStringList Shown(const QVariant& value) {
    return value.typeId() == QMetaType::QStringList ? value.toStringList()
                                                    : QStringList{value.toString()};
}

} // namespace

QString OptionsFilePath() {
    return SettingsDirectory() + QStringLiteral("/Quorlin_Options.ini");
}

std::unique_ptr<QSettings> OpenOptionsFile() {
    return std::make_unique<QSettings>(OptionsFilePath(), QSettings::IniFormat);
}

// QSettings writes through a buffered file and, when its last write fails (a full disk), puts
// the cut-short file in place and reports no error. So the edit is made on a scratch copy, read
// back to check that every value arrived, and the checked bytes then go through WriteBytes,
// which writes aside, renames into place and says why when it cannot.
Result<> EditOptionsFile(const std::function<void(QSettings&)>& edit) {
    const QString path = OptionsFilePath();
    QTemporaryDir scratch;
    const QString draft = scratch.filePath(QStringLiteral("options.ini"));
    if (!scratch.isValid() || (QFile::exists(path) && !QFile::copy(path, draft))) {
        return Result<>::Failure(
            QStringLiteral("no scratch copy could be made in %1").arg(scratch.path()), path);
    }
    QHash<QString, QStringList> wanted;
    {
        QSettings file(draft, QSettings::IniFormat);
        edit(file);
        file.sync();
        for (const QString& key : file.allKeys()) {
            wanted.insert(key, Shown(file.value(key)));
        }
    }
    const QSettings written(draft, QSettings::IniFormat);
    bool complete =
        written.status() == QSettings::NoError && written.allKeys().size() == wanted.size();
    for (auto it = wanted.cbegin(); complete && it != wanted.cend(); ++it) {
        complete = Shown(written.value(it.key())) == it.value();
    }
    QFile draftFile(draft);
    if (!complete || !draftFile.open(QIODevice::ReadOnly)) {
        return Result<>::Failure(
            QStringLiteral("the scratch copy in %1 came out incomplete").arg(scratch.path()), path);
    }
    return WriteBytes(path, draftFile.readAll());
}

OptionsFileLine FindOptionsFileLine(const QString& group, const QString& key) {
    OptionsFileLine found;
    QFile file(OptionsFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return found;
    }
    QString section;
    for (int number = 1; !file.atEnd(); ++number) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.sliced(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        // The last one, as the file is read: a later line with the key wins.
        if (equals > 0 && section == group && line.first(equals).trimmed() == key) {
            found = {number, line};
        }
    }
    return found;
}

QList<OptionsFileLine> MalformedOptionsFileLines() {
    QList<OptionsFileLine> malformed;
    QFile file(OptionsFilePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return malformed;
    }
    for (int number = 1; !file.atEnd(); ++number) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const bool section = line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'));
        const bool comment = line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'));
        if (!line.isEmpty() && !section && !comment && line.indexOf(QLatin1Char('=')) <= 0) {
            malformed.append({number, line});
        }
    }
    return malformed;
}
