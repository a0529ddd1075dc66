#include "state/settingslocation.h"

QString settingsStoreLocation()
{
    return QStringLiteral("HKEY_CURRENT_USER\\software\\Ormix");
}

std::unique_ptr<QSettings> openSettingsStore(const QString &path, SettingsAccess)
{
    return std::make_unique<QSettings>(path, QSettings::NativeFormat);
}
