#include "dashboardmodel.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

DashboardModel::DashboardModel(QObject *parent) : QObject(parent) {}

namespace {

// Whether the newest item of now is one the earlier list did not have. Items are known by
// their links, and by their texts as well where links repeat: a text that repeats is no
// reason to miss a new item, and a deleted, moved or edited one is no news.
bool newestIsUnseen(const RecentItemList &before, const RecentItemList &now)
{
    // Every earlier item can stand for one item now, matched from the oldest up: first by
    // link and text, then, for a link that stands once in each list, by the link alone.
    std::map<std::pair<std::string, std::string>, std::vector<std::size_t>> byLinkAndText;
    std::map<std::string, int> linksBefore;
    std::map<std::string, int> linksNow;
    for (std::size_t i = before.size(); i-- > 0;) {
        byLinkAndText[{before[i].link, before[i].text}].push_back(i);
        ++linksBefore[before[i].link];
    }
    for (const RecentItem &item : now)
        ++linksNow[item.link];
    std::vector<bool> taken(before.size());
    std::vector<bool> known(now.size());
    for (std::size_t i = now.size(); i-- > 0;) {
        auto it = byLinkAndText.find({now[i].link, now[i].text});
        if (it == byLinkAndText.end() || it->second.empty())
            continue;
        taken[it->second.front()] = true;
        it->second.erase(it->second.begin());
        known[i] = true;
    }
    for (std::size_t i = 0; i < now.size(); ++i) {
        const std::string &link = now[i].link;
        if (known[i] || link.empty() || linksNow[link] != 1 || linksBefore[link] != 1)
            continue;
        const auto at = std::find_if(before.begin(), before.end(),
                                     [&](const RecentItem &b) { return b.link == link; });
        const auto j = static_cast<std::size_t>(at - before.begin());
        if (!taken[j]) {
            taken[j] = true;
            known[i] = true;
        }
    }
    // Only what stands above the newest item that was there counts: an older item that comes
    // back into view at the bottom, after one above it was deleted, arrived long ago.
    return !now.empty() && !known[0];
}

} // namespace

void DashboardModel::takeReading(const DashboardReading &reading)
{
    // The first reading of a run only records the lists, unless an earlier run said what
    // it had seen of this blog.
    const DashboardReading *before =
        m_hasReading ? &m_reading : (m_seenBefore ? &*m_seenBefore : nullptr);
    std::array<bool, ItemKindCount> marked{};
    m_lastReadingChanged = false;
    for (const ItemKind kind : AllItemKinds) {
        const std::size_t i = indexOf(kind);
        if (!before || !newestIsUnseen((*before)[kind], reading[kind]))
            continue;
        m_lastReadingChanged = true;
        m_announced[i] = reading[kind].front();
        marked[i] = !m_new[i];
        m_new[i] = true;
    }
    m_seenBefore.reset();
    // An item deleted since it was announced is announced no more.
    for (const ItemKind kind : AllItemKinds) {
        std::optional<RecentItem> &announced = m_announced[indexOf(kind)];
        if (announced && std::find(reading[kind].begin(), reading[kind].end(), *announced) ==
                             reading[kind].end())
            announced.reset();
    }
    m_reading = reading;
    m_hasReading = true;
    emit readingChanged();
    for (const ItemKind kind : AllItemKinds) {
        if (marked[indexOf(kind)])
            emit newItemsChanged(kind);
    }
}

void DashboardModel::setSeenBefore(const DashboardReading &seen)
{
    if (!m_hasReading)
        m_seenBefore = seen;
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
