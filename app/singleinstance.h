#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;

// One Ormix per settings folder: a lock file in the runtime folder, keyed on the resolved
// settings path, and a local socket beside it through which a later start asks the running
// one to come to the front. A lock left by a killed process is taken over.
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
    // Asks the running copy to come to the front; true when it answered.
    bool askRunningToRaise(int timeoutMs);

    QString lockPath() const { return m_base + QStringLiteral(".lock"); }
    QString socketPath() const { return m_base + QStringLiteral(".socket"); }
    // The key of a settings file: the same for every path that resolves to it.
    static QString keyFor(const QString &settingsPath);

signals:
    void raiseRequested();

private:
    void answer();

    QString m_base;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer *m_server = nullptr;
};
