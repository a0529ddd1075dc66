#pragma once

#include "model/recentitem.h"

#include <QtGlobal>

#include <array>
#include <cstddef>
#include <vector>

// What is known of one kind's items, to tell what arrived in the next list: the list the last
// reading handed (its newest items), and a bounded record of the identities seen, each a hash
// of an item's link and text, oldest first. An identity recorded n times was seen n times in
// one list, as when a guestbook whose entries share one link shows a text twice.
struct KnownItems
{
    // The most items of a list kept for comparing; arrivals stand at its top.
    static constexpr std::size_t MaxListed = 30;
    // The most identities recorded; enough for items that come back long after they left.
    static constexpr std::size_t MaxRecorded = 300;
    // The most items of a handed list looked at: a hostile page may list any number.
    static constexpr std::size_t MaxCompared = 256;

    RecentItemList list;
    std::vector<quint64> recorded;

    friend bool operator==(const KnownItems &, const KnownItems &) = default;
};

using KnownReading = std::array<KnownItems, ItemKindCount>;

// The identity of an item: a hash of its link and its text.
quint64 identityOf(const RecentItem &item);

// The positions in handed of the items that arrived since known, newest first. The two lists
// are aligned as sequences of (link, text): a handed item above the first one that lines up is
// an arrival, unless it is an edit (it took the place of a vanished item with the same link,
// its neighbour below unchanged) or comes back (its identity was recorded as often as it now
// stands in the list). Below the first item that lines up nothing arrives: what changed there
// was edited, deleted or came back into view. afterLogin: the first reading after a login,
// when links that all changed while the texts line up in order (the first three known, or all
// when fewer) are the same items under a renewed session token.
std::vector<std::size_t> findArrivals(const KnownItems &known, const RecentItemList &handed,
                                      bool afterLogin);

// Takes handed into known: the list, and its identities into the record.
void takeIntoKnown(KnownItems &known, const RecentItemList &handed);
