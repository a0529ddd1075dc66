#include "singleinstance.h"

#include "base/logging.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>

namespace {

const QByteArray RaiseRequest = QByteArrayLiteral("raise\n");
const QByteArray RaisedAnswer = QByteArrayLiteral("raised\n");

// The path with symbolic links and "..", resolved as far as the folders exist: the settings
// folder itself may not have been made yet.
QString resolvedPath(const QString &path)
{
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QStringList missing;
    while (!info.exists() && !info.isRoot() && !info.fileName().isEmpty()) {
        missing.prepend(info.fileName());
        info = QFileInfo(info.absolutePath());
    }
    QString resolved = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    for (const QString &part : missing)
        resolved += QLatin1Char('/') + part;
    return resolved;
}

} // namespace

SingleInstance::SingleInstance(const QString &settingsPath, const QString &runtimeDir)
{
    QString dir = runtimeDir;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!dir.isEmpty())
        m_base = dir + QStringLiteral("/ormix-") + keyFor(settingsPath);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::keyFor(const QString &settingsPath)
{
    const QByteArray hash =
        QCryptographicHash::hash(resolvedPath(settingsPath).toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(hash.toHex().left(16));
}

bool SingleInstance::claim()
{
    if (m_base.isEmpty()) {
        qCWarning(lcInstance) << "no runtime folder; another copy would not be noticed";
        return true;
    }
    return tryLock(false);
}

bool SingleInstance::tryLock(bool quiet)
{
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Held for the whole run: only a dead owner makes the lock stale, never its age.
    m_lock->setStaleLockTime(0);
    qint64 pid = 0;
    QString host;
    QString app;
    const bool leftOver = m_lock->getLockInfo(&pid, &host, &app);
    if (m_lock->tryLock(0)) {
        if (leftOver)
            qCInfo(lcInstance) << "took over the lock left by process" << pid;
        qCInfo(lcInstance) << "running as the one copy for these settings:" << lockPath();
        return true;
    }
    if (m_lock->error() != QLockFile::LockFailedError) {
        qCWarning(lcInstance) << "cannot lock" << lockPath()
                              << "; another copy would not be noticed";
        return true;
    }
    m_lock.reset();
    if (!quiet)
        qCInfo(lcInstance) << "already running as process" << pid;
    return false;
}

bool SingleInstance::listen()
{
    if (!m_lock || !m_lock->isLocked() || m_server)
        return false;
    // A socket file left by a killed run would refuse the address; the lock is ours.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath())) {
        qCWarning(lcInstance) << "cannot listen at" << socketPath() << ":"
                              << m_server->errorString();
        return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::answer);
    qCInfo(lcInstance) << "listening for later starts at" << socketPath();
    return true;
}

void SingleInstance::stopListening()
{
    delete m_server;
    m_server = nullptr;
}

void SingleInstance::answer()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > 64)
                    socket->abort(); // not one of ours
                return;
            }
            if (socket->readLine(64) == RaiseRequest) {
                qCInfo(lcInstance) << "another start asked for this run; coming to the front";
                socket->write(RaisedAnswer);
                socket->flush();
                emit raiseRequested();
            }
            socket->disconnectFromServer();
        });
    }
}

SingleInstance::Handover SingleInstance::claimOrRaise(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // The running copy listens right after it took the lock, and stops listening a little
    // before it lets go of it at the end of its run: between the two, ask and try again.
    while (!deadline.hasExpired()) {
        if (tryLock(true)) {
            qCInfo(lcInstance) << "the running copy has quit; running in its place";
            return Handover::Claimed;
        }
        if (askToRaise(static_cast<int>(std::min<qint64>(deadline.remainingTime(), 1000))))
            return Handover::Raised;
        QThread::msleep(100);
    }
    qCWarning(lcInstance) << "the running copy did not answer at" << socketPath() << "nor let go of"
                          << lockPath();
    return Handover::Busy;
}

bool SingleInstance::askToRaise(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(static_cast<int>(deadline.remainingTime())))
        return false;
    socket.write(RaiseRequest);
    socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
    while (!socket.canReadLine() &&
           socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    }
    return socket.readLine(64) == RaisedAnswer;
}
