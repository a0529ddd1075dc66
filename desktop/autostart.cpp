#include "autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

// The per-user autostart folder of the freedesktop Desktop Application Autostart rules.
std::string autostartEntryPath()
{
    return (QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/autostart/ormix.desktop"))
        .toStdString();
}

// Quotes an Exec argument as the Desktop Entry rules ask: reserved characters force
// double quotes, inside which ", `, $ and \ are escaped; then the string-value escaping
// doubles every backslash once more, and % becomes %%.
static QString execArgument(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg;
    bool needsQuotes = false;
    for (const QChar c : path) {
        if (reserved.contains(c))
            needsQuotes = true;
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
            c == QLatin1Char('\\'))
            arg += QLatin1Char('\\');
        if (c == QLatin1Char('%'))
            arg += QLatin1Char('%');
        arg += c;
    }
    if (needsQuotes)
        arg = QLatin1Char('"') + arg + QLatin1Char('"');
    arg.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return arg;
}

// The bare name when PATH finds this very program by it (the entry then reads as installed
// entries do, and survives a move within PATH); the full path otherwise.
static QString execProgram(const QString &executablePath)
{
    const QFileInfo self(executablePath);
    const QString found = QStandardPaths::findExecutable(self.fileName());
    if (!found.isEmpty() && !self.canonicalFilePath().isEmpty() &&
        QFileInfo(found).canonicalFilePath() == self.canonicalFilePath())
        return self.fileName();
    return executablePath;
}

bool writeAutostartEntry(const std::string &executablePath)
{
    const QString path = QString::fromStdString(autostartEntryPath());
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const QString program = execProgram(QString::fromStdString(executablePath));
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Ormix\n"
                                         "Comment=Blog dashboard notifier\n"
                                         "Exec=%1\n"
                                         "Icon=ormix\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(execArgument(program));
    file.write(entry.toUtf8());
    return file.commit();
}

bool removeAutostartEntry()
{
    const QString path = QString::fromStdString(autostartEntryPath());
    if (!QFileInfo::exists(path))
        return true;
    return QFile::remove(path);
}

bool autostartEntryExists()
{
    return QFileInfo::exists(QString::fromStdString(autostartEntryPath()));
}
