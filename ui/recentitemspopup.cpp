#include "recentitemspopup.h"

#include "model/dashboardmodel.h"
#include "ui/windowlook.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <optional>

RecentItemsPopup::RecentItemsPopup(DashboardModel &model, QWidget *owner)
    : QFrame(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_model(model)
{
    // The thin border of the drop-down.
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);

    m_list = new QTreeWidget(this);
    m_list->setColumnCount(1);
    m_list->setHeaderLabels({QStringLiteral("최근댓글")});
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionsMovable(false);
    m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_list->setColumnWidth(0, ColumnWidth);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setSortingEnabled(false);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setTextElideMode(Qt::ElideRight);
    m_list->viewport()->installEventFilter(this);
    m_list->installEventFilter(this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_list);
}

RecentItemsPopup::~RecentItemsPopup() = default;

QString RecentItemsPopup::header(ItemKind kind)
{
    switch (kind) {
    case ItemKind::Comment:
        return QStringLiteral("최근 댓글");
    case ItemKind::Trackback:
        return QStringLiteral("최근 트랙백");
    case ItemKind::Guestbook:
        return QStringLiteral("최근 방명록");
    }
    return {};
}

QString RecentItemsPopup::headerText() const
{
    return m_list->headerItem()->text(0);
}

bool RecentItemsPopup::showList(ItemKind kind, const QPoint &globalPos)
{
    m_items = m_model.items(kind);
    if (m_items.empty())
        return false;
    m_kind = kind;

    m_list->headerItem()->setText(0, header(kind));
    m_list->clear();
    QList<QTreeWidgetItem *> rows;
    rows.reserve(qsizetype(m_items.size()));
    for (const RecentItem &item : m_items) {
        // Texts come from strangers: a tree item shows its text as plain text.
        auto *row = new QTreeWidgetItem;
        row->setText(0, WindowLook::displayText(item.text));
        row->setToolTip(0, toolTipText(item, m_model.firstSeen(kind, item)));
        row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        rows.append(row);
    }
    m_list->addTopLevelItems(rows);
    // Ready for the keys: the newest row is current, unselected (a click should not find
    // a row already highlighted), and the list has the focus.
    m_list->selectionModel()->setCurrentIndex(m_list->model()->index(0, 0),
                                              QItemSelectionModel::NoUpdate);
    m_list->setFocus(Qt::PopupFocusReason);

    const QWidget *owner = parentWidget();
    const int y =
        owner ? owner->frameGeometry().y() + owner->frameGeometry().height() : globalPos.y();
    setGeometry(globalPos.x(), y, PopupWidth, PopupHeight);
    show();
    raise();
    activateWindow();
    return true;
}

void RecentItemsPopup::activateRow(int row)
{
    const std::optional<RecentItem> item =
        row >= 0 && std::size_t(row) < m_items.size()
            ? std::optional<RecentItem>(m_items[std::size_t(row)])
            : std::nullopt;
    hide();
    if (item)
        emit itemRequested(m_kind, *item);
}

QString RecentItemsPopup::toolTipText(const RecentItem &item, const QDateTime &firstSeen)
{
    // A row cuts its text to what fits; the tooltip holds all of it (within what any window
    // shows), wrapped. Rich text with the item's text escaped: a stranger's markup stays text.
    QString html = WindowLook::displayText(QString::fromStdString(item.text)).toHtmlEscaped();
    if (firstSeen.isValid())
        html += QStringLiteral("<br>처음 본 시각: ") +
                firstSeen.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return QStringLiteral("<p style='white-space:pre-wrap'>") + html + QStringLiteral("</p>");
}

bool RecentItemsPopup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        // The arrows are the list's own; these two are the drop-down's.
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            const QModelIndex current = m_list->currentIndex();
            activateRow(current.isValid() ? current.row() : -1);
            return true;
        }
        if (key == Qt::Key_Escape) {
            hide();
            return true;
        }
    }
    if (watched == m_list->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            const QModelIndex index = m_list->indexAt(mouse->position().toPoint());
            activateRow(index.isValid() ? index.row() : -1);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

bool RecentItemsPopup::event(QEvent *event)
{
    // Focus moving into the list stays inside this window; only another window taking
    // over hides the drop-down.
    if (event->type() == QEvent::WindowDeactivate && isVisible())
        hide();
    return QFrame::event(event);
}
