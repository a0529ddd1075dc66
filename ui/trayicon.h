#pragma once

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class DashboardModel;
class QAction;
class QMenu;
class QSystemTrayIcon;
class StatusStrip;

// The icon in the panel's tray, for those who would rather have it than the strip, or both:
// the emblem, marked while any box is lit and while notices are paused; a tooltip with today's
// count, the new items per kind and how reading goes; a left click brings the strip up; its
// menu holds the strip's rows and commands, and "스트립 숨기기" (hide the strip for this run).
// Qt speaks StatusNotifierItem where a watcher runs and the X11 tray protocol elsewhere.
class TrayIcon final : public QObject
{
    Q_OBJECT
public:
    TrayIcon(DashboardModel &model, StatusStrip &strip, QObject *parent = nullptr);
    // Shows the strip again if it hid it: without the icon it is the only way back.
    ~TrayIcon() override;
    TrayIcon(const TrayIcon &) = delete;
    TrayIcon &operator=(const TrayIcon &) = delete;

    QSystemTrayIcon *systemTrayIcon() const { return m_icon.get(); }
    QMenu *menu() const { return m_menu.get(); }
    QAction *hideStripAction() const { return m_hideStrip; }

    // The tooltip's text.
    QString toolTipText() const;
    // The icon's picture at size x size: lit marks a red dot, paused two bars.
    static QImage renderIcon(int size, bool lit, bool paused);

    // What a left click does.
    void bringStripUp();

private:
    void refresh();

    DashboardModel &m_model;
    QPointer<StatusStrip> m_strip;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_hideStrip = nullptr; // in m_menu
    std::unique_ptr<QSystemTrayIcon> m_icon;
    bool m_shownLit = false;
    bool m_shownPaused = false;
    bool m_iconSet = false;
};
