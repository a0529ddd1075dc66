#include "dashboardmodel.h"

DashboardModel::DashboardModel(QObject *parent) : QObject(parent) {}

namespace {

// The new-item rule: a different length or a different first text means something changed.
bool listChanged(const RecentItemList &stored, const RecentItemList &handed)
{
    if (stored.size() != handed.size())
        return true;
    return !stored.empty() && stored.front().text != handed.front().text;
}

} // namespace

void DashboardModel::takeReading(const DashboardReading &reading)
{
    std::array<bool, ItemKindCount> marked{};
    m_lastReadingChanged = false;
    for (const ItemKind kind : AllItemKinds) {
        const std::size_t i = indexOf(kind);
        // The first reading of a run only records the lists.
        if (!m_hasReading || !listChanged(m_reading[kind], reading[kind]))
            continue;
        m_lastReadingChanged = true;
        marked[i] = !m_new[i];
        m_new[i] = true;
    }
    m_reading = reading;
    m_hasReading = true;
    emit readingChanged();
    for (const ItemKind kind : AllItemKinds) {
        if (marked[indexOf(kind)])
            emit newItemsChanged(kind);
    }
}

std::optional<RecentItem> DashboardModel::newest(ItemKind kind) const
{
    const RecentItemList &list = m_reading[kind];
    if (list.empty())
        return std::nullopt;
    return list.front();
}

std::optional<ItemKind> DashboardModel::firstNewKind() const
{
    for (const ItemKind kind : AllItemKinds) {
        if (isNew(kind))
            return kind;
    }
    return std::nullopt;
}

void DashboardModel::clearNew(ItemKind kind)
{
    bool &mark = m_new[indexOf(kind)];
    if (!mark)
        return;
    mark = false;
    emit newItemsChanged(kind);
}

void DashboardModel::setPollStatus(const QDateTime &lastSuccess, const QString &lastFailure)
{
    m_lastSuccess = lastSuccess;
    m_lastFailure = lastFailure;
    emit pollStatusChanged();
}
