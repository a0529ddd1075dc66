#include "testenv.h"

#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

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

UrlRecorder::UrlRecorder()
{
    for (const QString &scheme : {QStringLiteral("http"), QStringLiteral("https")})
        QDesktopServices::setUrlHandler(scheme, this, "open");
}

UrlRecorder::~UrlRecorder()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

void UrlRecorder::open(const QUrl &url)
{
    m_opened << QString::fromUtf8(url.toEncoded());
}

QString desktopEntryProblems(const QString &path)
{
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        return QStringLiteral("desktop-file-validate is not installed");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(validator, {path});
    if (!p.waitForFinished())
        return QStringLiteral("desktop-file-validate did not finish");
    const QString said = QString::fromLocal8Bit(p.readAll()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return said.isEmpty() ? QStringLiteral("desktop-file-validate failed") : said;
    return said;
}
