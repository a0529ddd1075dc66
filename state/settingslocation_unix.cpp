#include "settingslocation.h"

#include <QStandardPaths>

QString SettingsStoreLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Ormix/Ormix.conf");
}

std::unique_ptr<QSettings> OpenSettingsStore()
{
    return std::make_unique<QSettings>(SettingsStoreLocation(), QSettings::IniFormat);
}
