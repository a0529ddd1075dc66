#pragma once

#include <array>
#include <cstddef>
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

// The three kinds of item, in the order the strip's boxes show them.
enum class ItemKind
{
    Comment,
    Trackback,
    Guestbook
};

inline constexpr std::size_t ItemKindCount = 3;
inline constexpr std::array<ItemKind, ItemKindCount> AllItemKinds = {
    ItemKind::Comment, ItemKind::Trackback, ItemKind::Guestbook};

constexpr std::size_t indexOf(ItemKind kind)
{
    return static_cast<std::size_t>(kind);
}

// What one reading of the dashboard says: today's count and each kind's items, newest first.
struct DashboardReading
{
    int todayCount = 0;
    std::array<RecentItemList, ItemKindCount> items;

    RecentItemList &operator[](ItemKind kind) { return items[indexOf(kind)]; }
    const RecentItemList &operator[](ItemKind kind) const { return items[indexOf(kind)]; }

    friend bool operator==(const DashboardReading &, const DashboardReading &) = default;
};
