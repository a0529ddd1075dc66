#pragma once

#include "model/knownitems.h"
#include "model/recentitem.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <array>
#include <optional>
#include <string>

// What the program knows of the blog: the last good reading of its dashboard, which kinds
// hold something the user has not attended to yet, and how polling goes. The poller writes
// it; the strip, the notice, the recent-items list and the desktop notifier observe it.
class DashboardModel final : public QObject
{
    Q_OBJECT
public:
    explicit DashboardModel(QObject *parent = nullptr);

    // Takes a whole reading. In each kind, the items that arrived since the last reading
    // (see findArrivals) mark it new, and the newest of them is announced, once. The first
    // reading of a run, or of another blog or ID, only records what is there, unless
    // restoreKnown said what an earlier run knew of it.
    void takeReading(const DashboardReading &reading);
    // A login to blogUrl as id succeeded; its reading follows. Links may carry a session token
    // that the login renewed. Another blog or ID than before starts afresh: its boxes go
    // dark and what was known of the other lists is forgotten.
    void logIn(const std::string &blogUrl, const std::string &id);
    // What an earlier run knew of this blog and ID, for the next reading to be compared with;
    // false, and ignored, when the model knows what it saw itself.
    bool restoreKnown(const KnownReading &known);
    // What the next reading is compared with (what an earlier run needs to be handed).
    const KnownReading &known() const { return m_known; }

    // False until the first good reading of the run.
    bool hasReading() const { return m_hasReading; }
    int todayCount() const { return m_reading.todayCount; }
    const RecentItemList &items(ItemKind kind) const { return m_reading[kind]; }
    // The kind's newest item; none for an empty list.
    std::optional<RecentItem> newest(ItemKind kind) const;

    // The kind changed since the user last attended to it; it stays so over any number of
    // readings until clearNew.
    bool isNew(ItemKind kind) const { return m_new[indexOf(kind)]; }
    // Whether the latest reading brought a new item to any kind, marked already or not.
    bool lastReadingChanged() const { return m_lastReadingChanged; }
    // The user attended to the kind (opened its newest item, its notice or its notification).
    void clearNew(ItemKind kind);
    // How many items arrived in the kind since the user last attended to it.
    int newCount(ItemKind kind) const { return m_newCount[indexOf(kind)]; }
    // The user has seen everything listed: every mark goes, and allMarkedRead is said so that
    // what is remembered of the lists is brought up to date as well.
    void markAllRead();

    // Notices paused until the given time (an invalid one resumes them): readings still mark
    // their kinds new, but nothing they bring is announced, neither now nor afterwards.
    void pauseNotices(const QDateTime &until);
    bool isPaused() const { return m_pausedUntil.isValid(); }
    QDateTime pausedUntil() const { return m_pausedUntil; }

    // When this run first saw the item in the kind's list (the time of that reading); invalid
    // for an item the latest reading does not list. Nothing of it is kept between runs.
    QDateTime firstSeen(ItemKind kind, const RecentItem &item) const;

    // How polling goes: when the dashboard last read (invalid before the first time) and
    // what failed since (empty when the last poll was fine). Every poll reports once. A good
    // poll also forgets a failed browser start.
    void setPollStatus(const QDateTime &lastSuccess, const QString &lastFailure);
    QDateTime lastSuccess() const { return m_lastSuccess; }
    QString lastFailure() const { return m_lastFailure; }
    // The browser could not be started for an address the person asked for (a text to show
    // them), until the next good poll or an empty text from the next start that works.
    void setBrowserFailure(const QString &failure);
    QString browserFailure() const { return m_browserFailure; }

signals:
    // A reading was taken: the count, the lists and the new marks may all have changed.
    void readingChanged();
    // A kind's new mark changed, by a reading, a login or the user.
    void newItemsChanged(ItemKind kind);
    // item arrived in the latest reading, the newest of its kind to arrive there. Said once
    // per item, after readingChanged, in box order.
    void announced(ItemKind kind, const RecentItem &item);
    // A poll ended, well or not.
    void pollStatusChanged();
    // browserFailure() changed.
    void browserFailureChanged();
    // markAllRead ran: every kind was attended to at once.
    void allMarkedRead();
    // Notices were paused, resumed, or paused until another time.
    void pauseChanged();

private:
    DashboardReading m_reading;
    std::array<bool, ItemKindCount> m_new{};
    std::array<int, ItemKindCount> m_newCount{};
    KnownReading m_known;
    // Whether m_known is something to compare the next reading with.
    bool m_comparing = false;
    bool m_afterLogin = false;
    std::string m_blogUrl;
    std::string m_id;
    bool m_lastReadingChanged = false;
    bool m_hasReading = false;
    QDateTime m_lastSuccess;
    QString m_lastFailure;
    QString m_browserFailure;
    QDateTime m_pausedUntil;
    // Identity of each listed item to the time this run first saw it.
    std::array<QHash<quint64, QDateTime>, ItemKindCount> m_firstSeen;
};
