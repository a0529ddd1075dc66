#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QDBusServiceWatcher;

// Whether the desktop has a tray to put an icon in, and when that changes: a
// StatusNotifierWatcher on the session bus with a host registered (the panels of KDE, GNOME
// with the AppIndicator extension and most others), or else an X11 system tray (the
// _NET_SYSTEM_TRAY selection's owner). The watcher is followed on the bus, so a panel that
// starts after Ormix is seen; an X11 tray is looked for again every few seconds while there
// is none. Nothing blocks: the bus answers through the event loop.
class TrayAvailability final : public QObject
{
    Q_OBJECT
public:
    explicit TrayAvailability(QObject *parent = nullptr);
    ~TrayAvailability() override;
    TrayAvailability(const TrayAvailability &) = delete;
    TrayAvailability &operator=(const TrayAvailability &) = delete;

    // False until the bus has answered the first question.
    bool isKnown() const { return m_known; }
    bool hasStatusNotifierHost() const { return m_host; }
    bool hasX11Tray() const { return m_x11; }
    bool isAvailable() const { return m_host || m_x11; }

    // What the settings dialog says while there is no tray, and while it is being looked for.
    static QString unavailableText();
    static QString lookingText();

    // Whether an X11 system tray runs on the display Ormix uses (false off X11).
    static bool x11TrayRuns();

signals:
    // isKnown, hasStatusNotifierHost or hasX11Tray changed.
    void changed();

private slots:
    // Asks the watcher, if any, whether a host is registered.
    void askWatcher();

private:
    void lookForX11Tray();

    QDBusServiceWatcher *m_watcher = nullptr;
    QTimer m_x11Look;
    bool m_known = false;
    bool m_host = false;
    bool m_x11 = false;
    // Answers to an older question are ignored.
    int m_question = 0;
};
