#include "desktopnotifier.h"

#include "base/logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <iterator>
#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");
const QString ReadAction = QStringLiteral("read");
// Notifications a server still shows; beyond that the oldest are forgotten.
constexpr int MaxRemembered = 16;

QDBusMessage call(const QString &method)
{
    return QDBusMessage::createMethodCall(Service, Path, Interface, method);
}

// What the log calls a slot's notification: its kind, never its text.
const char *slotName(std::size_t slot)
{
    static constexpr const char *Names[] = {"comment", "trackback", "guestbook", "reading status"};
    return slot < std::size(Names) ? Names[slot] : "?";
}

// Drops the notices waiting in every slot, and says how many went.
void dropWaiting(auto &kinds, const QString &why)
{
    int dropped = 0;
    for (auto &kind : kinds)
        dropped += kind.waiting ? 1 : 0;
    for (auto &kind : kinds)
        kind.waiting.reset();
    if (dropped > 0)
        qCWarning(lcNotice).noquote()
            << "desktop notification failed:" << why << "-" << dropped << "not sent";
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled) {
        for (Kind &kind : m_kinds)
            kind.waiting.reset();
    }
    if (!enabled || m_listening)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(QString(), Path, Interface, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(QString(), Path, Interface, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
    m_listening = true;
}

QString DesktopNotifier::escapeMarkup(const QString &text)
{
    // toHtmlEscaped also turns quotes into entities, which servers show as they are.
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'&')
            out += QStringLiteral("&amp;");
        else if (c == u'<')
            out += QStringLiteral("&lt;");
        else if (c == u'>')
            out += QStringLiteral("&gt;");
        else
            out += c;
    }
    return out;
}

void DesktopNotifier::notify(ItemKind kind, const QString &heading, const QString &text,
                             const RecentItem &item)
{
    if (!m_enabled)
        return;
    post({indexOf(kind), kind, heading, text, item});
}

void DesktopNotifier::notifyStatus(const QString &heading, const QString &text)
{
    if (!m_enabled)
        return;
    post({StatusSlot, ItemKind::Comment, heading, text, {}});
}

void DesktopNotifier::post(Notice notice)
{
    Kind &state = m_kinds[notice.slot];
    // Sent now it would not replace the slot's last notification, whose id is not known yet.
    if (!m_capabilities || state.sending) {
        state.waiting = std::move(notice);
        if (!m_capabilities)
            askCapabilities();
        return;
    }
    send(notice);
}

void DesktopNotifier::askCapabilities()
{
    if (m_asking)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        dropWaiting(m_kinds, QStringLiteral("no session bus"));
        return;
    }
    m_asking = true;
    auto *watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QStringList> reply = *w;
        if (!reply.isValid()) {
            // No server: these notices are dropped, the next one asks again.
            dropWaiting(m_kinds, reply.error().name());
            return;
        }
        m_capabilities = reply.value();
        sendWaiting();
    });
}

void DesktopNotifier::sendWaiting()
{
    for (Kind &kind : m_kinds) {
        if (m_enabled && m_capabilities && !kind.sending && kind.waiting)
            send(*std::exchange(kind.waiting, std::nullopt));
    }
}

void DesktopNotifier::send(const Notice &notice)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool markup = m_capabilities->contains(QStringLiteral("body-markup"));
    Kind &state = m_kinds[notice.slot];
    const bool item = notice.slot != StatusSlot;
    QDBusMessage message = call(QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("ormix"));
    hints.insert(QStringLiteral("category"),
                 item ? QStringLiteral("im.received") : QStringLiteral("network.error"));
    QStringList actions;
    if (item) {
        actions = QStringList{DefaultAction, QStringLiteral("열기")};
        // A server without actions would show "읽음" as nothing to click at best.
        if (m_capabilities->contains(QStringLiteral("actions")))
            actions << ReadAction << QStringLiteral("읽음");
    }
    message.setArguments({QStringLiteral("Ormix"), state.id, QStringLiteral("ormix"),
                          notice.heading, markup ? escapeMarkup(notice.text) : notice.text, actions,
                          hints, int(-1)});
    state.sending = true;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                Kind &state = m_kinds[notice.slot];
                state.sending = false;
                const QDBusPendingReply<uint> reply = *w;
                if (!reply.isValid()) {
                    qCWarning(lcNotice).noquote()
                        << "desktop notification failed:" << reply.error().name() << "-"
                        << slotName(notice.slot) << "not sent";
                    // The server went away: ask again before the next notice.
                    m_capabilities.reset();
                    state.id = 0;
                    if (state.waiting)
                        askCapabilities();
                    return;
                }
                const uint id = reply.value();
                qCInfo(lcNotice) << "desktop notification sent:" << slotName(notice.slot);
                if (m_sent.size() >= MaxRemembered && !m_sent.contains(id))
                    m_sent.erase(m_sent.begin());
                m_sent.insert(id, notice);
                state.id = id;
                sendWaiting();
            });
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    const auto it = m_sent.constFind(id);
    if (it == m_sent.constEnd() || it->slot == StatusSlot)
        return;
    // Copies: whoever opens the item may have the next notice sent, which changes the table.
    const ItemKind kind = it->kind;
    const RecentItem item = it->item;
    if (action == DefaultAction)
        emit itemRequested(kind, item);
    else if (action == ReadAction)
        emit kindRead(kind);
}

void DesktopNotifier::onNotificationClosed(uint id, uint)
{
    m_sent.remove(id);
    for (Kind &kind : m_kinds) {
        if (kind.id == id)
            kind.id = 0;
    }
}
