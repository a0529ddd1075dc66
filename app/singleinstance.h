#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One Ormix per settings folder: a lock file in the runtime folder, keyed on the resolved
// settings path, and a local socket beside it through which a later start asks the running
// one to come to the front. A lock left by a killed process is taken over; one held by a
// copy that is quitting is taken once it lets go.
class SingleInstance final : public QObject
{
    Q_OBJECT
public:
    // runtimeDir empty: the user's runtime folder.
    explicit SingleInstance(const QString &settingsPath, const QString &runtimeDir = {});
    ~SingleInstance() override;
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this process is now the one for these settings (also when the runtime
    // folder cannot be used: better two copies than none).
    bool claim();
    // Listens for later starts; needs the application object.
    bool listen();
    void stopListening();
    enum class Handover
    {
        Claimed, // the running copy let go of the lock: this process is the one now
        Raised,  // the running copy answered and comes to the front
        Busy,    // it neither answered nor let go in time
    };
    // After claim() failed: asks the running copy to come to the front, and tries the lock
    // again between asks, since a copy that does not answer may be quitting. Needs an
    // application object.
    Handover claimOrRaise(int timeoutMs);

    QString lockPath() const { return m_base + QStringLiteral(".lock"); }
    QString socketPath() const { return m_base + QStringLiteral(".socket"); }
    // The key of a settings file: the same for every path that resolves to it.
    static QString keyFor(const QString &settingsPath);

signals:
    void raiseRequested();

private:
    bool tryLock(bool quiet);
    // One request to come to the front; true when the running copy answered it.
    bool askToRaise(int timeoutMs);
    void answer();

    QString m_base;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
