#pragma once

#include <QDBusConnection>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

// A StatusNotifierWatcher on the session bus (a connection of its own), standing in for a
// panel's: it records the items that register and says a host is there. Qt reads
// IsStatusNotifierHostRegistered through introspection, so it is a declared property.
class StatusNotifierWatcher final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)

public:
    explicit StatusNotifierWatcher(const QDBusConnection &bus) : m_bus(bus) {}

    bool start()
    {
        return m_bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                    QDBusConnection::ExportAllSlots |
                                        QDBusConnection::ExportAllProperties) &&
               m_bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    void stop()
    {
        m_bus.unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
        m_bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    }

    QStringList RegisteredStatusNotifierItems() const
    {
        const QMutexLocker lock(&m_mutex);
        return m_items;
    }
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString &service)
    {
        const QMutexLocker lock(&m_mutex);
        m_items << service;
    }
    void RegisterStatusNotifierHost(const QString &) {}

private:
    QDBusConnection m_bus;
    mutable QMutex m_mutex;
    QStringList m_items;
};

// The watcher on a thread of its own, as a panel is a process of its own: Qt asks it with
// blocking calls, which the thread that runs the icon could not answer itself.
class WatcherThread
{
public:
    WatcherThread()
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                              QStringLiteral("status-notifier-watcher")))
    {
        m_thread.start();
        m_watcher = new StatusNotifierWatcher(m_bus);
        m_watcher->moveToThread(&m_thread);
    }
    WatcherThread(const WatcherThread &) = delete;
    WatcherThread &operator=(const WatcherThread &) = delete;
    ~WatcherThread()
    {
        StatusNotifierWatcher *watcher = m_watcher;
        QMetaObject::invokeMethod(
            watcher,
            [watcher] {
                watcher->stop();
                delete watcher;
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
        QDBusConnection::disconnectFromBus(QStringLiteral("status-notifier-watcher"));
    }

    bool start()
    {
        bool started = false;
        StatusNotifierWatcher *watcher = m_watcher;
        QMetaObject::invokeMethod(
            watcher, [watcher, &started] { started = watcher->start(); },
            Qt::BlockingQueuedConnection);
        return started;
    }
    // Every registration, as the item named itself.
    QStringList items() const { return m_watcher->RegisteredStatusNotifierItems(); }
    // The watcher's connection, which a panel reads the items through.
    QDBusConnection bus() const { return m_bus; }

private:
    QDBusConnection m_bus;
    QThread m_thread;
    StatusNotifierWatcher *m_watcher = nullptr;
};
