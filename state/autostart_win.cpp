#include "state/autostart.h"

#include <QSettings>

// Windows: the value "Ormix" under the per-user Run key, which needs no administrator rights.
static const char *const runKey =
    "HKEY_CURRENT_USER\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string autostartEntryPath()
{
    return std::string(runKey) + "\\Ormix";
}

bool writeAutostartEntry(const std::string &executablePath)
{
    QSettings run(QString::fromLatin1(runKey), QSettings::NativeFormat);
    run.setValue(QStringLiteral("Ormix"), QString::fromStdString(executablePath));
    run.sync();
    return run.status() == QSettings::NoError;
}

bool removeAutostartEntry()
{
    QSettings run(QString::fromLatin1(runKey), QSettings::NativeFormat);
    run.remove(QStringLiteral("Ormix"));
    run.sync();
    return run.status() == QSettings::NoError && !run.contains(QStringLiteral("Ormix"));
}

bool autostartEntryExists()
{
    QSettings run(QString::fromLatin1(runKey), QSettings::NativeFormat);
    return run.contains(QStringLiteral("Ormix"));
}
