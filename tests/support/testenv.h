#pragma once

// Set in a build under AddressSanitizer, which changes memory figures and stack use.
#if defined(__SANITIZE_ADDRESS__)
#define ORMIX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORMIX_UNDER_ASAN 1
#endif
#endif

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <optional>

// Sets an environment variable for the guard's lifetime and restores the old value,
// even when a check fails half-way.
class EnvGuard
{
public:
    EnvGuard(const char *name, const QByteArray &value);
    ~EnvGuard();
    EnvGuard(const EnvGuard &) = delete;
    EnvGuard &operator=(const EnvGuard &) = delete;

private:
    QByteArray m_name;
    std::optional<QByteArray> m_old;
};

// A throwaway configuration folder: XDG_CONFIG_HOME (and XDG_STATE_HOME, below it) point
// into it while the object lives.
class TempConfigHome
{
public:
    TempConfigHome();
    QString path() const { return m_dir.path(); }
    QString settingsFile() const;
    // Every byte of every file below the folder, for searching secrets.
    QByteArray allFileContents() const;

private:
    QTemporaryDir m_dir;
    EnvGuard m_env;
    EnvGuard m_state;
};

// A fake xdg-open placed first on PATH: it records each argument it is started with.
class FakeBrowser
{
public:
    FakeBrowser();
    // Arguments received so far, one per launch.
    QStringList launches() const;
    // Waits up to timeoutMs for at least n launches.
    bool waitForLaunches(int n, int timeoutMs = 5000) const;
    QString logFile() const;

private:
    QTemporaryDir m_dir;
    EnvGuard m_path;
};

// Runs the event loop in steps of stepMs until done() holds; false when timeoutMs passed first.
bool waitUntil(const std::function<bool()> &done, int timeoutMs, int stepMs = 10);
