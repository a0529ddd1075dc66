#include "noticepopup.h"

#include "model/dashboardmodel.h"
#include "ui/taskbarhint.h"
#include "ui/windowlook.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTextLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The whole steps a slide has made: its value counts steps, and the division that made it
// may land a hair below a whole one.
int stepOf(const QVariant &value)
{
    return int(std::floor(value.toReal() + 1e-6));
}

// Steps from 0 to steps, one per TickMs, as the group's next part.
QVariantAnimation *addSteps(QSequentialAnimationGroup &group, int steps, int durationMs)
{
    auto *animation = new QVariantAnimation(&group);
    animation->setStartValue(0.0);
    animation->setEndValue(qreal(steps));
    animation->setDuration(durationMs);
    group.addAnimation(animation);
    return animation;
}

// The text as it fits in size, wrapped at words like QPainter::drawText: whole lines only,
// and the last of them ending with "…" when more would follow.
QString fittingText(const QString &text, const QFont &font, const QSize &size)
{
    const QFontMetrics metrics(font);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    if (metrics.boundingRect(QRect(QPoint(0, 0), size), flags, text).height() <= size.height())
        return text;

    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    const qreal leading = metrics.leading();
    qreal bottom = -leading;
    int lastStart = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(size.width());
        bottom += leading + line.height();
        if (bottom > size.height())
            break;
        lastStart = line.textStart();
    }
    layout.endLayout();
    // The last whole line takes the rest of the text, cut to its width.
    QString rest = text.mid(lastStart);
    rest.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.left(lastStart) + metrics.elidedText(rest, Qt::ElideRight, size.width());
}

} // namespace

NoticePopup::NoticePopup(DashboardModel &model)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      m_model(model)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::NoFocus);
    m_rise = addSteps(m_slide, RiseSteps, RiseSteps * TickMs);
    // A value of its own keeps Qt's animation timer, and a test's driver, in charge of the
    // hold; a pause animation would be timed apart from them.
    m_hold = addSteps(m_slide, 1, HoldMs + 1);
    m_fall = addSteps(m_slide, FallSteps, FallSteps * TickMs);
    connect(m_rise, &QVariantAnimation::valueChanged, this, &NoticePopup::riseTo);
    connect(m_fall, &QVariantAnimation::valueChanged, this, &NoticePopup::fallTo);
    // Queued: a group paused from within its own step starts its last part over.
    connect(&m_slide, &QSequentialAnimationGroup::currentAnimationChanged, this,
            &NoticePopup::holdUnderPointer, Qt::QueuedConnection);
    connect(&m_slide, &QAbstractAnimation::finished, this, &NoticePopup::finish);

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

NoticePopup::~NoticePopup() = default;

void NoticePopup::withdraw()
{
    for (std::optional<RecentItem> &item : m_waiting)
        item.reset();
    if (m_slide.state() != QAbstractAnimation::Stopped) {
        m_slide.stop();
        hide();
    }
}

bool NoticePopup::prepare()
{
    m_font = WindowLook::makeFont(12);
    m_created = true;
    startNext();
    return true;
}

void NoticePopup::setWorkArea(WorkAreaSource source)
{
    m_workAreaSource = std::move(source);
}

void NoticePopup::setWorkArea(const QRect &area)
{
    m_workAreaSource = [area] { return area; };
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
    if (!m_created || m_slide.state() != QAbstractAnimation::Stopped) {
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

    // Panels come and go and the strip moves between screens: the area is read anew.
    m_workArea = QRect();
    if (m_workAreaSource)
        m_workArea = m_workAreaSource();
    if (m_workArea.isEmpty()) {
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            m_workArea = screen->availableGeometry();
    }
    m_planned =
        QRect(QPoint(m_workArea.x() + m_workArea.width() - Width, workAreaBottom() - StartHeight),
              QSize(Width, FullHeight));
    m_pointerOver = false;
    setTop(m_planned.y());
    QWidget::show();
    WindowLook::skipTaskbar(this);
    raise();
    layOutText();

    m_slide.start();
}

void NoticePopup::startNext()
{
    if (!m_created || m_slide.state() != QAbstractAnimation::Stopped)
        return;
    for (const ItemKind kind : AllItemKinds) {
        if (std::optional<RecentItem> item =
                std::exchange(m_waiting[indexOf(kind)], std::nullopt)) {
            start(kind, *item);
            return;
        }
    }
}

void NoticePopup::finish()
{
    hide();
    startNext();
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

void NoticePopup::riseTo(const QVariant &value)
{
    setTop(workAreaBottom() - StartHeight - stepOf(value));
}

void NoticePopup::fallTo(const QVariant &value)
{
    setTop(workAreaBottom() - FullHeight + stepOf(value));
}

void NoticePopup::setTop(int top)
{
    if (top == m_planned.y() && isVisible())
        return;
    m_planned.moveTop(top);
    // Only the part above the work area's bottom is shown; the top edge, and the text
    // laid out from it, moves.
    const int bottom = std::min(m_planned.y() + m_planned.height(), workAreaBottom());
    const int height = bottom - m_planned.y();
    if (height > 0)
        setGeometry(m_planned.x(), m_planned.y(), m_planned.width(), height);
    update();
}

void NoticePopup::holdUnderPointer()
{
    if (m_pointerOver && m_slide.currentAnimation() == m_hold &&
        m_slide.state() == QAbstractAnimation::Running)
        m_slide.pause();
}

void NoticePopup::enterEvent(QEnterEvent *event)
{
    // Someone is reading: the hold lasts until the pointer leaves.
    m_pointerOver = true;
    holdUnderPointer();
    QWidget::enterEvent(event);
}

void NoticePopup::leaveEvent(QEvent *event)
{
    m_pointerOver = false;
    if (m_slide.state() == QAbstractAnimation::Paused)
        m_slide.resume();
    QWidget::leaveEvent(event);
}

void NoticePopup::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        // Whoever opens the item tells the model, which drops what waits of this kind.
        emit itemRequested(m_kind, RecentItem{m_text, m_link});
        m_slide.stop();
        hide();
        startNext();
    }
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
        // A screen of another scale since the text was laid out.
        if (!qFuzzyCompare(m_textPicture.devicePixelRatio(), devicePixelRatioF()))
            layOutText();
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
                     fittingText(WindowLook::displayText(m_text), m_font, r.size()));
}

void NoticePopup::updateAccessibleText()
{
    setAccessibleName(heading(m_kind));
    setAccessibleDescription(WindowLook::displayText(m_text));
}
