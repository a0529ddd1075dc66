#include "statusstrip.h"

#include "desktop/browser.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"
#include "ui/commandactions.h"
#include "ui/noticepopup.h"
#include "ui/recentitemspopup.h"
#include "ui/taskbarhint.h"
#include "ui/windowlook.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <string>

#ifndef ORMIX_UPDATE_URL
#define ORMIX_UPDATE_URL ""
#endif

namespace {

QString connectingText()
{
    return QStringLiteral("  Admin 접속 중...");
}

std::size_t indexOf(StatusStrip::Box box)
{
    return std::size_t(box);
}

} // namespace

StatusStrip::StatusStrip(DashboardModel &model, Settings &settings)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_model(model), m_settings(settings)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    // The strip is hardly ever the active window; its tooltip must show all the same.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    // Right button events come to mouseReleaseEvent; the menu opens on release.
    setContextMenuPolicy(Qt::PreventContextMenu);
    setCursor(Qt::ArrowCursor);
    // A click gives the keyboard to the strip; Tab then walks its boxes.
    setFocusPolicy(Qt::ClickFocus);
    setWindowTitle(QStringLiteral("Ormix"));
    m_updateUrl = ORMIX_UPDATE_URL;
    m_countFont = WindowLook::makeFont(12);
    m_boxFont = WindowLook::makeFont(11);
    m_emblem = QImage(QString::fromLatin1(EmblemResource));
    m_notice = std::make_unique<NoticePopup>(model);
    connect(m_notice.get(), &NoticePopup::itemRequested, this, &StatusStrip::itemRequested);
    m_notice->setWorkArea([this] { return workArea(); });
    createActions();
    setToolTip(pollStatusText());
    layoutBoxes();
    settings.observe(Settings::Transparency, this,
                     [this](int percent) { setTransparency(percent); });
    connect(&model, &DashboardModel::readingChanged, this, &StatusStrip::refresh);
    connect(&model, &DashboardModel::newItemsChanged, this, &StatusStrip::refresh);
    connect(&model, &DashboardModel::pauseChanged, this, [this] {
        showPollStatus();
        refresh();
    });
    // Every poll ends here, good or not: the tooltip, and a refresh as after any poll.
    connect(&model, &DashboardModel::pollStatusChanged, this, [this] {
        showPollStatus();
        refresh();
    });
    connect(&model, &DashboardModel::browserFailureChanged, this, &StatusStrip::showPollStatus);
}

StatusStrip::~StatusStrip() = default;

QRect StatusStrip::visiblePlacement(const QRect &stored, const QList<QRect> &screens,
                                    const QRect &primary, const QSize &largestAvailable)
{
    QRect rect = stored;
    // A zero size would leave nothing to grab and nothing to see; one past the work area
    // would cover the desktop, always on top, with the close box out of reach.
    const bool tooLarge = largestAvailable.isValid() && (rect.width() > largestAvailable.width() ||
                                                         rect.height() > largestAvailable.height());
    if (rect.width() < 1 || rect.height() < 1 || tooLarge)
        rect.setSize(QSize(DefaultWidth, DefaultHeight));
    for (const QRect &screen : screens) {
        if (screen.intersects(rect))
            return rect;
    }
    // Left on a screen that is gone: the window would be out of reach.
    return QRect(primary.topLeft() + QPoint(DefaultLeft, DefaultTop), rect.size());
}

bool StatusStrip::showAt(const QRect &rect)
{
    if (m_created)
        return false;
    QList<QRect> screens;
    QSize largest;
    for (const QScreen *screen : QGuiApplication::screens()) {
        screens.append(screen->geometry());
        largest = largest.expandedTo(screen->availableGeometry().size());
    }
    const QScreen *primary = QGuiApplication::primaryScreen();
    setGeometry(visiblePlacement(rect, screens, primary ? primary->geometry() : QRect(), largest));

    m_notice->prepare();
    m_created = true;
    show();
    WindowLook::skipTaskbar(this);
    raise();
    layoutBoxes();
    return true;
}

QRect StatusStrip::workArea() const
{
    // The screen under the strip's middle, else the one Qt placed it on.
    const QScreen *on = QGuiApplication::screenAt(geometry().center());
    if (!on)
        on = screen();
    return on ? on->availableGeometry() : QRect();
}

void StatusStrip::layoutBoxes()
{
    // From the right edge, 14 pixels apart: R, T, G, X.
    const int w = width();
    for (const Box box : {Box::Comments, Box::Trackbacks, Box::Guestbook, Box::Close})
        m_boxes[indexOf(box)] = QRect(w - 60 + 14 * int(indexOf(box)), 3, 10, 16);
    refresh();
}

QRect StatusStrip::boxRect(Box box) const
{
    return m_boxes[indexOf(box)];
}

