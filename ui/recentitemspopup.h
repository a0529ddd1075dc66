#pragma once

#include "model/recentitem.h"

#include <QDateTime>
#include <QFrame>
#include <QPoint>

class DashboardModel;
class QTreeWidget;

// The drop-down list of one kind's recent items under the status window. A double
// click on a row, or Return on the current one, asks for that item to be opened; Escape
// hides the list, as does its window deactivating. The arrows move through the rows, and
// each row's tooltip holds its whole text and when this run first saw the item.
class RecentItemsPopup final : public QFrame
{
    Q_OBJECT
public:
    static constexpr int ColumnWidth = 160;
    static constexpr int PopupWidth = 170;
    static constexpr int PopupHeight = 150;

    // owner: the status window; this stays a separate top-level window of its own.
    RecentItemsPopup(DashboardModel &model, QWidget *owner);
    ~RecentItemsPopup() override;
    RecentItemsPopup(const RecentItemsPopup &) = delete;
    RecentItemsPopup &operator=(const RecentItemsPopup &) = delete;

    // Lists kind's items at the click's screen x, under the owner's bottom edge.
    // False, showing nothing and keeping the old rows, when the kind's list is empty.
    bool showList(ItemKind kind, const QPoint &globalPos);

    // What a double click or Return does: row -1 (empty space) or a row without an item only
    // hides.
    void activateRow(int row);

    QTreeWidget *list() const { return m_list; }
    // The snapshot that the rows show, taken when the list was shown.
    const RecentItemList &items() const { return m_items; }
    QString headerText() const;

    // Column header for a kind.
    static QString header(ItemKind kind);
    // A row's tooltip (rich text): the item's text, escaped, and firstSeen when valid.
    static QString toolTipText(const RecentItem &item, const QDateTime &firstSeen);

signals:
    // A double click on a row: the person wants its item.
    void itemRequested(ItemKind kind, const RecentItem &item);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    DashboardModel &m_model;
    QTreeWidget *m_list = nullptr;
    RecentItemList m_items;
    ItemKind m_kind = ItemKind::Comment;
};
