#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <string>

class QObject;

// The login password in the desktop's keyring (the Secret Service), through QtKeychain.
// Every call returns at once; its answer comes later on the UI thread, and only while
// the context object lives. There is no plain-text fallback: without a keyring nothing
// is stored.
namespace passwordkeyring {

// The entry of one account: the normalised blog address and the ID.
QString EntryKey(const std::string &blogUrl, const std::string &id);

// Whether a Secret Service is reachable on the session bus; why not, in words, if it is not.
void Probe(QObject *context, const std::function<void(bool available, const QString &why)> &done);

// The stored password, or ok == false when there is none or the keyring refused.
// The callback owns the password and should wipe it. An answer that comes after the context
// is gone is wiped and dropped.
void ReadPassword(QObject *context, const QString &key,
                  const std::function<void(bool ok, std::string &password)> &done);

enum class ReadOutcome
{
    Found,
    NotFound, // no entry, or the keyring refused
    NoAnswer  // nothing within the time allowed (a slow keyring, an unlock prompt left open)
};
// Waits for the stored password, running the event loop, but at most timeoutMs.
ReadOutcome ReadPasswordWithin(const QString &key, int timeoutMs, std::string &password);

// Stores or replaces the password of an entry; done may be empty.
void WritePassword(QObject *context, const QString &key, const std::string &password,
                   const std::function<void(bool ok)> &done = {});

// Removes an entry; a missing one counts as removed. done may be empty.
void DeletePassword(QObject *context, const QString &key,
                    const std::function<void(bool ok)> &done = {});

// The entry that the next successful login is to be stored under (empty: none). The login
// dialog sets it, so that a password is only kept once the blog host has accepted it.
void SetPendingEntry(const QString &key);
QString PendingEntry();
// An entry that the pending one replaces (the address or the ID changed): it goes only
// once the new entry is stored, so a refused or cancelled change keeps the working one.
void ReplaceAfterLogin(const QString &oldKey);
// The entries waiting to be replaced, which are then no longer waited for.
QStringList TakeEntriesToReplace();
// Stores password under the pending entry, if any, then deletes the entries it replaces;
// forgets both.
void StorePendingAfterLogin(QObject *context, const std::string &password);

} // namespace passwordkeyring
