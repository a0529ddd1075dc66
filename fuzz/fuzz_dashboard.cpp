// Document parsing plus scraping, the path every dashboard page takes.
// The first byte picks the HTTP charset label, the rest is the page.
#include "document/htmldocument.h"
#include "reader/pagereading.h"
#include "reader/readerprotocol.h"
#include "reader/scraper.h"
#include "tests/support/documentreading.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Every text the store keeps is drawn through QString::fromUtf8; anything that is not
// UTF-8 would come out as replacement characters or be cut. (A round trip through QString
// is no test: fromUtf8 drops a leading U+FEFF, which is a character like any other here.)
bool isUtf8(const std::string &text)
{
    return QByteArrayView(text.data(), static_cast<qsizetype>(text.size())).isValidUtf8();
}

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// A page handed out as the page reader takes it in: never more than is asked for.
class TakenInParts final : public PageBytes
{
public:
    explicit TakenInParts(const QByteArray &page) : m_page(page) {}
    std::size_t size() const override { return static_cast<std::size_t>(m_page.size()); }
    std::string_view prefix(std::size_t n) override
    {
        return {m_page.constData(), std::min(n, size())};
    }

private:
    const QByteArray &m_page;
};

// Coarsely: whether the page holds markup that changes a whole parse's reading of the
// elements when it comes after them.
bool mayChangeFromPastTheElements(const QByteArray &page, const std::vector<std::string> &ids)
{
    const QByteArray lower = page.toLower();
    if (lower.contains("<base") || lower.contains("<frameset") || page.contains('&') ||
        page.contains('\xF4'))
        return true;
    return std::any_of(ids.begin(), ids.end(), [&page](const std::string &id) {
        const QByteArrayView text(id.data(), static_cast<qsizetype>(id.size()));
        return page.count(text) > 1;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const char *const labels[] = {"", "utf-8", "euc-kr", "windows-1252", "utf-16le"};
    static const char address[] = "http://127.0.0.1:8080/owner/center/dashboard";
    if (size == 0)
        return 0;
    const std::string_view charset(labels[data[0] % 5]);
    const QByteArray page(reinterpret_cast<const char *>(data + 1),
                          static_cast<qsizetype>(size - 1));
    const std::string_view bytes(page.constData(), static_cast<std::size_t>(page.size()));

    const auto document = HtmlDocument::parse(bytes, charset, address);
    check(document != nullptr);
    check(!document->encodingName().empty());

    // Text is processed piecemeal on demand and a read of a start stops early; neither the
    // order of reads nor that may change a result. A fresh copy is read backwards, starts first.
    if (const HtmlElement *body = document->body()) {
        const auto fresh = HtmlDocument::parse(bytes, charset, address);
        const auto forward = body->all();
        const auto backward = fresh->body()->all();
        check(forward.size() == backward.size());
        const std::size_t n = std::min<std::size_t>(forward.size(), 64);
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < n; ++i)
            texts.push_back(forward[i]->innerText());
        for (std::size_t i = n; i-- > 0;) {
            const std::string &text = texts[i];
            check(backward[i]->outerTextStartsWith(text.substr(0, 7)));
            check(backward[i]->innerText() == text);
        }
    }

    // Parsed only as far as the scraper needs, the page reads the same from any first cut,
    // taken in piecemeal or not; and as the whole page does, unless it holds markup that
    // could change the reading only from past the elements, which is not looked at (a base,
    // a frameset, an id written twice or with a reference, gumbo's stand-ins).
    static const std::vector<std::string> ids = dashboardIds();
    TakenInParts source(page);
    const auto expected = documentReading(*HtmlDocument::parse(source, charset, address, ids), ids);
    for (std::size_t first : {std::size_t{0}, std::size_t{64}, std::size_t{300}}) {
        const auto part = HtmlDocument::parse(bytes, charset, address, ids, first);
        check(documentReading(*part, ids) == expected);
    }
    if (!mayChangeFromPastTheElements(page, ids))
        check(documentReading(*document, ids) == expected);

    // What the reader answers for the page always passes Ormix's checks of an answer.
    readerprotocol::Request request;
    request.page = std::string_view(page.constData(), static_cast<std::size_t>(page.size()));
    request.charset = charset;
    request.address = "http://127.0.0.1:8080/owner/center/dashboard";
    const std::string frame = readerprotocol::encodeAnswer(readPage(request));
    check(readerprotocol::decodeAnswer(std::string_view(frame).substr(readerprotocol::HeaderBytes))
              .has_value());

    const auto reading = readDashboard(document.get());
    if (!reading)
        return 0;
    check(reading->todayCount >= 0);
    for (const RecentItemList &list : reading->items) {
        for (const RecentItem &item : list) {
            check(!item.text.empty());
            check(isUtf8(item.text));
            check(isUtf8(item.link));
        }
    }
    return 0;
}
