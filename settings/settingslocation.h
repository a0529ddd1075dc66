#pragma once

#include <QSettings>

#include <memory>

// Where the per-user settings live, an INI file under the XDG configuration folder, and how
// that file is opened.
enum class SettingsAccess
{
    Read,
    Write
};

// Null for reading when the file is not something to read: a FIFO, a device, a folder,
// anything over MaxSettingsFileBytes or a file that cannot be opened or read reads as
// missing. For writing, a FIFO, a device or a file over the limit is removed first, so the
// store's usual atomic save puts a regular file in its place; anything else that cannot be
// read now (no descriptor left, no access, an I/O error, a folder) gives null and stays as
// it is, since it may still hold the user's values. Null for both when the file holds
// values QSettings must not decode and cannot be rewritten without them.
std::unique_ptr<QSettings> openSettingsStore(const QString &path, SettingsAccess access);
// The settings file of this user.
QString settingsStoreLocation();

inline constexpr qint64 MaxSettingsFileBytes = qint64(1024) * 1024;
