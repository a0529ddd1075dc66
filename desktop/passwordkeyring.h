#pragma once

#include <QString>

#include <functional>
#include <string>

class Account;
class QObject;

// The login password in the desktop's keyring (the Secret Service), through QtKeychain.
// Every call returns at once; its answer comes later on the UI thread, and only while
// the context object lives. There is no plain-text fallback: without a keyring nothing
// is stored.
namespace passwordkeyring {

// The entry of one account: the normalised blog address and the ID.
QString entryKey(const std::string &blogUrl, const std::string &id);

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

// Once the blog host accepted the account's password: stores it under the account's
// pending keyring entry, then deletes the entries that one replaces (only once it is stored,
// so a refused or cancelled change keeps the entry that works), and forgets both. Nothing
// when no entry is pending.
void storeAfterLogin(QObject *context, Account &account);

} // namespace passwordkeyring
