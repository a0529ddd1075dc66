#pragma once

#include <QSettings>

#include <memory>

// Opens the per-user settings store: an INI file under the XDG configuration folder on
// Linux, the registry key HKEY_CURRENT_USER\software\Ormix on Windows.
std::unique_ptr<QSettings> OpenSettingsStore();
QString SettingsStoreLocation();
