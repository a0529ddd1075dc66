#include "tinfoimp.h"

#include "state/browserlaunch.h"
#include "state/secret.h"

lTInfo *GetTInfo()
{
    // Constructed on first use, destroyed at process exit after the event loop has ended.
    static CTInfoImp instance;
    return &instance;
}

CTInfoImp::~CTInfoImp()
{
    guestbook.clear();
    trackbacks.clear();
    comments.clear();
    blogURL.clear();
    WipeString(password);
    loginID.clear();
}

void CTInfoImp::SetPassword(const std::string &value)
{
    WipeString(password);
    password = value;
}

static bool latestOf(const RecentItemList &list, std::string &text, std::string &link)
{
    if (list.empty())
        return false;
    text = list.front().text;
    link = list.front().link;
    return true;
}

bool CTInfoImp::GetLatestComment(std::string &text, std::string &link)
{
    return latestOf(comments, text, link);
}

bool CTInfoImp::GetLatestTrackback(std::string &text, std::string &link)
{
    return latestOf(trackbacks, text, link);
}

bool CTInfoImp::GetLatestGuestbook(std::string &text, std::string &link)
{
    return latestOf(guestbook, text, link);
}

bool CTInfoImp::GetComments(RecentItemList &out)
{
    out = comments;
    return true;
}

bool CTInfoImp::GetTrackbacks(RecentItemList &out)
{
    out = trackbacks;
    return true;
}

bool CTInfoImp::GetGuestbook(RecentItemList &out)
{
    out = guestbook;
    return true;
}

// The new-item rule: a different length or a different first text marks the kind as new;
// the first successful reading of the run only records the lists.
void CTInfoImp::handOver(RecentItemList &stored, const RecentItemList &handed, bool &kindFlag)
{
    if (stored.size() != handed.size()) {
        kindFlag = true;
        anyNew = true;
    }
    if (!stored.empty() && !handed.empty() && stored.front().text != handed.front().text) {
        kindFlag = true;
        anyNew = true;
    }
    if (firstPoll) {
        kindFlag = false;
        anyNew = false;
    }
    stored = handed;
}

void CTInfoImp::SetComments(const RecentItemList &items)
{
    handOver(comments, items, newComment);
}

void CTInfoImp::SetTrackbacks(const RecentItemList &items)
{
    handOver(trackbacks, items, newTrackback);
}

void CTInfoImp::SetGuestbook(const RecentItemList &items)
{
    handOver(guestbook, items, newGuestbook);
    // The guestbook comes last in every reading, so it closes the silent first reading.
    firstPoll = false;
}

bool CTInfoImp::OpenURL(const std::string &url)
{
    return LaunchWebBrowser(url);
}
