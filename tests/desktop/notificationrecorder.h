#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

// A notification server on the session bus (a connection of its own) that records what it is sent
// and can act as the user would.
class NotificationRecorder final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Received
    {
        QString appName;
        uint replacesId = 0;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        uint id = 0;
    };

    explicit NotificationRecorder(QStringList capabilities)
        : m_capabilities(std::move(capabilities)),
          m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                              QStringLiteral("notification-recorder")))
    {
    }
    NotificationRecorder(const NotificationRecorder &) = delete;
    NotificationRecorder &operator=(const NotificationRecorder &) = delete;
    ~NotificationRecorder() override { stop(); }

    bool start()
    {
        return m_bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                    QDBusConnection::ExportAllSlots |
                                        QDBusConnection::ExportAllSignals) &&
               m_bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    void stop()
    {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }

    QList<Received> received;
    int capabilityQuestions = 0;
    // Called with each notification as it arrives.
    std::function<void(const Received &)> onRecorded;

    // What the server sends when the user clicks the notification.
    void invokeDefault(uint id) { invoke(id, QStringLiteral("default")); }
    // ...or one of its action buttons.
    void invoke(uint id, const QString &action)
    {
        emit ActionInvoked(id, action);
        emit NotificationClosed(id, 2);
    }

public slots:
    QStringList GetCapabilities()
    {
        ++capabilityQuestions;
        return m_capabilities;
    }
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int)
    {
        const uint id = replacesId != 0 ? replacesId : ++m_nextId;
        received.append({appName, replacesId, appIcon, summary, body, actions, hints, id});
        if (onRecorded)
            onRecorded(received.constLast());
        return id;
    }
    void CloseNotification(uint) {}
    QString GetServerInformation(QString &vendor, QString &version, QString &specVersion)
    {
        vendor = QStringLiteral("Ormix tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("recorder");
    }

signals:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);

private:
    QStringList m_capabilities;
    QDBusConnection m_bus;
    uint m_nextId = 0;
};
