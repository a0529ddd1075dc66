#include "testenv.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <cstdlib>

EnvGuard::EnvGuard(const char *name, const QByteArray &value) : m_name(name)
{
    if (qEnvironmentVariableIsSet(name))
        m_old = qgetenv(name);
    qputenv(name, value);
}

EnvGuard::~EnvGuard()
{
    if (m_old)
        qputenv(m_name.constData(), *m_old);
    else
        qunsetenv(m_name.constData());
}

TempConfigHome::TempConfigHome()
    : m_env("XDG_CONFIG_HOME", m_dir.path().toLocal8Bit()),
      m_state("XDG_STATE_HOME", m_dir.path().toLocal8Bit() + "/state")
{
}

QString TempConfigHome::settingsFile() const
{
    return m_dir.path() + QStringLiteral("/Ormix/Ormix.conf");
}

QByteArray TempConfigHome::allFileContents() const
{
    QByteArray all;
    QDirIterator it(m_dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

static QByteArray pathWithFakeFirst(const QString &dir)
{
    return dir.toLocal8Bit() + ':' + qgetenv("PATH");
}

FakeBrowser::FakeBrowser() : m_path("PATH", pathWithFakeFirst(m_dir.path()))
{
    const QString script = m_dir.path() + QStringLiteral("/xdg-open");
    QFile f(script);
    if (f.open(QIODevice::WriteOnly)) {
        // Records its first argument exactly, one per line, NUL-free.
        f.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/launches.log\"\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

QString FakeBrowser::logFile() const
{
    return m_dir.path() + QStringLiteral("/launches.log");
}

QStringList FakeBrowser::launches() const
{
    QFile f(logFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool FakeBrowser::waitForLaunches(int n, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (launches().size() < n) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs, int stepMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(stepMs);
    }
    return true;
}
