#include "dashboardmodel.h"

#include "base/logging.h"

#include <QStringList>

namespace {

QString countText(ItemKind kind, int count)
{
    const bool one = count == 1;
    const char *name = "";
    switch (kind) {
    case ItemKind::Comment:
        name = one ? "comment" : "comments";
        break;
    case ItemKind::Trackback:
        name = one ? "trackback" : "trackbacks";
        break;
    case ItemKind::Guestbook:
        name = one ? "guestbook entry" : "guestbook entries";
        break;
    }
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(name);
}

} // namespace

DashboardModel::DashboardModel(QObject *parent) : QObject(parent) {}

void DashboardModel::takeReading(const DashboardReading &reading)
{
    std::array<std::optional<RecentItem>, ItemKindCount> arrived;
    std::array<bool, ItemKindCount> marked{};
    QStringList counts;
    const QDateTime now = QDateTime::currentDateTime();
    m_lastReadingChanged = false;
    for (const ItemKind kind : AllItemKinds) {
        const std::size_t i = indexOf(kind);
        // Only the listed items: the table is as long as the list.
        QHash<quint64, QDateTime> seen;
        for (const RecentItem &item : reading[kind]) {
            const quint64 identity = identityOf(item);
            seen.insert(identity, m_firstSeen[i].value(identity, now));
        }
        m_firstSeen[i] = std::move(seen);
        if (m_comparing) {
            const std::vector<std::size_t> arrivals =
                findArrivals(m_known[i], reading[kind], m_afterLogin);
            if (!arrivals.empty()) {
                counts << countText(kind, int(arrivals.size()));
                arrived[i] = reading[kind][arrivals.front()];
                m_lastReadingChanged = true;
                marked[i] = !m_new[i];
                m_new[i] = true;
                m_newCount[i] += int(arrivals.size());
            }
        }
        takeIntoKnown(m_known[i], reading[kind]);
    }
    m_comparing = true;
    m_afterLogin = false;
    m_reading = reading;
    m_hasReading = true;
    emit readingChanged();
    for (const ItemKind kind : AllItemKinds) {
        if (marked[indexOf(kind)])
            emit newItemsChanged(kind);
    }
    // What arrives during a pause lights its box only; it is never announced later.
    if (isPaused()) {
        if (!counts.isEmpty())
            qCInfo(lcNotice).noquote()
                << "arrived during the pause, not announced:" << counts.join(QStringLiteral(", "));
        return;
    }
    if (!counts.isEmpty())
        qCInfo(lcNotice).noquote() << "announced:" << counts.join(QStringLiteral(", "));
    for (const ItemKind kind : AllItemKinds) {
        if (const std::optional<RecentItem> &item = arrived[indexOf(kind)])
            emit announced(kind, *item);
    }
}

void DashboardModel::logIn(const std::string &blogUrl, const std::string &id)
{
    const bool another =
        (!m_blogUrl.empty() || !m_id.empty()) && (blogUrl != m_blogUrl || id != m_id);
    m_blogUrl = blogUrl;
    m_id = id;
    m_afterLogin = true;
    if (!another)
        return;
    m_known = {};
    m_firstSeen = {};
    m_comparing = false;
    m_lastReadingChanged = false;
    for (const ItemKind kind : AllItemKinds)
        clearNew(kind);
}

bool DashboardModel::restoreKnown(const KnownReading &known)
{
    if (m_comparing)
        return false;
    m_known = known;
    m_comparing = true;
    return true;
}

std::optional<RecentItem> DashboardModel::newest(ItemKind kind) const
{
    const RecentItemList &list = m_reading[kind];
    if (list.empty())
        return std::nullopt;
    return list.front();
}

void DashboardModel::clearNew(ItemKind kind)
{
    bool &mark = m_new[indexOf(kind)];
    m_newCount[indexOf(kind)] = 0;
    if (!mark)
        return;
    mark = false;
    emit newItemsChanged(kind);
}

void DashboardModel::markAllRead()
{
    // Every listed item is already in what the next reading is compared with; only the marks
    // (and the notices waiting on them) stand between the person and "all read".
    for (const ItemKind kind : AllItemKinds)
        clearNew(kind);
    emit allMarkedRead();
}

void DashboardModel::pauseNotices(const QDateTime &until)
{
    const QDateTime end = until.isValid() ? until.toUTC() : QDateTime();
    if (end == m_pausedUntil)
        return;
    m_pausedUntil = end;
    emit pauseChanged();
}

void DashboardModel::setPollStatus(const QDateTime &lastSuccess, const QString &lastFailure)
{
    m_lastSuccess = lastSuccess;
    m_lastFailure = lastFailure;
    emit pollStatusChanged();
    if (lastFailure.isEmpty())
        setBrowserFailure({});
}

void DashboardModel::setBrowserFailure(const QString &failure)
{
    if (failure == m_browserFailure)
        return;
    m_browserFailure = failure;
    emit browserFailureChanged();
}

QDateTime DashboardModel::firstSeen(ItemKind kind, const RecentItem &item) const
{
    return m_firstSeen[indexOf(kind)].value(identityOf(item));
}
