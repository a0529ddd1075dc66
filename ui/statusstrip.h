#pragma once

#include "model/recentitem.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>

class CommandActions;
class NoticePopup;
class RecentItemsPopup;
class DashboardModel;
class Settings;

// The always-on-top strip with today's count and the R, T, G and X boxes: the user's
// one control surface. It shows the model and follows its changes; it owns the notice and
// the recent-items list.
class StatusStrip final : public QWidget
{
    Q_OBJECT
public:
    // What a left press does where the pointer rests: move the strip, widen it, or press a box.
    enum class PointerMode
    {
        Move,
        ResizeWidth,
        Normal
    };
    enum class Box
    {
        Comments,
        Trackbacks,
        Guestbook,
        Close
    };
    Q_ENUM(PointerMode)
    Q_ENUM(Box)

    static constexpr int DefaultLeft = 100;
    static constexpr int DefaultTop = 100;
    static constexpr int DefaultWidth = 150;
    static constexpr int DefaultHeight = 23;
    static constexpr int MaxTransparency = 95;
    static constexpr int ResizeGrip = 4;

    // The strip's transparency follows the stored one, from now on; a drag stores its place
    // and size.
    StatusStrip(DashboardModel &model, Settings &settings);
    ~StatusStrip() override;
    StatusStrip(const StatusStrip &) = delete;
    StatusStrip &operator=(const StatusStrip &) = delete;

    // Creates the children and shows the strip at rect (from the settings). A rect that
    // meets no screen is moved to the default place on the primary screen.
    bool showAt(const QRect &rect);

    // Brings the strip up to date with the model: lights the boxes, comes to the top while
    // something is new, and is opaque while the last reading brought something new. Runs
    // after every poll and every change of a mark.
    void refresh();
    // Applies a transparency in percent (capped at 95).
    void setTransparency(int percent);

    // Applies the stored "Transparency", the current level being its default.
    void restoreTransparency();
    int transparency() const { return m_transparency; }
    // The opacity applied, 0..255, from the transparency in integer arithmetic.
    int alpha() const { return (100 - m_transparency) * 255 / 100; }

    PointerMode pointerMode() const { return m_pointerMode; }
    bool isDragging() const { return m_dragging; }
    // Where a box is, in the strip's coordinates; its lit fill reaches one pixel further
    // right and down.
    QRect boxRect(Box box) const;

    // The commands the menu offers above its own rows (not owned; null for none).
    void setCommands(CommandActions *commands);
    // The menu's rows are the commands' and then the strip's actions(), in order, separators
    // included; each is connected to what it asks for. Runs the menu at a screen point.
    void showContextMenu(const QPoint &globalPos);
    // Adds those rows to menu (the tray icon's menu is the strip's with one row more).
    void addMenuRows(QMenu *menu) const;

    // Replaces the emblem; a null image (a resource that did not load) draws the count
    // without it.
    void setEmblem(const QImage &emblem);

    // The page the update row opens; when empty the row asks for the about box instead.
    // The build's ORMIX_UPDATE_URL unless a test sets another.
    void setUpdateUrl(const std::string &url) { m_updateUrl = url; }

    // The tooltip's text: the last good reading and what failed last, and a pause.
    QString pollStatusText() const;
    // The same lines for a model, with failure as it is to be shown.
    static QString pollStatusText(const DashboardModel &model, const QString &failure);
    // The rectangle of the mark that says notices are paused (client coordinates).
    QRect pauseMarkRect() const;
    // True until the first good reading of the dashboard: "  Admin 접속 중..." and no boxes.
    bool isConnecting() const;
    // True while the latest poll failed: the count is drawn in grey until a good reading.
    bool isStale() const;

    // The work area of the screen the strip is on, where the notice rises.
    QRect workArea() const;

    NoticePopup *notice() const { return m_notice.get(); }
    // Made when first asked for: a list nobody opens costs no widgets and no fonts.
    RecentItemsPopup *recentItems();

    // Where a stored rect is shown: unchanged when it meets a screen, else at the
    // default place on the primary screen. An empty size, or one larger than the biggest
    // screen's available area (when given), becomes the default size.
    static QRect visiblePlacement(const QRect &stored, const QList<QRect> &screens,
                                  const QRect &primary, const QSize &largestAvailable = {});

    static constexpr const char *EmblemResource = ":/ormix/emblem.xpm";

signals:
    // The X box or the exit row: the controller ends the run.
    void closeRequested();
    // The menu's settings row: the controller runs the settings dialog.
    void settingsRequested();
    // The person wants this item opened: a click on a lit box (its newest item; an empty
    // one when its list is empty), on the notice, or a double click on a list row. Whoever
    // opens it clears the kind's mark.
    void itemRequested(ItemKind kind, const RecentItem &item);
    // A double click, or the menu's first row: the blog is to open in the web browser.
    void blogRequested();
    // The update row, when the build names no update page: the app shows the about box.
    void aboutRequested();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // The menu's rows, made once: a command is added here and nowhere else.
    void createActions();
    void checkForUpdate();
    void layoutBoxes();
    void updateCursor();
    void clickKindBox(ItemKind kind, const QPoint &globalPos);
    void pressBox(Box box, const QPoint &globalPos);
    void moveFocus(bool forward);
    void showPollStatus();
    void drawBox(QPainter &painter, Box box, QChar letter, bool lit) const;
    void savePosition();
    void updateAccessibleText();

    DashboardModel &m_model;
    Settings &m_settings;
    QPoint m_dragAnchor;
    bool m_dragging = false;
    QFont m_countFont;
    QFont m_boxFont;
    QImage m_emblem;
    PointerMode m_pointerMode = PointerMode::Normal;
    std::array<QRect, 4> m_boxes;
    // The box the keyboard is on: Tab and Shift+Tab move it, Return and Space press it.
    // None until the first Tab after the strip takes the focus.
    std::optional<Box> m_focusedBox;
    RecentItemsPopup *m_recentItems = nullptr; // a Qt child, deleted with this window
    std::unique_ptr<NoticePopup> m_notice;
    int m_transparency = 0;
    bool m_created = false;
    QString m_lastFailure;
    // What refresh last painted.
    struct Shown
    {
        bool connecting = true;
        bool stale = false;
        int count = -1;
        std::array<bool, ItemKindCount> lit{};
        bool paused = false;
        QSize size;
        bool operator==(const Shown &) const = default;
    };
    Shown m_shown;
    std::string m_updateUrl;
    QPointer<CommandActions> m_commands;
    QAction *m_settingsAction = nullptr; // the commands' dashboard row goes before it
};
