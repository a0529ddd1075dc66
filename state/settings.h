#pragma once

#include <cstdint>
#include <string>

// The program's remembered values. On Linux they live in
// $XDG_CONFIG_HOME/Ormix/Ormix.conf, on Windows under HKEY_CURRENT_USER\software\Ormix.
// Every call opens the store, touches one value and closes it again; nothing is cached.
// The password is never written here.

enum class SettingsRoot
{
    CurrentUser
};

// Stores text under the settings key. True when the value reached the disk.
bool WriteRegistryString(SettingsRoot root, const std::string &valueName, const std::string &text);
// Stores a 32-bit number under the settings key.
bool WriteSettingDword(const std::string &valueName, std::uint32_t value);
// Reads a 32-bit number; value keeps defaultValue when missing, unreadable or out of range.
bool ReadSettingDword(int defaultValue, const std::string &valueName, int &value);
// Reads text of at most 99 bytes; longer, missing or unreadable values give the empty string.
bool ReadSettingString(const std::string &valueName, std::string &value);

// Capacity of the string buffer, terminator included.
inline constexpr std::size_t SettingStringBufferSize = 100;

// Path of the settings file (for diagnostics and tests).
std::string SettingsFilePath();
