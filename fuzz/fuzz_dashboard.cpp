// Document parsing plus scraping, the path every dashboard page takes.
// The first byte picks the HTTP charset label, the rest is the page.
#include "htmldocument.h"
#include "scraper.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstddef>
#include <cstdint>

namespace {

// Every text the store keeps is drawn through QString::fromUtf8; anything that is not
// UTF-8 would come out as replacement characters or be cut.
bool isUtf8(const std::string &text)
{
    const QString decoded = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return decoded.toUtf8() == QByteArray::fromStdString(text);
}

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const char *const labels[] = {"", "utf-8", "euc-kr", "windows-1252", "utf-16le"};
    static const QUrl address(QStringLiteral("http://127.0.0.1:8080/owner/center/dashboard"));
    if (size == 0)
        return 0;
    const QByteArray charset(labels[data[0] % 5]);
    const QByteArray page(reinterpret_cast<const char *>(data + 1),
                          static_cast<qsizetype>(size - 1));

    const auto document = HtmlDocument::parse(page, charset, address);
    check(document != nullptr);
    check(!document->encodingName().empty());

    const auto reading = ReadDashboard(document.get());
    if (!reading)
        return 0;
    check(reading->todayCount >= 0);
    for (const RecentItemList *list :
         {&reading->comments, &reading->trackbacks, &reading->guestbook}) {
        for (const RecentItem &item : *list) {
            check(!item.text.empty());
            check(isUtf8(item.text));
            check(isUtf8(item.link));
        }
    }
    return 0;
}
