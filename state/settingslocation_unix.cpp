#include "state/settingslocation.h"

#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

QString SettingsStoreLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ormix/Ormix.conf");
}

// QSettings decodes an INI value written as "@Variant(...)" with QDataStream, which trusts
// the length a damaged file declares and may try to allocate gigabytes and abort. The
// program never writes such values (a string starting with "@" is stored as "@@"), so
// lines that carry one are removed before QSettings reads the file; the rest stays.
static void dropSerializedValues(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    file.close();
    static const QByteArray marker = QByteArrayLiteral("@Variant(");
    if (!bytes.contains(marker))
        return;

    QByteArray kept;
    for (const QByteArray &line : bytes.split('\n')) {
        bool serialized = false;
        for (qsizetype at = line.indexOf(marker); at >= 0; at = line.indexOf(marker, at + 1)) {
            if (at == 0 || line.at(at - 1) != '@')
                serialized = true;
        }
        if (!serialized)
            kept += line + '\n';
    }
    kept.chop(bytes.endsWith('\n') ? 1 : 0);
    QSaveFile repaired(path);
    if (repaired.open(QIODevice::WriteOnly)) {
        repaired.write(kept);
        repaired.commit();
    }
}

std::unique_ptr<QSettings> OpenSettingsStore()
{
    const QString path = SettingsStoreLocation();
    dropSerializedValues(path);
    return std::make_unique<QSettings>(path, QSettings::IniFormat);
}
