#include "knownitems.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace {

using Same = std::function<bool(const RecentItem &, const RecentItem &)>;

struct Pair
{
    std::size_t known;
    std::size_t handed;
};

// The longest alignment of known[0, nk) and handed[0, nh) under same, in order. Of equally long
// ones it takes the one that leaves handed items at the top unmatched: of two copies of a
// repeated item, the upper one is the newer.
std::vector<Pair> align(const RecentItemList &known, std::size_t nk, const RecentItemList &handed,
                        std::size_t nh, const Same &same)
{
    // longest[i * (nh + 1) + j]: the longest alignment of known[i, nk) and handed[j, nh).
    std::vector<std::uint16_t> longest((nk + 1) * (nh + 1));
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint16_t & {
        return longest[i * (nh + 1) + j];
    };
    for (std::size_t i = nk; i-- > 0;) {
        for (std::size_t j = nh; j-- > 0;) {
            at(i, j) = same(known[i], handed[j]) ? std::uint16_t(at(i + 1, j + 1) + 1)
                                                 : std::max(at(i + 1, j), at(i, j + 1));
        }
    }
    std::vector<Pair> pairs;
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < nk && j < nh) {
        if (at(i, j + 1) == at(i, j)) {
            ++j;
        } else if (same(known[i], handed[j])) {
            pairs.push_back({i, j});
            ++i;
            ++j;
        } else {
            ++i;
        }
    }
    return pairs;
}

// A login renews a session token that some hosts put into every link: then no link is the
// same as before, while the texts still stand in the same order.
bool tokensRenewed(const RecentItemList &known, const RecentItemList &handed, std::size_t nh)
{
    if (known.empty() || nh == 0)
        return false;
    std::set<std::string> before;
    for (const RecentItem &item : known)
        before.insert(item.link);
    for (std::size_t j = 0; j < nh; ++j) {
        if (before.count(handed[j].link) != 0)
            return false;
    }
    const std::size_t run = std::min<std::size_t>(3, known.size());
    for (std::size_t start = 0; start + run <= nh; ++start) {
        bool linedUp = true;
        for (std::size_t k = 0; k < run && linedUp; ++k)
            linedUp = handed[start + k].text == known[k].text;
        if (linedUp)
            return true;
    }
    return false;
}

} // namespace

quint64 identityOf(const RecentItem &item)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView(item.link.data(), qsizetype(item.link.size())));
    hash.addData(QByteArrayView("\0", 1));
    hash.addData(QByteArrayView(item.text.data(), qsizetype(item.text.size())));
    const QByteArray digest = hash.result();
    quint64 id = 0;
    for (int k = 0; k < 8; ++k)
        id = id << 8 | static_cast<unsigned char>(digest[k]);
    return id;
}

std::vector<std::size_t> findArrivals(const KnownItems &known, const RecentItemList &handed,
                                      bool afterLogin)
{
    const std::size_t nh = std::min(handed.size(), KnownItems::MaxCompared);
    const std::size_t nk = std::min(known.list.size(), KnownItems::MaxCompared);
    const bool renewed = afterLogin && tokensRenewed(known.list, handed, nh);
    const Same same =
        renewed ? Same([](const RecentItem &a, const RecentItem &b) { return a.text == b.text; })
                : Same([](const RecentItem &a, const RecentItem &b) { return a == b; });
    const std::vector<Pair> pairs = align(known.list, nk, handed, nh, same);
    std::size_t top = pairs.empty() ? nh : pairs.front().handed;
    std::size_t knownTop = pairs.empty() ? nk : pairs.front().known;
    // Just above what lines up, an item that kept the link of a vanished one took its place:
    // an edit, not an arrival. Renewed links say nothing about that.
    while (!renewed && top > 0 && knownTop > 0 &&
           handed[top - 1].link == known.list[knownTop - 1].link) {
        --top;
        --knownTop;
    }
    if (top == 0)
        return {};

    // An item comes back (from the spam folder, say) when its identity was recorded at least
    // as often as it stands in the list now; only copies beyond that are new, the upper first.
    std::map<quint64, int> unaccounted;
    for (std::size_t j = 0; j < nh; ++j)
        ++unaccounted[identityOf(handed[j])];
    for (const quint64 id : known.recorded) {
        const auto it = unaccounted.find(id);
        if (it != unaccounted.end())
            --it->second;
    }
    std::vector<std::size_t> arrivals;
    for (std::size_t j = 0; j < top; ++j) {
        int &beyond = unaccounted[identityOf(handed[j])];
        if (beyond > 0) {
            arrivals.push_back(j);
            --beyond;
        }
    }
    return arrivals;
}

void takeIntoKnown(KnownItems &known, const RecentItemList &handed)
{
    const std::size_t nh = std::min(handed.size(), KnownItems::MaxCompared);
    known.list.assign(handed.begin(),
                      handed.begin() + std::ptrdiff_t(std::min(nh, KnownItems::MaxListed)));
    // The identities in view move to the newest end of the record, each as often as it was
    // ever seen at once, so an item still listed is never the first forgotten.
    std::map<quint64, int> inView;
    std::vector<quint64> order;
    for (std::size_t j = nh; j-- > 0;) {
        const quint64 id = identityOf(handed[j]);
        if (inView[id]++ == 0)
            order.push_back(id);
    }
    std::map<quint64, int> recorded;
    std::vector<quint64> kept;
    kept.reserve(known.recorded.size() + nh);
    for (const quint64 id : known.recorded) {
        if (inView.count(id) != 0)
            ++recorded[id];
        else
            kept.push_back(id);
    }
    for (const quint64 id : order) {
        const int copies = std::max(inView[id], recorded[id]);
        kept.insert(kept.end(), std::size_t(copies), id);
    }
    if (kept.size() > KnownItems::MaxRecorded)
        kept.erase(kept.begin(), kept.end() - std::ptrdiff_t(KnownItems::MaxRecorded));
    known.recorded = std::move(kept);
}
