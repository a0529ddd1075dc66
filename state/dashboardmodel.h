#pragma once

#include "state/recentitem.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <optional>

// What the program knows of the blog: the last good reading of its dashboard, which kinds
// hold something the user has not attended to yet, and how polling goes. The poller writes
// it; the strip, the notice, the recent-items list and the desktop notifier observe it.
class DashboardModel final : public QObject
{
    Q_OBJECT
public:
    explicit DashboardModel(QObject *parent = nullptr);

    // Takes a whole reading. A kind is marked new when its newest item is one the earlier
    // reading did not have; items are known by their links (and texts, where links repeat),
    // so a deleted, moved or edited item is no news and a repeated text still is. The first
    // reading of the run only records what is there, unless setSeenBefore said what an
    // earlier run saw.
    void takeReading(const DashboardReading &reading);
    // What an earlier run saw of this blog and ID, for the first reading of this run to be
    // compared with; ignored once a reading was taken.
    void setSeenBefore(const DashboardReading &seen);
    // False until the first good reading of the run.
    bool hasReading() const { return m_hasReading; }
    int todayCount() const { return m_reading.todayCount; }
    const RecentItemList &items(ItemKind kind) const { return m_reading[kind]; }
    // The kind's newest item; none for an empty list.
    std::optional<RecentItem> newest(ItemKind kind) const;

    // The kind changed since the user last attended to it; it stays so over any number of
    // readings until clearNew.
    bool isNew(ItemKind kind) const { return m_new[indexOf(kind)]; }
    // The first kind marked new, in box order; the one the strip announces.
    std::optional<ItemKind> firstNewKind() const;
    // The newest item not seen before in the reading that last marked the kind: the one its
    // notice announces.
    std::optional<RecentItem> announcement(ItemKind kind) const
    {
        return m_announced[indexOf(kind)];
    }
    // Whether the latest reading brought a new item to any kind, marked already or not.
    bool lastReadingChanged() const { return m_lastReadingChanged; }
    // The user attended to the kind (a click on its box, its notice or its notification).
    void clearNew(ItemKind kind);

    // How polling goes: when the dashboard last read (invalid before the first time) and
    // what failed since (empty when the last poll was fine). Every poll reports once.
    void setPollStatus(const QDateTime &lastSuccess, const QString &lastFailure);
    QDateTime lastSuccess() const { return m_lastSuccess; }
    QString lastFailure() const { return m_lastFailure; }

signals:
    // A reading was taken: the count, the lists and the new marks may all have changed.
    void readingChanged();
    // A kind's new mark changed, by a reading or by the user.
    void newItemsChanged(ItemKind kind);
    // A poll ended, well or not.
    void pollStatusChanged();

private:
    DashboardReading m_reading;
    std::array<bool, ItemKindCount> m_new{};
    std::array<std::optional<RecentItem>, ItemKindCount> m_announced;
    std::optional<DashboardReading> m_seenBefore;
    bool m_lastReadingChanged = false;
    bool m_hasReading = false;
    QDateTime m_lastSuccess;
    QString m_lastFailure;
};
