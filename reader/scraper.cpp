#include "scraper.h"

#include "document/htmldocument.h"

#include <climits>
#include <string>

using namespace std::string_view_literals;

namespace {

constexpr auto CounterId = "counter";
constexpr auto NewId = "new";
constexpr auto TodayWord = "오늘"sv;
constexpr auto PersonsWord = "명"sv;
constexpr auto CommentsTitle = "최근 댓글"sv;
constexpr auto TrackbacksTitle = "최근 트랙백"sv;
constexpr auto GuestbookTitle = "최근 방명록"sv;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Only the start of a table's text matters; the outer tables hold most of the page. No
// value for a table that opens no section.
std::optional<ItemKind> sectionOf(const HtmlElement &table)
{
    if (table.outerTextStartsWith(CommentsTitle))
        return ItemKind::Comment;
    if (table.outerTextStartsWith(TrackbacksTitle))
        return ItemKind::Trackback;
    if (table.outerTextStartsWith(GuestbookTitle))
        return ItemKind::Guestbook;
    return std::nullopt;
}

} // namespace

std::vector<std::string> dashboardIds()
{
    return {CounterId, NewId};
}

std::optional<int> parseTodayCount(std::string_view counterText)
{
    const auto today = counterText.find(TodayWord);
    if (today == std::string_view::npos)
        return std::nullopt;
    const auto from = today + TodayWord.size();
    const auto persons = counterText.find(PersonsWord, from);
    if (persons == std::string_view::npos)
        return std::nullopt;
    const std::string_view between = counterText.substr(from, persons - from);

    // The first run of digits; a comma counts only when digits stand on both sides
    // ("1,234"), and the number saturates instead of overflowing.
    std::size_t i = 0;
    while (i < between.size() && !isDigit(between[i]))
        ++i;
    long long value = 0;
    while (i < between.size()) {
        if (isDigit(between[i])) {
            value = value * 10 + (between[i] - '0');
            if (value > INT_MAX)
                value = INT_MAX + 1LL; // stays above the limit without growing further
        } else if (between[i] != ',' || i + 1 >= between.size() || !isDigit(between[i + 1])) {
            break;
        }
        ++i;
    }
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::optional<DashboardReading> readDashboard(const HtmlDocument *document, std::string *why)
{
    const auto missing = [why](const char *what) -> std::optional<DashboardReading> {
        if (why)
            *why = what;
        return std::nullopt;
    };
    if (!document || !document->body())
        return missing("the page has no body");

    const HtmlElement *counter = document->getElementById(CounterId);
    if (!counter)
        return missing("no element has the id \"counter\"");
    const std::optional<int> count = parseTodayCount(counter->outerText());
    if (!count)
        return missing("the counter's text has no \"오늘\" with \"명\" after it");

    const HtmlElement *area = document->getElementById(NewId);
    if (!area)
        return missing("no element has the id \"new\"");

    DashboardReading reading;
    reading.todayCount = *count;
    std::optional<ItemKind> section;
    for (const HtmlElement *element : area->all()) {
        const std::string tag = element->tagName();
        if (tag == "TABLE") {
            section = sectionOf(*element);
        } else if (tag == "A" && section) {
            std::string text = element->innerText();
            if (text.empty())
                continue;
            std::optional<std::string> href = element->getAttribute("href");
            if (!href)
                continue;
            reading[*section].push_back(RecentItem{std::move(text), std::move(*href)});
        }
    }

    // Each section opens with one link that is not an item (the "more" link).
    for (RecentItemList &list : reading.items) {
        if (!list.empty())
            list.erase(list.begin());
    }
    return reading;
}
