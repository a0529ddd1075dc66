#pragma once

#include <QObject>

class QAction;
class QMenu;

// The commands both the strip's menu and the tray icon's offer besides the strip's own rows:
// made once, shown in each menu, acted on by whoever connects their triggered() signals.
class CommandActions final : public QObject
{
    Q_OBJECT
public:
    explicit CommandActions(QObject *parent = nullptr);
    ~CommandActions() override;
    CommandActions(const CommandActions &) = delete;
    CommandActions &operator=(const CommandActions &) = delete;

    QAction *const checkNow;      // "지금 확인": one poll at once
    QAction *const markAllRead;   // "모두 읽음으로 표시": every box unlit, everything seen
    QAction *const pauseHour;     // "1시간": notices paused for an hour
    QAction *const pauseTomorrow; // "내일까지": notices paused until local midnight
    QAction *const resume;        // "다시 알리기": notices again; enabled while paused
    QAction *const openDashboard; // "관리 페이지 열기": the dashboard in the web browser

    // Adds "지금 확인", "모두 읽음으로 표시" and the "알림 일시 중지" submenu to menu.
    void addTopRows(QMenu *menu) const;
    // Whether notices are paused now: only then can they be resumed.
    void setPaused(bool paused);

    static QString pauseMenuTitle();
};
