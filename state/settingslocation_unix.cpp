#include "state/settingslocation.h"

#include "state/boundedfile.h"
#include "state/inifile.h"

#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <unistd.h>

QString settingsStoreLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ormix/Ormix.conf");
}

std::unique_ptr<QSettings> openSettingsStore(const QString &path, SettingsAccess access)
{
    QByteArray bytes;
    switch (readBoundedFile(path, MaxSettingsFileBytes, bytes)) {
    case BoundedFile::Replaceable:
        if (access == SettingsAccess::Read)
            return nullptr;
        // Not a file we could ever read back (a FIFO, a link to a device, a huge file):
        // replaced by the value written now. unlink() removes a link, never its target.
        ::unlink(QFile::encodeName(path).constData());
        break;
    case BoundedFile::Unreadable:
        // Writing now would save this one value over the others the file may still hold.
        return nullptr;
    case BoundedFile::Usable: {
        const QByteArray safe = withoutSerializedIniValues(bytes);
        if (safe.size() == bytes.size())
            break;
        // QSettings reads the file itself: what it must not see has to leave the disk first.
        QSaveFile repaired(path);
        if (!repaired.open(QIODevice::WriteOnly) || repaired.write(safe) != safe.size() ||
            !repaired.commit())
            return nullptr;
        break;
    }
    case BoundedFile::Missing:
        break;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}
