#include "trayicon.h"

#include "model/dashboardmodel.h"
#include "ui/noticepopup.h"
#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <algorithm>

namespace {

// The sizes panels ask for, from a 16-pixel X11 tray to a 48-pixel high-density one.
constexpr int IconSizes[] = {16, 22, 24, 32, 48};

QString kindWord(ItemKind kind)
{
    switch (kind) {
    case ItemKind::Comment:
        return QStringLiteral("댓글");
    case ItemKind::Trackback:
        return QStringLiteral("트랙백");
    case ItemKind::Guestbook:
        return QStringLiteral("방명록");
    }
    return {};
}

} // namespace

TrayIcon::TrayIcon(DashboardModel &model, StatusStrip &strip, QObject *parent)
    : QObject(parent), m_model(model), m_strip(&strip)
{
    // The strip's own menu, rows, commands and all, with the one row that only the icon has.
    m_menu = std::make_unique<QMenu>();
    strip.addMenuRows(m_menu.get());
    m_hideStrip = new QAction(QStringLiteral("스트립 숨기기"), m_menu.get());
    m_hideStrip->setObjectName(QStringLiteral("hideStrip"));
    m_hideStrip->setCheckable(true);
    const QList<QAction *> rows = m_menu->actions();
    const auto exitRow = std::find_if(rows.begin(), rows.end(), [](const QAction *row) {
        return row->objectName() == QLatin1StringView("exit");
    });
    m_menu->insertAction(exitRow != rows.end() ? *exitRow : nullptr, m_hideStrip);
    connect(m_hideStrip, &QAction::toggled, this, [this](bool hidden) {
        if (!m_strip)
            return;
        if (hidden)
            m_strip->hide();
        else
            bringStripUp();
    });

    m_icon = std::make_unique<QSystemTrayIcon>();
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    bringStripUp();
            });
    connect(&model, &DashboardModel::readingChanged, this, &TrayIcon::refresh);
    connect(&model, &DashboardModel::newItemsChanged, this, &TrayIcon::refresh);
    connect(&model, &DashboardModel::pollStatusChanged, this, &TrayIcon::refresh);
    connect(&model, &DashboardModel::browserFailureChanged, this, &TrayIcon::refresh);
    connect(&model, &DashboardModel::pauseChanged, this, &TrayIcon::refresh);
    refresh();
    m_icon->show();
}

TrayIcon::~TrayIcon()
{
    m_icon.reset();
    if (m_strip && m_hideStrip->isChecked())
        m_strip->show();
}

void TrayIcon::bringStripUp()
{
    if (!m_strip)
        return;
    {
        const QSignalBlocker quiet(m_hideStrip);
        m_hideStrip->setChecked(false);
    }
    m_strip->show();
    m_strip->raise();
}

QImage TrayIcon::renderIcon(int size, bool lit, bool paused)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The application icon's disc, without the strip's white ground, which would show as a
    // square on a dark panel.
    painter.drawImage(QRect(0, 0, size, size), QImage(QStringLiteral(":/ormix/ormix-48.png")));
    const qreal mark = size * 0.45;
    if (lit) {
        // The strip's lit-box red, ringed in white to stand out on the orange.
        painter.setPen(QPen(Qt::white, std::max(1.0, size / 16.0)));
        painter.setBrush(WindowLook::BoxLit);
        painter.drawEllipse(QRectF(size - mark, 0, mark, mark).adjusted(0.5, 0.5, -0.5, -0.5));
    }
    if (paused) {
        const QRectF box(size - mark, size - mark, mark, mark);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawRoundedRect(box, mark / 5, mark / 5);
        const qreal bar = mark / 4;
        painter.setBrush(WindowLook::FrameOuter);
        painter.drawRect(QRectF(box.x() + bar * 0.75, box.y() + bar * 0.6, bar, mark - bar * 1.2));
        painter.drawRect(QRectF(box.x() + bar * 2.25, box.y() + bar * 0.6, bar, mark - bar * 1.2));
    }
    return image;
}

QString TrayIcon::toolTipText() const
{
    QStringList lines{QStringLiteral("Ormix")};
    if (m_model.hasReading()) {
        lines << QStringLiteral("오늘 방문자 ") + QString::number(m_model.todayCount());
        QStringList counts;
        for (const ItemKind kind : AllItemKinds)
            counts << QStringLiteral("새 %1 %2").arg(kindWord(kind)).arg(m_model.newCount(kind));
        lines << counts.join(QStringLiteral(", "));
    } else {
        lines << QStringLiteral("Admin 접속 중...");
    }
    lines << StatusStrip::pollStatusText(m_model, WindowLook::displayText(m_model.lastFailure()));
    return lines.join(QLatin1Char('\n'));
}

void TrayIcon::refresh()
{
    const bool lit = std::any_of(AllItemKinds.begin(), AllItemKinds.end(),
                                 [this](ItemKind kind) { return m_model.isNew(kind); });
    const bool paused = m_model.isPaused();
    // A panel redraws on every new icon; it gets one only when the marks change.
    if (!m_iconSet || lit != m_shownLit || paused != m_shownPaused) {
        QIcon icon;
        for (const int size : IconSizes)
            icon.addPixmap(QPixmap::fromImage(renderIcon(size, lit, paused)));
        m_icon->setIcon(icon);
        m_shownLit = lit;
        m_shownPaused = paused;
        m_iconSet = true;
    }
    m_icon->setToolTip(toolTipText());
}
