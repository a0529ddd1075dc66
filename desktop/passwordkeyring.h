#pragma once

#include <QString>

#include <functional>
#include <string>

class QObject;
class Settings;

// The login password in the desktop's keyring (the Secret Service), through QtKeychain.
// Every call returns at once; its answer comes later on the UI thread, and only while
// the context object lives. There is no plain-text fallback: without a keyring nothing
// is stored.
namespace passwordkeyring {

// The entry of one account: the normalised blog address and the ID.
QString entryKey(const std::string &blogUrl, const std::string &id);
// The entry the settings name: the remembered address and ID when "아이디 저장" and the
// keyring option are both on; empty otherwise.
QString rememberedEntry(const Settings &settings);

// Whether a Secret Service is reachable on the session bus; why not, in words, if it is not.
void probe(QObject *context, const std::function<void(bool available, const QString &why)> &done);

// The stored password, or ok == false when there is none or the keyring refused.
// The callback owns the password and should wipe it. An answer that comes after the context
// is gone is wiped and dropped.
void readPassword(QObject *context, const QString &key,
                  const std::function<void(bool ok, std::string &password)> &done);

enum class ReadOutcome
{
    Found,
    NotFound, // no entry, or the keyring refused
    NoAnswer  // nothing within the time allowed (a slow keyring, an unlock prompt left open)
};
// Waits for the stored password, running the event loop, but at most timeoutMs.
ReadOutcome readPasswordWithin(const QString &key, int timeoutMs, std::string &password);

// Stores or replaces the password of an entry; done may be empty.
void writePassword(QObject *context, const QString &key, const std::string &password,
                   const std::function<void(bool ok)> &done = {});

// Removes an entry; a missing one counts as removed. done may be empty.
void deletePassword(QObject *context, const QString &key,
                    const std::function<void(bool ok)> &done = {});

// Stores the password under key, then deletes the entry replaced (empty: none) once it is
// stored: until then the old entry is the one that works.
void replacePassword(QObject *context, const QString &key, const std::string &password,
                     const QString &replaced);

} // namespace passwordkeyring
