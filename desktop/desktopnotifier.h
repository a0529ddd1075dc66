#pragma once

#include "state/recentitem.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <string>

class DashboardModel;
class QDBusPendingCallWatcher;

// Sends each notice to the desktop's notification server as well
// (org.freedesktop.Notifications on the session bus). Nothing waits on the server: calls
// go out and their answers come back through the event loop. Without a server nothing
// happens, and nothing is retried until the next notice. Activating a notification does
// what a click on the notice does: the item opens and the model hears that the user
// attended to its kind.
class DesktopNotifier final : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(DashboardModel &model, QObject *parent = nullptr);
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier &) = delete;
    DesktopNotifier &operator=(const DesktopNotifier &) = delete;

    // Off by default; switching on listens for the server's action signals.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // The server's id of the newest notification once it answered; 0 before.
    uint lastNotificationId() const { return m_lastId; }
    // True while the first question to the server is unanswered.
    bool isAskingServer() const { return m_asking; }

    // Sends one notification with a default action; the newest replaces the one before.
    void notify(ItemKind kind, const QString &heading, const QString &text,
                const std::string &link);

    // Text for a server that reads the body as markup: &, < and > escaped.
    static QString escapeMarkup(const QString &text);

signals:
    // The user activated the notification of this item (its default action), which has
    // been opened.
    void activated(ItemKind kind, const std::string &link);

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Item
    {
        ItemKind kind = ItemKind::Comment;
        QString heading;
        QString text;
        std::string link;
    };

    void askCapabilities();
    void send(const Item &item);

    DashboardModel &m_model;
    bool m_enabled = false;
    bool m_listening = false;
    // Unknown until the server answered GetCapabilities.
    std::optional<QStringList> m_capabilities;
    bool m_asking = false;
    std::optional<Item> m_waiting;
    uint m_lastId = 0;
    QHash<uint, Item> m_sent;
};
