#pragma once

#include "model/recentitem.h"

#include <QFont>
#include <QImage>
#include <QRect>
#include <QSequentialAnimationGroup>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <string>

class DashboardModel;
class QVariantAnimation;

// The notice that slides up from the lower right corner of the work area to announce
// a new comment, trackback or guestbook entry: each announcement the model makes, one after
// another, each with its whole slide. It keeps one announcement per kind waiting, a newer
// one in the place of an older, and drops it once the kind is attended to or the item is
// gone. A click asks for the shown item to be opened.
//
// The slide runs on Qt's animation timer: a test that installs its own QAnimationDriver
// drives it by hand.
class NoticePopup final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int Width = 150;
    static constexpr int FullHeight = 80;
    static constexpr int StartHeight = 10;
    // One pixel per step while it rises and falls.
    static constexpr int TickMs = 20;
    static constexpr int RiseSteps = FullHeight - StartHeight;
    static constexpr int FallSteps = FullHeight;
    // The hold lasts more than this, and as long as the pointer rests on the notice.
    static constexpr int HoldMs = 1500;
    static constexpr int Margin = 12;
    static constexpr int HeadingGap = 8;

    // The work area the next announcement rises in, read at each announcement.
    using WorkAreaSource = std::function<QRect()>;

    explicit NoticePopup(DashboardModel &model);
    ~NoticePopup() override;
    NoticePopup(const NoticePopup &) = delete;
    NoticePopup &operator=(const NoticePopup &) = delete;

    // Makes the font; until then nothing is shown and announcements wait.
    bool prepare();

    // Announces an item: at once when the notice is idle, else after what it shows and what
    // waits before it in box order. True when it is shown now.
    bool announce(ItemKind kind, const RecentItem &item);
    // Hides what shows and drops what waits.
    void withdraw();

    // Where announcements rise; by default the primary screen's work area. A fixed area is
    // for tests.
    void setWorkArea(WorkAreaSource source);
    void setWorkArea(const QRect &area);

    // The heading of a kind's notice.
    static QString heading(ItemKind kind);

signals:
    // A click on the notice: the person wants the shown item.
    void itemRequested(ItemKind kind, const RecentItem &item);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void start(ItemKind kind, const RecentItem &item);
    void startNext();
    void finish();
    // Drops what waits for a kind attended to, or for an item that left its list.
    void dropStale();
    // Moves the top edge to the step's place: steps up from the 10-pixel strip while rising,
    // down from the full height while falling.
    void riseTo(const QVariant &value);
    void fallTo(const QVariant &value);
    void setTop(int top);
    void holdUnderPointer();
    int workAreaBottom() const { return m_workArea.y() + m_workArea.height(); }
    void updateAccessibleText();
    // Lays the item text out once per item (and screen); every step paints this picture.
    void layOutText();
    QRect textRect() const;

    DashboardModel &m_model;
    WorkAreaSource m_workAreaSource;
    QRect m_workArea;
    std::string m_text;
    std::string m_link;
    // The full 150 x 80 rectangle; its lower part may lie below the work area.
    QRect m_planned;
    QFont m_font;
    QImage m_textPicture;
    ItemKind m_kind = ItemKind::Comment;
    std::array<std::optional<RecentItem>, ItemKindCount> m_waiting;
    bool m_created = false;
    bool m_pointerOver = false;
    QSequentialAnimationGroup m_slide;
    QVariantAnimation *m_rise = nullptr;
    QVariantAnimation *m_hold = nullptr;
    QVariantAnimation *m_fall = nullptr;
};
