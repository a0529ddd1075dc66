#include "pagereading.h"

#include "document/htmldocument.h"
#include "document/textencoding.h"
#include "reader/scraper.h"

namespace {

// Everything a dashboard reading touches: a base, relative, international and IPv6 links,
// character references, a table heading, a script and a style sheet.
constexpr char kWarmUpPage[] =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>t</title>"
    "<base href=\"http://xn--9n2bp8q.example/blog/\"><style>p{}</style>"
    "<script>var a = 1 < 2;</script></head><body>"
    "<table><tr><td id=\"counter\">오늘 1,234명 &amp; &#xAC00; &nbsp;</td></tr></table>"
    "<div id=\"new\"><table><tr><td>최근 댓글</td></tr></table><a href=\"more\">더보기</a>"
    "<ul><li><a href=\"/1?q=한글#c\">하나</a><li><a href=\"//[::1]:8080/2\">둘</a>"
    "<li><a href=\"http://블로그.example/3\">셋</a></ul><noscript>n</noscript>"
    "<template><p>t</p></template><pre>\tp\n</pre><br><img alt=\"i\"></div></body></html>";

} // namespace

readerprotocol::Answer readPage(const readerprotocol::Request &request)
{
    PageView page(request.page);
    return readPage(request, page);
}

readerprotocol::Answer readPage(const readerprotocol::Request &request, PageBytes &page)
{
    using readerprotocol::Answer;
    const std::vector<std::string> ids =
        request.whole ? std::vector<std::string>() : dashboardIds();
    const auto document = HtmlDocument::parse(page, request.charset, request.address, ids);

    Answer answer;
    answer.encoding = document->encodingName();
    answer.baseUrl = document->baseUrl();
    if (answer.baseUrl.size() > readerprotocol::MaxLinkBytes ||
        !readerprotocol::isUtf8(answer.baseUrl))
        answer.baseUrl.clear();
    answer.wholePage = document->isWhole();
    std::string why;
    if (auto reading = readDashboard(document.get(), &why)) {
        readerprotocol::capReading(*reading);
        answer.status = Answer::Read;
        answer.reading = std::move(*reading);
    } else {
        answer.status = Answer::NotDashboard;
        answer.why = why;
    }
    return answer;
}

void prepareReading()
{
    textencoding::prepareDecoders();
    readerprotocol::Request request;
    request.page = kWarmUpPage;
    request.address = "http://127.0.0.1:8080/owner/center/dashboard";
    for (const bool whole : {false, true}) {
        request.whole = whole;
        (void)readPage(request);
    }
    // No page in EUC-KR: its index is built by the first such page, from the converter
    // prepareDecoders opened, and costs nothing in a reader that never sees one.
}
