#include "trayavailability.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#if defined(ORMIX_HAVE_XCB)
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <string>
#endif

namespace {

const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString WatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
// An X11 tray that comes later is found within this time.
constexpr int X11LookMs = 5000;

} // namespace

TrayAvailability::TrayAvailability(QObject *parent) : QObject(parent)
{
    m_x11 = x11TrayRuns();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_watcher = new QDBusServiceWatcher(WatcherService, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                &TrayAvailability::askWatcher);
        // A panel that registers its host after the watcher came up.
        bus.connect(WatcherService, WatcherPath, WatcherInterface,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(askWatcher()));
        askWatcher();
    } else {
        m_known = true;
    }
    m_x11Look.setInterval(X11LookMs);
    connect(&m_x11Look, &QTimer::timeout, this, &TrayAvailability::lookForX11Tray);
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_x11Look.start();
}

TrayAvailability::~TrayAvailability() = default;

QString TrayAvailability::unavailableText()
{
    return QStringLiteral("아이콘을 둘 알림 영역(시스템 트레이)을 찾을 수 없습니다.");
}

QString TrayAvailability::lookingText()
{
    return QStringLiteral("알림 영역을 찾는 중입니다.");
}

void TrayAvailability::askWatcher()
{
    // Qt decides by this very property whether to speak StatusNotifierItem.
    QDBusMessage get = QDBusMessage::createMethodCall(
        WatcherService, WatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get.setArguments({WatcherInterface, QStringLiteral("IsStatusNotifierHostRegistered")});
    const int question = ++m_question;
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, question](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                if (question != m_question)
                    return;
                const QDBusPendingReply<QDBusVariant> reply = *w;
                const bool known = m_known;
                m_known = true;
                const bool host = reply.isValid() && reply.value().variant().toBool();
                if (host != m_host || !known) {
                    m_host = host;
                    emit changed();
                }
            });
}

void TrayAvailability::lookForX11Tray()
{
    const bool x11 = x11TrayRuns();
    if (x11 == m_x11)
        return;
    m_x11 = x11;
    emit changed();
}

bool TrayAvailability::x11TrayRuns()
{
#if defined(ORMIX_HAVE_XCB)
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return false;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();
    // The tray of the display's default screen owns _NET_SYSTEM_TRAY_S<screen>; DISPLAY names
    // the screen after its dot (":0.1"), screen 0 without one.
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype dot = display.lastIndexOf('.');
    const int screen = dot > display.lastIndexOf(':') ? display.mid(dot + 1).toInt() : 0;
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    const auto atomCookie =
        xcb_intern_atom(connection, 1, static_cast<uint16_t>(name.size()), name.c_str());
    xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(connection, atomCookie, nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    const auto ownerCookie = xcb_get_selection_owner(connection, selection);
    xcb_get_selection_owner_reply_t *owner =
        xcb_get_selection_owner_reply(connection, ownerCookie, nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
#else
    return false;
#endif
}