void StatusStrip::refresh()
{
    if (!m_created)
        return;
    // The notice follows the model's announcements by itself.
    if (std::any_of(AllItemKinds.begin(), AllItemKinds.end(),
                    [this](ItemKind kind) { return m_model.isNew(kind); }))
        raise();
    if (m_model.lastReadingChanged())
        setTransparency(0);
    else
        restoreTransparency();
    updateAccessibleText();
    // A poll that changed nothing on the strip paints nothing; expose and resize events
    // repaint it anyway.
    Shown now{isConnecting(), isStale(), m_model.todayCount(), {}, m_model.isPaused(), size()};
    for (const ItemKind kind : AllItemKinds)
        now.lit[indexOf(kind)] = m_model.isNew(kind);
    if (isVisible() && now != m_shown) {
        m_shown = now;
        update();
    }
}

void StatusStrip::setTransparency(int percent)
{
    // Never fully transparent: the window must stay findable.
    if (percent > MaxTransparency)
        percent = MaxTransparency;
    m_transparency = percent;
    setWindowOpacity(std::clamp(alpha(), 0, 255) / 255.0);
}

void StatusStrip::restoreTransparency()
{
    // Nothing stored: the level it has now stays.
    if (m_settings.isStored(Settings::Transparency))
        setTransparency(m_settings.value(Settings::Transparency));
}

void StatusStrip::showPollStatus()
{
    // The failure quotes an address a server chose, which may be any length.
    m_lastFailure = WindowLook::displayText(m_model.lastFailure());
    // The failure text may quote the server; escaped so the tooltip shows it literally.
    QString html = pollStatusText().toHtmlEscaped();
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    setToolTip(QStringLiteral("<p style='white-space:pre'>") + html + QStringLiteral("</p>"));
}

QString StatusStrip::pollStatusText() const
{
    return pollStatusText(m_model, m_lastFailure);
}

QString StatusStrip::pollStatusText(const DashboardModel &model, const QString &failure)
{
    const QDateTime lastSuccess = model.lastSuccess();
    QString text =
        lastSuccess.isValid()
            ? QStringLiteral("마지막 읽기: ") +
                  lastSuccess.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
            : QStringLiteral("아직 읽은 적 없음");
    if (!failure.isEmpty())
        text += QStringLiteral("\n마지막 실패: ") + failure;
    if (!model.browserFailure().isEmpty())
        text += QLatin1Char('\n') + model.browserFailure();
    if (model.isPaused())
        text += QStringLiteral("\n알림 일시 중지: ") +
                model.pausedUntil().toLocalTime().toString(QStringLiteral("MM-dd HH:mm")) +
                QStringLiteral("까지");
    return text;
}

QRect StatusStrip::pauseMarkRect() const
{
    // Left of the R box, clear of the count for any count a blog has in a day.
    return QRect(boxRect(Box::Comments).x() - 9, 7, 6, 9);
}

bool StatusStrip::isConnecting() const
{
    // After midnight a count of 0 is a reading like any other.
    return !m_model.hasReading();
}

bool StatusStrip::isStale() const
{
    // A failure is kept until the next good reading clears it.
    return !m_model.lastFailure().isEmpty();
}

void StatusStrip::setEmblem(const QImage &emblem)
{
    m_emblem = emblem;
    update();
}

void StatusStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect rc = rect();
    WindowLook::drawBackground(painter, rc, true);

    if (m_model.isPaused()) {
        // Two bars, as on a pause button.
        const QRect mark = pauseMarkRect();
        painter.fillRect(QRect(mark.topLeft(), QSize(2, mark.height())), WindowLook::FrameOuter);
        painter.fillRect(QRect(mark.topLeft() + QPoint(4, 0), QSize(2, mark.height())),
                         WindowLook::FrameOuter);
    }

    painter.setFont(m_countFont);
    painter.setPen(WindowLook::Text);
    const int count = m_model.todayCount();
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (isConnecting()) {
        painter.drawText(rc, flags, connectingText());
        return;
    }
    // The last count stays, but does not pass for current while the polls fail.
    if (isStale())
        painter.setPen(WindowLook::TextStale);
    if (!m_emblem.isNull()) {
        painter.drawImage(QRect(7, 3, 16, 16), m_emblem);
        painter.drawText(rc.adjusted(23, 0, 0, 0), flags,
                         QStringLiteral("  ") + QString::number(count));
    } else {
        painter.drawText(rc, flags, QStringLiteral("  Today ") + QString::number(count));
    }

    drawBox(painter, Box::Comments, QLatin1Char('R'), m_model.isNew(ItemKind::Comment));
    drawBox(painter, Box::Trackbacks, QLatin1Char('T'), m_model.isNew(ItemKind::Trackback));
    drawBox(painter, Box::Guestbook, QLatin1Char('G'), m_model.isNew(ItemKind::Guestbook));
    drawBox(painter, Box::Close, QLatin1Char('X'), false);

    // The keyboard's box: a ring in the gap around it, drawn only while the strip has the
    // focus, so that the strip looks as ever otherwise.
    if (m_focusedBox && hasFocus()) {
        const QRect ring = boxRect(*m_focusedBox).adjusted(-2, -2, 2, 1);
        painter.setPen(WindowLook::FrameOuter);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(ring);
    }
}

