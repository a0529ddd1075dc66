// The document API as the scraper uses it: lookups, attributes, addresses.
#include "document/htmldocument.h"

#include <QTest>

namespace {

constexpr char kAddress[] = "http://Blog.Example:80/owner/center/dashboard?tab=1#top";

std::unique_ptr<HtmlDocument> parse(const char *page, const char *address = kAddress)
{
    return HtmlDocument::parse(page, {}, address);
}

} // namespace

class TestHtmlDocument final : public QObject
{
    Q_OBJECT

private slots:
    void lookupById();
    void treeOrder();
    void attributes();
    void hrefs();
    void baseElement();
    void withoutAddress();
    void bodyOfFrameset();
};

void TestHtmlDocument::lookupById()
{
    const auto doc = parse("<head><title id=t>T</title></head><body><a name=counter>by name</a>"
                           "<p id=dup>first</p><div><p id=dup>second</p></div>"
                           "<form><input name=new></form><span id=Case>c</span>");
    QVERIFY(!doc->getElementById("counter")); // a name is not an id
    QVERIFY(!doc->getElementById("new"));
    QCOMPARE(doc->getElementById("dup")->innerText(), std::string("first"));
    QCOMPARE(doc->getElementById("t")->tagName(), std::string("TITLE"));
    QVERIFY(doc->getElementById("Case"));
    QVERIFY(!doc->getElementById("case")); // ids match case-sensitively
    QVERIFY(!doc->getElementById(""));
}

void TestHtmlDocument::treeOrder()
{
    // Misnested and implied elements come out as the parser builds them.
    const auto doc =
        parse("<div id=r><table><tr><td>a<td>b</table><b>1<i>2</b>3</i><p>x<p>y</div>");
    std::vector<std::string> tags;
    for (const HtmlElement *e : doc->getElementById("r")->all())
        tags.push_back(e->tagName());
    QCOMPARE(tags, (std::vector<std::string>{"TABLE", "TBODY", "TR", "TD", "TD", "B", "I", "I", "P",
                                             "P"}));
    QVERIFY(doc->getElementById("r")->all().front()->all().size() == 4);
}

void TestHtmlDocument::attributes()
{
    const auto doc = parse("<div id=d Title='Mixed Case' data-x='a&amp;b' href='rel'>"
                           "<a id=a href=''>e</a><a id=n>no href</a></div>");
    const HtmlElement *div = doc->getElementById("d");
    QCOMPARE(div->getAttribute("title").value_or(""), std::string("Mixed Case"));
    QCOMPARE(div->getAttribute("TITLE").value_or(""), std::string("Mixed Case"));
    QCOMPARE(div->getAttribute("data-x").value_or(""), std::string("a&b"));
    // Only links resolve their href.
    QCOMPARE(div->getAttribute("href").value_or(""), std::string("rel"));
    QVERIFY(!div->getAttribute("missing"));
    QCOMPARE(doc->getElementById("a")->getAttribute("href").value_or(""),
             std::string("http://blog.example/owner/center/dashboard?tab=1"));
    QVERIFY(!doc->getElementById("n")->getAttribute("href"));
}

void TestHtmlDocument::hrefs()
{
    const auto doc = parse("<a id=rel href='../entry/12#c3'>r</a>"
                           "<a id=bad href='http://h:99999/'>b</a>"
                           "<a id=js href='javascript:openWin(&quot;x&quot;)'>j</a>"
                           "<a id=area-like href=' /x '>s</a>");
    auto href = [&](const char *id) {
        return doc->getElementById(id)->getAttribute("href").value_or("<none>");
    };
    QCOMPARE(href("rel"), std::string("http://blog.example/owner/entry/12#c3"));
    QCOMPARE(href("bad"), std::string("http://h:99999/")); // as written, like a browser
    QCOMPARE(href("js"), std::string("javascript:openWin(\"x\")"));
    QCOMPARE(href("area-like"), std::string("http://blog.example/x"));
    QCOMPARE(doc->baseUrl(), std::string("http://blog.example/owner/center/dashboard?tab=1#top"));
}

void TestHtmlDocument::baseElement()
{
    const auto doc = parse("<head><base target=_blank><base href='/blog/'><base href='/other/'>"
                           "</head><body><a id=a href='entry'>e</a><base id=late href='x'>");
    QCOMPARE(doc->baseUrl(), std::string("http://blog.example/blog/"));
    QCOMPARE(doc->getElementById("a")->getAttribute("href").value_or(""),
             std::string("http://blog.example/blog/entry"));
    // A base element's own href resolves against the document's address.
    QCOMPARE(doc->getElementById("late")->getAttribute("href").value_or(""),
             std::string("http://blog.example/owner/center/x"));
}

void TestHtmlDocument::withoutAddress()
{
    const auto doc = parse("<a id=rel href='entry'>e</a><a id=abs href='HTTP://H/'>a</a>", "");
    QCOMPARE(doc->getElementById("rel")->getAttribute("href").value_or(""), std::string("entry"));
    QCOMPARE(doc->getElementById("abs")->getAttribute("href").value_or(""),
             std::string("http://h/"));
    QVERIFY(doc->baseUrl().empty());
}

void TestHtmlDocument::bodyOfFrameset()
{
    const auto doc = parse("<frameset id=fs><frame src=a></frameset>");
    QVERIFY(doc->body());
    QCOMPARE(doc->body()->tagName(), std::string("FRAMESET"));
    QCOMPARE(doc->encodingName(), std::string("UTF-8"));
}

QTEST_APPLESS_MAIN(TestHtmlDocument)
#include "tst_htmldocument.moc"
