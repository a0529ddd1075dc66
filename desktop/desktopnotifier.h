#pragma once

#include "model/recentitem.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// Sends each notice to the desktop's notification server as well
// (org.freedesktop.Notifications on the session bus). Nothing waits on the server: calls
// go out and their answers come back through the event loop. Each kind has one notification
// of its own, which the kind's next notice replaces; a notice that comes while the server
// has not yet told the id of its kind's last one is sent once it has. Without a server
// nothing happens, and nothing is retried until the next notice. Activating a notification
// asks for its item, as a click on the notice does; its "읽음" action, where the server shows
// actions, marks its kind read without opening anything. Besides the kinds' notifications
// there is one of how reading goes (a long outage, and its end), which the next replaces.
class DesktopNotifier final : public QObject
{
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);
    ~DesktopNotifier() override;
    DesktopNotifier(const DesktopNotifier &) = delete;
    DesktopNotifier &operator=(const DesktopNotifier &) = delete;

    // Off by default; switching on listens for the server's action signals.
    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }
    // The server's id of the kind's notification once it answered; 0 before, and once the
    // server closed it.
    uint notificationId(ItemKind kind) const { return m_kinds[indexOf(kind)].id; }
    // True while the first question to the server is unanswered.
    bool isAskingServer() const { return m_asking; }

    // Sends one notification of item with a default action (and "읽음").
    void notify(ItemKind kind, const QString &heading, const QString &text, const RecentItem &item);
    // Sends the notification of how reading goes, without actions.
    void notifyStatus(const QString &heading, const QString &text);
    // The server's id of that notification, as notificationId.
    uint statusNotificationId() const { return m_kinds[StatusSlot].id; }

    // Text for a server that reads the body as markup: &, < and > escaped.
    static QString escapeMarkup(const QString &text);

signals:
    // The user activated the notification of this item (its default action).
    void itemRequested(ItemKind kind, const RecentItem &item);
    // The user chose "읽음" on a notification of this kind.
    void kindRead(ItemKind kind);

private slots:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    // The slots after the kinds': the notification of how reading goes.
    static constexpr std::size_t StatusSlot = ItemKindCount;

    struct Notice
    {
        std::size_t slot = 0;
        ItemKind kind = ItemKind::Comment;
        QString heading;
        QString text;
        RecentItem item;
    };
    struct Kind
    {
        // The server's id of the kind's notification, which the next one replaces.
        uint id = 0;
        // A Notify is out and its answer, with the id, has not come yet.
        bool sending = false;
        // The newest notice of the kind while one is out or the server is being asked.
        std::optional<Notice> waiting;
    };

    // Sends now, or keeps it as its slot's waiting one until the server can take it.
    void post(Notice notice);
    void askCapabilities();
    void send(const Notice &notice);
    void sendWaiting();

    bool m_enabled = false;
    bool m_listening = false;
    // Unknown until the server answered GetCapabilities.
    std::optional<QStringList> m_capabilities;
    bool m_asking = false;
    std::array<Kind, ItemKindCount + 1> m_kinds;
    QHash<uint, Notice> m_sent;
};
