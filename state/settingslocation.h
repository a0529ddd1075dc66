#pragma once

#include <QSettings>
#include <QVariant>

#include <memory>
#include <string>

// Opens the per-user settings store: an INI file under the XDG configuration folder on
// Linux, the registry key HKEY_CURRENT_USER\software\Ormix on Windows.
enum class SettingsAccess
{
    Read,
    Write
};

// Null for reading when the file is not something to read: a FIFO, a device, a folder or
// anything over MaxSettingsFileBytes reads as missing. For writing such an entry is removed
// first, so the store's usual atomic save puts a regular file in its place. Null for both
// when the file holds values QSettings must not decode and cannot be rewritten without them.
std::unique_ptr<QSettings> OpenSettingsStore(SettingsAccess access);
QString SettingsStoreLocation();

// One value as QSettings would give it (a QString, or a QStringList for a list), read with a
// single bounded read of the file; invalid when missing or unreadable. Used where the full
// store would cost too much, such as on every poll.
QVariant ReadOneSettingValue(const std::string &valueName);

inline constexpr qint64 MaxSettingsFileBytes = qint64(1024) * 1024;
