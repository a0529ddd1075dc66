#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// Overwrites a string's bytes before they are released, so a password does not
// linger in freed memory.
void wipeString(std::string &text) noexcept;

// Overwrites the bytes of a shared buffer in place, for every holder at once, then
// empties this handle. For a secret that was handed to a library which keeps a copy
// of the same buffer until it is done: call it once that library is done.
void wipeSharedBytes(QByteArray &bytes) noexcept;
void wipeSharedText(QString &text) noexcept;
