#include "itemkind.h"

#include "tinfo.h"

namespace itemkind {

bool isNew(lTInfo &info, int kind)
{
    switch (kind) {
    case 0:
        return info.IsNewComment();
    case 1:
        return info.IsNewTrackback();
    case 2:
        return info.IsNewGuestbook();
    default:
        return false;
    }
}

void clearNew(lTInfo &info, int kind)
{
    switch (kind) {
    case 0:
        info.SetNewComment(false);
        break;
    case 1:
        info.SetNewTrackback(false);
        break;
    case 2:
        info.SetNewGuestbook(false);
        break;
    default:
        break;
    }
}

bool latest(lTInfo &info, int kind, std::string &text, std::string &link)
{
    switch (kind) {
    case 0:
        return info.GetLatestComment(text, link);
    case 1:
        return info.GetLatestTrackback(text, link);
    case 2:
        return info.GetLatestGuestbook(text, link);
    default:
        return false;
    }
}

RecentItemList items(lTInfo &info, int kind)
{
    RecentItemList list;
    switch (kind) {
    case 0:
        info.GetComments(list);
        break;
    case 1:
        info.GetTrackbacks(list);
        break;
    case 2:
        info.GetGuestbook(list);
        break;
    default:
        break;
    }
    return list;
}

} // namespace itemkind
