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
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

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

// The web browser while it lives: takes every http and https address QDesktopServices is
// asked to open, in order, and starts nothing.
class UrlRecorder final : public QObject
{
    Q_OBJECT
public:
    UrlRecorder();
    ~UrlRecorder() override;
    UrlRecorder(const UrlRecorder &) = delete;
    UrlRecorder &operator=(const UrlRecorder &) = delete;

    // The addresses opened so far, encoded.
    QStringList opened() const { return m_opened; }

public slots:
    void open(const QUrl &url);

private:
    QStringList m_opened;
};

// What desktop-file-validate says of a desktop entry: empty when it finds nothing wrong.
// A missing validator is a finding too (the test scripts install it).
QString desktopEntryProblems(const QString &path);