void StatusStrip::drawBox(QPainter &painter, Box box, QChar letter, bool lit) const
{
    const QRect rect = boxRect(box);
    // The fill takes one pixel more at the right and the bottom than the letter's cell.
    painter.fillRect(rect.adjusted(0, 0, 1, 1), lit ? WindowLook::BoxLit : WindowLook::BoxUnlit);
    painter.save();
    painter.setFont(m_boxFont);
    painter.setPen(lit ? WindowLook::LetterLit : WindowLook::LetterUnlit);
    painter.drawText(rect.adjusted(1, 1, -1, -1), Qt::AlignCenter | Qt::TextSingleLine,
                     QString(letter));
    painter.restore();
}

void StatusStrip::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutBoxes();
}

void StatusStrip::updateCursor()
{
    switch (m_pointerMode) {
    case PointerMode::Move:
        setCursor(Qt::SizeAllCursor);
        break;
    case PointerMode::ResizeWidth:
        setCursor(Qt::SizeHorCursor);
        break;
    case PointerMode::Normal:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

void StatusStrip::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    raise();
    // A window the window manager does not activate by itself would not get the keys.
    activateWindow();
    const QPoint p = event->position().toPoint();
    const QPoint global = event->globalPosition().toPoint();
    const auto box =
        std::find_if(m_boxes.begin(), m_boxes.end(), [p](const QRect &r) { return r.contains(p); });
    if (box != m_boxes.end()) {
        pressBox(Box(box - m_boxes.begin()), global);
    } else {
        m_dragAnchor = global;
        m_dragging = true;
        const int windowRight = geometry().x() + geometry().width();
        m_pointerMode = (windowRight - m_dragAnchor.x()) < ResizeGrip ? PointerMode::ResizeWidth
                                                                      : PointerMode::Move;
        updateCursor();
    }
    event->accept();
}

void StatusStrip::pressBox(Box box, const QPoint &globalPos)
{
    switch (box) {
    case Box::Close:
        emit closeRequested();
        break;
    case Box::Comments:
        clickKindBox(ItemKind::Comment, globalPos);
        break;
    case Box::Trackbacks:
        clickKindBox(ItemKind::Trackback, globalPos);
        break;
    case Box::Guestbook:
        clickKindBox(ItemKind::Guestbook, globalPos);
        break;
    }
}

bool StatusStrip::event(QEvent *event)
{
    // Tab stays among the boxes: the strip has no other widget to pass the focus to.
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool shift = key->modifiers().testFlag(Qt::ShiftModifier);
        if (key->key() == Qt::Key_Backtab || (key->key() == Qt::Key_Tab && shift)) {
            moveFocus(false);
            return true;
        }
        if (key->key() == Qt::Key_Tab) {
            moveFocus(true);
            return true;
        }
    }
    return QWidget::event(event);
}

void StatusStrip::moveFocus(bool forward)
{
    const int count = int(m_boxes.size());
    int next = forward ? 0 : count - 1;
    if (m_focusedBox)
        next = (int(indexOf(*m_focusedBox)) + (forward ? 1 : count - 1)) % count;
    m_focusedBox = Box(next);
    update();
}

void StatusStrip::keyPressEvent(QKeyEvent *event)
{
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && shift)) {
        // Under the strip, or under the box the keyboard is on.
        const QRect at = m_focusedBox ? boxRect(*m_focusedBox) : rect();
        showContextMenu(mapToGlobal(at.bottomLeft() + QPoint(0, 1)));
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
         event->key() == Qt::Key_Space) &&
        m_focusedBox) {
        const QRect box = boxRect(*m_focusedBox);
        pressBox(*m_focusedBox, mapToGlobal(box.bottomLeft() + QPoint(0, 1)));
        return;
    }
    QWidget::keyPressEvent(event);
}

void StatusStrip::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void StatusStrip::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
}

RecentItemsPopup *StatusStrip::recentItems()
{
    if (!m_recentItems) {
        m_recentItems = new RecentItemsPopup(m_model, this);
        connect(m_recentItems, &RecentItemsPopup::itemRequested, this, &StatusStrip::itemRequested);
    }
    return m_recentItems;
}

