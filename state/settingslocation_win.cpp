#include "state/settingslocation.h"

QString SettingsStoreLocation()
{
    return QStringLiteral("HKEY_CURRENT_USER\\software\\Ormix");
}

std::unique_ptr<QSettings> OpenSettingsStore()
{
    return std::make_unique<QSettings>(SettingsStoreLocation(), QSettings::NativeFormat);
}
