#pragma once

#include <string>
#include <vector>

// One recent comment, trackback or guestbook entry as read from the dashboard.
// Texts are UTF-8.
struct RecentItem
{
    std::string text; // the visible text of the item's link
    std::string link; // the absolute address the link points to

    friend bool operator==(const RecentItem &, const RecentItem &) = default;
};

using RecentItemList = std::vector<RecentItem>;

// Item kinds, the same numbering everywhere a kind is passed on.
enum ItemKind : int
{
    KindComment = 0,
    KindTrackback = 1,
    KindGuestbook = 2
};

// Login state towards the blog host, moved only by the polling driver.
enum LoginState : int
{
    LoggedOut = 0,
    LoginPosted = 1,
    LoggedIn = 2
};
