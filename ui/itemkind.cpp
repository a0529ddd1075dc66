#include "itemkind.h"

#include "state/tinfo.h"

#include <array>

namespace itemkind {

namespace {

// What the store offers for each kind, in kind order.
struct Access
{
    bool (lTInfo::*isNew)();
    void (lTInfo::*setNew)(bool);
    bool (lTInfo::*latest)(std::string &, std::string &);
    bool (lTInfo::*items)(RecentItemList &);
};

constexpr std::array<Access, 3> Kinds{{
    {&lTInfo::IsNewComment, &lTInfo::SetNewComment, &lTInfo::GetLatestComment,
     &lTInfo::GetComments},
    {&lTInfo::IsNewTrackback, &lTInfo::SetNewTrackback, &lTInfo::GetLatestTrackback,
     &lTInfo::GetTrackbacks},
    {&lTInfo::IsNewGuestbook, &lTInfo::SetNewGuestbook, &lTInfo::GetLatestGuestbook,
     &lTInfo::GetGuestbook},
}};

const Access *access(int kind)
{
    return kind >= 0 && kind < static_cast<int>(Kinds.size())
               ? &Kinds[static_cast<std::size_t>(kind)]
               : nullptr;
}

} // namespace

bool isNew(lTInfo &info, int kind)
{
    const Access *a = access(kind);
    return a && (info.*a->isNew)();
}

void clearNew(lTInfo &info, int kind)
{
    if (const Access *a = access(kind))
        (info.*a->setNew)(false);
}

bool latest(lTInfo &info, int kind, std::string &text, std::string &link)
{
    const Access *a = access(kind);
    return a && (info.*a->latest)(text, link);
}

RecentItemList items(lTInfo &info, int kind)
{
    RecentItemList list;
    if (const Access *a = access(kind))
        (info.*a->items)(list);
    return list;
}

} // namespace itemkind
