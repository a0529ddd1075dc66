#pragma once

#include <string>

// The per-user "start with the desktop session" entry: a Desktop Entry in
// $XDG_CONFIG_HOME/autostart. Both operations report whether the entry now is as asked.

// Makes the session start executablePath without arguments (on Linux by its bare name when
// PATH finds this same program by it).
bool writeAutostartEntry(const std::string &executablePath);
// Removes the entry; true when no entry remains (also when there was none).
bool removeAutostartEntry();
// Whether an entry exists now.
bool autostartEntryExists();
// Where the entry lives (for diagnostics and tests).
std::string autostartEntryPath();
