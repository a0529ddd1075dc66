#include "noticepopup.h"

#include "state/dashboardmodel.h"
#include "ui/taskbarhint.h"
#include "ui/windowlook.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include <algorithm>
#include <utility>

NoticePopup::NoticePopup(DashboardModel &model)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_model(model)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    m_monotonic.start();
    m_clock = [this] { return m_monotonic.elapsed(); };
    connect(&model, &DashboardModel::announced, this, &NoticePopup::announce);
    connect(&model, &DashboardModel::readingChanged, this, &NoticePopup::dropStale);
    connect(&model, &DashboardModel::newItemsChanged, this, &NoticePopup::dropStale);
    // Everything read, or a pause begun: what shows goes at once, and nothing waits.
    connect(&model, &DashboardModel::allMarkedRead, this, &NoticePopup::withdraw);
    connect(&model, &DashboardModel::pauseChanged, this, [this] {
        if (m_model.isPaused())
            withdraw();
    });
}

void NoticePopup::withdraw()
{
    for (std::optional<RecentItem> &item : m_waiting)
        item.reset();
    if (m_timer.isActive()) {
        m_timer.stop();
        hide();
    }
}

NoticePopup::~NoticePopup() = default;

bool NoticePopup::prepare()
{
    m_font = WindowLook::makeFont(12);
    if (m_workArea.isNull()) {
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            m_workArea = screen->availableGeometry();
    }
    m_created = true;
    startNext();
    return true;
}

void NoticePopup::setClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock([this] { return m_monotonic.elapsed(); });
}

QString NoticePopup::heading(ItemKind kind)
{
    switch (kind) {
    case ItemKind::Comment:
        return QStringLiteral("[새로운 댓글 도착]");
    case ItemKind::Trackback:
        return QStringLiteral("[새로운 트랙백 도착]");
    case ItemKind::Guestbook:
        return QStringLiteral("[새로운 방명록 도착]");
    }
    return {};
}

bool NoticePopup::announce(ItemKind kind, const RecentItem &item)
{
    // Each announcement gets its whole slide: a newer one waits, in the place of an older
    // one of its kind.
    if (!m_created || m_timer.isActive()) {
        m_waiting[indexOf(kind)] = item;
        return false;
    }
    start(kind, item);
    return true;
}

void NoticePopup::start(ItemKind kind, const RecentItem &item)
{
    m_text = item.text;
    m_link = item.link;
    m_kind = kind;
    updateAccessibleText();
    layOutText();

    m_planned = QRect(QPoint(workAreaRight() - Width, workAreaBottom() - StartHeight),
                      QSize(Width, FullHeight));
    m_phase = Phase::Rising;
    applyPosition();
    QWidget::show();
    WindowLook::skipTaskbar(this);
    raise();

    m_timer.start(TickMs, Qt::PreciseTimer, this);
}

void NoticePopup::startNext()
{
    if (!m_created || m_timer.isActive())
        return;
    for (const ItemKind kind : AllItemKinds) {
        if (std::optional<RecentItem> item =
                std::exchange(m_waiting[indexOf(kind)], std::nullopt)) {
            start(kind, *item);
            return;
        }
    }
}

void NoticePopup::dropStale()
{
    for (const ItemKind kind : AllItemKinds) {
        std::optional<RecentItem> &item = m_waiting[indexOf(kind)];
        if (!item)
            continue;
        const RecentItemList &list = m_model.items(kind);
        if (!m_model.isNew(kind) || std::find(list.begin(), list.end(), *item) == list.end())
            item.reset();
    }
}

void NoticePopup::applyPosition()
{
    // Only the part above the work area's bottom is shown; the top edge, and the text
    // laid out from it, moves.
    const int bottom = std::min(m_planned.y() + m_planned.height(), workAreaBottom());
    const int height = bottom - m_planned.y();
    if (height > 0)
        setGeometry(m_planned.x(), m_planned.y(), m_planned.width(), height);
    update();
}

void NoticePopup::tick()
{
    switch (m_phase) {
    case Phase::Rising:
        m_planned.translate(0, -1);
        applyPosition();
        if (m_planned.y() + m_planned.height() <= workAreaBottom()) {
            m_phase = Phase::Holding;
            m_holdStart = m_clock();
        }
        break;
    case Phase::Holding:
        if (m_clock() - m_holdStart > HoldMs)
            m_phase = Phase::Falling;
        break;
    case Phase::Falling:
        m_planned.translate(0, 1);
        applyPosition();
        if (m_planned.y() >= workAreaBottom()) {
            hide();
            m_timer.stop();
            startNext();
        }
        break;
    }
}

void NoticePopup::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_timer.timerId())
        tick();
    else
        QWidget::timerEvent(event);
}

void NoticePopup::click()
{
    // Whoever opens the item tells the model, which drops what waits of this kind.
    emit itemRequested(m_kind, RecentItem{m_text, m_link});
    hide();
    m_timer.stop();
    startNext();
}

void NoticePopup::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        click();
    QWidget::mousePressEvent(event);
}

void NoticePopup::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    WindowLook::drawBackground(painter, rect(), false);

    painter.setPen(WindowLook::Text);
    painter.setFont(m_font);
    const int headingHeight = QFontMetrics(m_font).height();

    // The text area ends at the full height, not at the visible bottom, so the layout
    // stays put while the notice grows and shrinks.
    QRect r(QPoint(Margin, Margin), QPoint(width() - Margin - 1, m_planned.height() - 1));
    painter.save();
    painter.setClipRect(r);
    painter.drawText(r, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, heading(m_kind));
    painter.restore();

    r.setTop(r.top() + headingHeight + HeadingGap);
    if (r.height() > 0) {
        painter.setClipRect(r);
        painter.drawImage(r.topLeft(), m_textPicture);
    }
}

QRect NoticePopup::textRect() const
{
    const int top = Margin + QFontMetrics(m_font).height() + HeadingGap;
    return QRect(QPoint(Margin, top), QPoint(Width - Margin - 1, FullHeight - 1));
}

void NoticePopup::layOutText()
{
    const QRect r = textRect();
    const qreal ratio = devicePixelRatioF();
    m_textPicture = QImage(r.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    m_textPicture.setDevicePixelRatio(ratio);
    m_textPicture.fill(Qt::transparent);
    QPainter painter(&m_textPicture);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(WindowLook::Text);
    painter.setFont(m_font);
    // Item texts come from strangers: drawn as plain text only, and only as much as fits.
    painter.drawText(QRect(QPoint(0, 0), r.size()), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                     WindowLook::displayText(m_text));
}

void NoticePopup::updateAccessibleText()
{
    setAccessibleName(heading(m_kind));
    setAccessibleDescription(WindowLook::displayText(m_text));
}
