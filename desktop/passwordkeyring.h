#pragma once

#include <QString>

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
// The callback owns the password and should wipe it.
void ReadPassword(QObject *context, const QString &key,
                  const std::function<void(bool ok, std::string &password)> &done);

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
// Stores password under the pending entry, if any, and forgets the entry.
void StorePendingAfterLogin(QObject *context, const std::string &password);

} // namespace passwordkeyring
