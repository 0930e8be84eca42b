#include "settings/AutostartEntry.h"

#include "platform/DoubleQuoted.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

// Characters the Exec rules reserve: an argument holding one (or nothing) is quoted.
constexpr QStringView ReservedInExec = u" \t\n\"'\\><~|&;$*?#()`";

QString QuotedArgument(const QString& argument) {
    const bool plain =
        !argument.isEmpty() && std::none_of(argument.begin(), argument.end(),
                                            [](QChar c) { return ReservedInExec.contains(c); });
    return plain ? argument : DoubleQuoted(argument);
}

// The escapes of a string value, which a reader undoes before it reads the quoting; and "%%"
// for a percent sign, which would otherwise start a field code.
QString EscapedValue(const QString& value) {
    QString escaped;
    for (const QChar c : value) {
        switch (c.unicode()) {
        case u'\\':
            escaped += u"\\\\";
            break;
        case u'\n':
            escaped += u"\\n";
            break;
        case u'\t':
            escaped += u"\\t";
            break;
        case u'\r':
            escaped += u"\\r";
            break;
        case u'%':
            escaped += u"%%";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

QString AutostartEntryPath() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!QDir::isAbsolutePath(configHome)) {
        configHome = QDir::homePath() + QStringLiteral("/.config");
    }
    return configHome + QStringLiteral("/autostart/quorlin.desktop");
}

QByteArray AutostartEntry(const QString& program, const QString& configDir) {
    const QString exec = QuotedArgument(program) + QStringLiteral(" --config-dir ") +
                         QuotedArgument(configDir) + QStringLiteral(" --") +
                         QLatin1String(AutostartOptionName);
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Quorlin\n"
           "Exec=" +
           EscapedValue(exec).toUtf8() +
           "\n"
           "Icon=quorlin\n"
           "Terminal=false\n";
}

Result<> WriteAutostartEntry(const QString& path, const QString& program,
                             const QString& configDir) {
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder)) {
        return Result<>::Failure(QStringLiteral("the folder %1 cannot be made").arg(folder), path);
    }
    return WriteBytes(path, AutostartEntry(program, configDir));
}

Result<> RemoveAutostartEntry(const QString& path) {
    QFile file(path);
    if (!file.exists() || file.remove()) {
        return {};
    }
    return Result<>::Failure(file.errorString(), path);
}

bool AutostartEntryExists(const QString& path) {
    return PlainFileExists(path);
}