void StatusStrip::clickKindBox(ItemKind kind, const QPoint &globalPos)
{
    // A lit box asks for its newest item; an unlit one, whose kind has no mark to clear,
    // shows the kind's list.
    if (m_model.isNew(kind))
        emit itemRequested(kind, m_model.newest(kind).value_or(RecentItem{}));
    else
        recentItems()->showList(kind, globalPos);
    refresh();
}

void StatusStrip::mouseMoveEvent(QMouseEvent *event)
{
    if (m_transparency != 0)
        setTransparency(0);

    if (!m_dragging) {
        const QPoint p = event->position().toPoint();
        m_pointerMode = PointerMode::Move;
        if (width() - p.x() < ResizeGrip)
            m_pointerMode = PointerMode::ResizeWidth;
        else if (std::any_of(m_boxes.begin(), m_boxes.end(),
                             [p](const QRect &box) { return box.contains(p); }))
            m_pointerMode = PointerMode::Normal;
        updateCursor();
        return;
    }

    const QPoint q = event->globalPosition().toPoint();
    const QPoint delta = q - m_dragAnchor;
    QRect g = geometry();
    if (m_pointerMode == PointerMode::Move) {
        g.translate(delta);
    } else {
        // Only the right edge moves; at least one column stays to grab again.
        g.setWidth(std::max(1, g.width() + delta.x()));
    }
    setGeometry(g);
    m_dragAnchor = q;
}

void StatusStrip::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        showContextMenu(event->globalPosition().toPoint());
        return;
    }
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        m_pointerMode = PointerMode::Normal;
        updateCursor();
        savePosition();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void StatusStrip::savePosition()
{
    // A place left of or above the primary screen is stored negative, as it is.
    const QRect g = geometry();
    m_settings.set(Settings::LeftPos, g.x());
    m_settings.set(Settings::TopPos, g.y());
    m_settings.set(Settings::Width, g.width());
    m_settings.set(Settings::Height, g.height());
}

void StatusStrip::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The first press and release of the double click have already run as usual.
    if (event->button() == Qt::LeftButton)
        emit blogRequested();
    event->accept();
}

void StatusStrip::leaveEvent(QEvent *event)
{
    if (!m_model.lastReadingChanged())
        restoreTransparency();
    QWidget::leaveEvent(event);
}

void StatusStrip::setCommands(CommandActions *commands)
{
    if (m_commands)
        removeAction(m_commands->openDashboard);
    m_commands = commands;
    // The dashboard beside the blog: both open a page of it.
    if (m_commands)
        insertAction(m_settingsAction, m_commands->openDashboard);
}

void StatusStrip::createActions()
{
    const auto row = [this](const char *name, const char *text, auto slot) {
        auto *action = new QAction(QString::fromUtf8(text), this);
        action->setObjectName(QLatin1StringView(name));
        connect(action, &QAction::triggered, this, slot);
        addAction(action);
        return action;
    };
    row("openBlog", "내 블로그 가기", &StatusStrip::blogRequested);
    m_settingsAction = row("settings", "기타 설정", &StatusStrip::settingsRequested);
    auto *separator = new QAction(this);
    separator->setSeparator(true);
    addAction(separator);
    row("exit", "종료", &StatusStrip::closeRequested);
    row("checkUpdate", "프로그램 업데이트 확인", &StatusStrip::checkForUpdate);
}

void StatusStrip::showContextMenu(const QPoint &globalPos)
{
    // Owned here alone, not by the strip as well: it goes when this returns, the chosen row
    // having run.
    QMenu menu;
    addMenuRows(&menu);
    menu.exec(globalPos);
}

void StatusStrip::addMenuRows(QMenu *menu) const
{
    // What a person reaches for most comes first; the strip's own rows keep their order.
    if (m_commands) {
        m_commands->addTopRows(menu);
        menu->addSeparator();
    }
    menu->addActions(actions());
}

void StatusStrip::checkForUpdate()
{
    // No row may open a page that does not exist: without one, the row tells the version.
    if (m_updateUrl.empty())
        emit aboutRequested();
    else
        openInBrowser(m_updateUrl);
}

void StatusStrip::updateAccessibleText()
{
    const int count = m_model.todayCount();
    setAccessibleName(isConnecting() ? connectingText().trimmed()
                                     : QStringLiteral("오늘 방문자 ") + QString::number(count));
    QStringList lit;
    if (m_model.isNew(ItemKind::Comment))
        lit << QStringLiteral("새 댓글");
    if (m_model.isNew(ItemKind::Trackback))
        lit << QStringLiteral("새 트랙백");
    if (m_model.isNew(ItemKind::Guestbook))
        lit << QStringLiteral("새 방명록");
    setAccessibleDescription(lit.isEmpty() ? QStringLiteral("새 항목 없음")
                                           : lit.join(QStringLiteral(", ")));
}
