#include "settingslocation.h"

#include "base/boundedfile.h"
#include "base/privatefile.h"
#include "settings/inifile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    const BoundedFile state = readBoundedFile(path, MaxSettingsFileBytes, bytes);
    // The file names the blog and the ID: it is the user's alone. QSaveFile, which QSettings
    // writes through, keeps the mode of the file it replaces, so that is made private first.
    const auto makePrivate = [&path] {
        if (QDir().mkpath(QFileInfo(path).absolutePath()))
            makePrivateFile(path);
    };
    switch (state) {
    case BoundedFile::Replaceable:
        if (access == SettingsAccess::Read)
            return nullptr;
        // Not a file we could ever read back (a FIFO, a link to a device, a huge file):
        // replaced by the value written now. unlink() removes a link, never its target.
        ::unlink(QFile::encodeName(path).constData());
        makePrivate();
        break;
    case BoundedFile::Unreadable:
        // Writing now would save this one value over the others the file may still hold.
        return nullptr;
    case BoundedFile::Usable: {
        const QByteArray safe = withoutSerializedIniValues(bytes);
        if (access == SettingsAccess::Write || safe.size() != bytes.size())
            makePrivate();
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
        if (access == SettingsAccess::Write)
            makePrivate();
        break;
    }
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}
