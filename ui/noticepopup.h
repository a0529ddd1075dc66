#pragma once

#include "state/recentitem.h"

#include <QBasicTimer>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string>

class DashboardModel;

// The notice that slides up from the lower right corner of the work area to announce
// a new comment, trackback or guestbook entry: each announcement the model makes, one after
// another, each with its whole slide. It keeps one announcement per kind waiting, a newer
// one in the place of an older, and drops it once the kind is attended to or the item is
// gone. A click asks for the shown item to be opened.
class NoticePopup final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Width = 150;
    static constexpr int FullHeight = 80;
    static constexpr int StartHeight = 10;
    static constexpr int TickMs = 20;
    static constexpr qint64 HoldMs = 1500;
    static constexpr int Margin = 12;
    static constexpr int HeadingGap = 8;

    enum class Phase
    {
        Rising,
        Holding,
        Falling
    };
    Q_ENUM(Phase)

    // Milliseconds on a monotonic clock.
    using Clock = std::function<qint64()>;

    explicit NoticePopup(DashboardModel &model);
    ~NoticePopup() override;
    NoticePopup(const NoticePopup &) = delete;
    NoticePopup &operator=(const NoticePopup &) = delete;

    // Makes the font and reads the work area once; until then nothing is shown and
    // announcements wait.
    bool prepare();
    bool isPrepared() const { return m_created; }

    // Announces an item: at once when the notice is idle, else after what it shows and what
    // waits before it in box order. True when it is shown now.
    bool announce(ItemKind kind, const RecentItem &item);
    // The announcement of kind waiting to be shown, if any.
    const std::optional<RecentItem> &waiting(ItemKind kind) const
    {
        return m_waiting[indexOf(kind)];
    }

    // One animation step, as the 20 ms timer runs it.
    void tick();
    // What a left click on the notice does: asks for the item, hides, and shows what waits.
    void click();
    // Hides what shows and drops what waits.
    void withdraw();

    // For tests and for callers that know better than the primary screen.
    void setWorkArea(const QRect &area) { m_workArea = area; }
    QRect workArea() const { return m_workArea; }
    void setClock(Clock clock);

    // The full 150 x 80 rectangle; its lower part may lie below the work area.
    QRect plannedRect() const { return m_planned; }
    Phase phase() const { return m_phase; }
    ItemKind kind() const { return m_kind; }
    const std::string &text() const { return m_text; }
    const std::string &link() const { return m_link; }
    bool isAnimating() const { return m_timer.isActive(); }

    // The heading of a kind's notice.
    static QString heading(ItemKind kind);

signals:
    // A click on the notice: the person wants the shown item.
    void itemRequested(ItemKind kind, const RecentItem &item);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void start(ItemKind kind, const RecentItem &item);
    void startNext();
    // Drops what waits for a kind attended to, or for an item that left its list.
    void dropStale();
    void applyPosition();
    int workAreaRight() const { return m_workArea.x() + m_workArea.width(); }
    int workAreaBottom() const { return m_workArea.y() + m_workArea.height(); }
    void updateAccessibleText();
    // Lays the item text out once per item; every tick paints this picture.
    void layOutText();
    QRect textRect() const;

    DashboardModel &m_model;
    QRect m_workArea;
    QBasicTimer m_timer;
    std::string m_text;
    std::string m_link;
    QRect m_planned;
    QFont m_font;
    QImage m_textPicture;
    Phase m_phase = Phase::Rising;
    qint64 m_holdStart = 0;
    ItemKind m_kind = ItemKind::Comment;
    std::array<std::optional<RecentItem>, ItemKindCount> m_waiting;
    bool m_created = false;
    QElapsedTimer m_monotonic;
    Clock m_clock;
};
