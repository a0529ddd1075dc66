#include "state/settingslocation.h"

QString SettingsStoreLocation()
{
    return QStringLiteral("HKEY_CURRENT_USER\\software\\Ormix");
}

std::unique_ptr<QSettings> OpenSettingsStore(SettingsAccess)
{
    return std::make_unique<QSettings>(SettingsStoreLocation(), QSettings::NativeFormat);
}

QVariant ReadOneSettingValue(const std::string &valueName)
{
    return OpenSettingsStore(SettingsAccess::Read)->value(QString::fromStdString(valueName));
}
