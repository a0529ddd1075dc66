#include "desktopnotifier.h"

#include "state/browserlaunch.h"
#include "state/dashboardmodel.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

#include <utility>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString DefaultAction = QStringLiteral("default");
// Notifications a server still shows; beyond that the oldest are forgotten.
constexpr int MaxRemembered = 16;

QDBusMessage call(const QString &method)
{
    return QDBusMessage::createMethodCall(Service, Path, Interface, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(DashboardModel &model, QObject *parent)
    : QObject(parent), m_model(model)
{
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::setEnabled(bool enabled)
{
    m_enabled = enabled;
    if (!enabled)
        m_waiting.reset();
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
                             const std::string &link)
{
    if (!m_enabled)
        return;
    Item item{kind, heading, text, link};
    if (m_capabilities) {
        send(item);
        return;
    }
    // Only the newest notice waits for the server's first answer.
    m_waiting = std::move(item);
    askCapabilities();
}

void DesktopNotifier::askCapabilities()
{
    if (m_asking)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        m_waiting.reset();
        return;
    }
    m_asking = true;
    auto *watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        m_asking = false;
        const QDBusPendingReply<QStringList> reply = *w;
        std::optional<Item> waiting = std::exchange(m_waiting, std::nullopt);
        if (!reply.isValid())
            return; // no server: this notice is dropped, the next one asks again
        m_capabilities = reply.value();
        if (waiting && m_enabled)
            send(*waiting);
    });
}

void DesktopNotifier::send(const Item &item)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool markup = m_capabilities->contains(QStringLiteral("body-markup"));
    QDBusMessage message = call(QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("ormix"));
    hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
    message.setArguments({QStringLiteral("Ormix"), m_lastId, QStringLiteral("ormix"), item.heading,
                          markup ? escapeMarkup(item.text) : item.text,
                          QStringList{DefaultAction, QStringLiteral("열기")}, hints, int(-1)});
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, item](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (!reply.isValid()) {
                    // The server went away: ask again before the next notice.
                    m_capabilities.reset();
                    return;
                }
                const uint id = reply.value();
                if (m_sent.size() >= MaxRemembered && !m_sent.contains(id))
                    m_sent.erase(m_sent.begin());
                m_sent.insert(id, item);
                m_lastId = id;
            });
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    const auto it = m_sent.constFind(id);
    if (it == m_sent.constEnd() || action != DefaultAction)
        return;
    // A copy: the strip may send the next notice at once, which changes the table.
    const ItemKind kind = it->kind;
    const std::string link = it->link;
    launchWebBrowser(link);
    m_model.clearNew(kind);
    emit activated(kind, link);
}

void DesktopNotifier::onNotificationClosed(uint id, uint)
{
    m_sent.remove(id);
    if (id == m_lastId)
        m_lastId = 0;
}
