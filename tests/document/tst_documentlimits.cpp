// Pages that are deep, huge or broken: no stack overflow, no crash, still the right answers.
// (What a page costs, and gumbo's own aborts, are the page reader's to bound: tst_pagereader.)
#include "document/htmldocument.h"
#include "tests/support/parsedocument.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

constexpr char kAddress[] = "http://127.0.0.1:8080/blog/owner/center/dashboard";

std::unique_ptr<HtmlDocument> parse(const QByteArray &page)
{
    return HtmlDocument::parse(bytesView(page), {}, kAddress);
}

QByteArray repeated(const char *piece, int times)
{
    QByteArray out;
    const QByteArray p(piece);
    out.reserve(p.size() * times);
    for (int i = 0; i < times; ++i)
        out += p;
    return out;
}

} // namespace

class TestDocumentLimits final : public QObject
{
    Q_OBJECT

private slots:
    void deepInline();
    void deepTables();
    void deepBlocks();
    void deepHidden();
    void hugeTable();
    void unclosedElements_data();
    void unclosedElements();
    void manyInlineLinks();
    void brokenInput_data();
    void brokenInput();
    void controlCharacters();
    void noscriptAndTemplate();
};

void TestDocumentLimits::deepInline()
{
    const int depth = 20000;
    const QByteArray page = "<body><div id=top>" + repeated("<span>", depth) +
                            "<a id=deepest href=deep.html> deep  text </a>" +
                            repeated("</span>", depth) + " after</div>";
    const auto doc = parse(page);
    const HtmlElement *top = doc->getElementById("top");
    QVERIFY(top);
    QCOMPARE(top->all().size(), std::size_t(depth + 1));
    QCOMPARE(top->innerText(), std::string("deep text after"));
    const HtmlElement *deepest = doc->getElementById("deepest");
    QVERIFY(deepest);
    QCOMPARE(deepest->tagName(), std::string("A"));
    // The space before "after" collapses into the one ending the link's text.
    QCOMPARE(deepest->innerText(), std::string("deep text "));
    QCOMPARE(deepest->getAttribute("href").value_or(""),
             std::string("http://127.0.0.1:8080/blog/owner/center/deep.html"));
}

void TestDocumentLimits::deepTables()
{
    const int depth = 3000; // 12,000 elements: table, tbody, tr, td per level
    const QByteArray page = "<body>" + repeated("<table><tr><td>", depth) + "<b id=core>core</b>" +
                            repeated("</td></tr></table>", depth);
    const auto doc = parse(page);
    QVERIFY(doc->body());
    QCOMPARE(doc->body()->all().size(), std::size_t(depth * 4 + 1));
    QCOMPARE(doc->getElementById("core")->innerText(), std::string("core"));
    QVERIFY(doc->body()->innerText().ends_with("core"));
}

void TestDocumentLimits::deepBlocks()
{
    // Nested blocks cost gumbo a scan of its open-element stack per tag, so this stays just
    // past the cap.
    const int depth = 600;
    const QByteArray page =
        "<body>" + repeated("<div>", depth) + "<p id=p>x</p>y" + repeated("</div>", depth) + "z";
    const auto doc = parse(page);
    QCOMPARE(doc->body()->all().size(), std::size_t(depth + 1));
    // As in a browser, elements opened past 512 levels hang side by side on the element at
    // that level while text stays where it was parsed: "y" lands in the innermost div,
    // which now comes before the paragraph.
    QCOMPARE(doc->body()->innerText(), std::string("y\n\nx\n\nz"));
    QCOMPARE(doc->getElementById("p")->innerText(), std::string("x"));
}

void TestDocumentLimits::deepHidden()
{
    // An element that is not rendered answers with its text content, also when deep.
    const int depth = 20000;
    const QByteArray page = "<body><div hidden><span id=outer>" + repeated("<span>a ", depth) +
                            repeated("</span>", depth) + "</span></div>";
    const auto doc = parse(page);
    const std::string text = doc->getElementById("outer")->innerText();
    QCOMPARE(text.size(), std::size_t(2 * depth));
    QCOMPARE(doc->body()->innerText(), std::string());
}

void TestDocumentLimits::hugeTable()
{
    // Half the body cap.
    QByteArray page = "<body><div id=new><table>";
    int rows = 0;
    while (page.size() < 4 * 1024 * 1024) {
        page += "<tr><td><a href=\"/blog/" + QByteArray::number(rows) + "#c\">item " +
                QByteArray::number(rows) + "</a></td><td>note&nbsp;" + QByteArray::number(rows) +
                "</td></tr>\n";
        ++rows;
    }
    page += "</table></div>";
    const auto doc = parse(page);
    const HtmlElement *area = doc->getElementById("new");
    QVERIFY(area);
    std::vector<const HtmlElement *> links;
    for (const HtmlElement *e : area->all())
        if (e->tagName() == "A")
            links.push_back(e);
    QCOMPARE(links.size(), std::size_t(rows));
    QCOMPARE(links.front()->innerText(), std::string("item 0"));
    QCOMPARE(links.back()->innerText(), "item " + std::to_string(rows - 1));
    QCOMPARE(links.back()->getAttribute("href").value_or(""),
             "http://127.0.0.1:8080/blog/" + std::to_string(rows - 1) + "#c");
    const std::string all = area->innerText();
    QVERIFY(all.starts_with("item 0\tnote\xC2\xA0"
                            "0\nitem 1\t"));
    QVERIFY(all.ends_with("\tnote\xC2\xA0" + std::to_string(rows - 1)));
}

void TestDocumentLimits::manyInlineLinks()
{
    // Every link shares one line box; each answer must not re-read the whole line.
    const int count = 50000;
    QByteArray page = "<body><div id=line>";
    for (int i = 0; i < count; ++i)
        page +=
            "<a href=?n=" + QByteArray::number(i) + "> link " + QByteArray::number(i) + " </a> ";
    page += "</div>";
    const auto doc = parse(page);
    std::size_t total = 0;
    int index = 0;
    for (const HtmlElement *a : doc->getElementById("line")->all()) {
        const std::string text = a->innerText();
        // Only the last link's trailing space falls at the end of the line.
        const std::string expected =
            "link " + std::to_string(index) + (index + 1 < count ? " " : "");
        if (text != expected)
            QFAIL(qPrintable(
                QStringLiteral("link %1: %2").arg(index).arg(QString::fromStdString(text))));
        total += text.size();
        ++index;
    }
    QCOMPARE(index, count);
    QVERIFY(total > 0);
}

void TestDocumentLimits::unclosedElements_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<int>("elements");    // in the body
    QTest::addColumn<QByteArray>("text"); // how the body's text ends

    // Shapes browsers read without trouble read here too, implied end tags and all.
    QTest::newRow("as deep as the cap")
        << "<body>" + repeated("<div>", 509) + "<p>bottom</p>" << 510 << QByteArray("bottom");
    QTest::newRow("unclosed paragraphs")
        << "<body>" + repeated("<p>para ", 30000) << 30000 << QByteArray("para");
    QTest::newRow("unclosed list items")
        << "<body><ul>" + repeated("<li>item ", 30000) << 30001 << QByteArray("item");
    QTest::newRow("unclosed cells and rows")
        << "<body><table>" + repeated("<tr><td>a<td>b", 15000) << 45002 << QByteArray("a\tb");
    QTest::newRow("unclosed options")
        << "<body><select>" + repeated("<option>opt ", 30000) << 30001 << QByteArray();
    QTest::newRow("unclosed definitions")
        << "<body><dl>" + repeated("<dt>term<dd>def ", 15000) << 30001 << QByteArray("def");
}

void TestDocumentLimits::unclosedElements()
{
    QFETCH(QByteArray, page);
    QFETCH(int, elements);
    QFETCH(QByteArray, text);
    const auto doc = parse(page);
    QVERIFY(doc->body());
    QCOMPARE(doc->body()->all().size(), std::size_t(elements));
    QVERIFY2(doc->body()->innerText().ends_with(text.toStdString()),
             doc->body()->innerText().substr(0, 200).c_str());
}

void TestDocumentLimits::brokenInput_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("nul bytes") << QByteArray("<p>a\0b</p>\0", 11);
    QTest::newRow("unterminated tag") << QByteArray("<div id=\"x");
    QTest::newRow("unterminated comment") << QByteArray("<p>a<!-- b");
    QTest::newRow("only end tags") << repeated("</div></table></td>", 1000);
    QTest::newRow("stray table parts") << repeated("<td><tr><tbody><caption><col>", 2000);
    QTest::newRow("nested foreign content") << repeated("<svg><foreignObject><math><mi>", 5000);
    QTest::newRow("formatting storm") << repeated("<b><i><a href=x><p>", 3000);
    QTest::newRow("huge attribute") << "<a href=\"" + QByteArray(2 * 1024 * 1024, 'x') + "\">l</a>";
    QTest::newRow("frameset") << QByteArray("<frameset><frame src=a></frameset>");
    QByteArray noise(1 << 20, '\0');
    QRandomGenerator generator(20261209); // fixed, so a failure can be replayed
    for (char &c : noise)
        c = static_cast<char>(generator.bounded(256));
    QTest::newRow("random bytes") << noise;
    QTest::newRow("random bytes as utf-16") << QByteArray("\xFF\xFE") + noise;
}

void TestDocumentLimits::brokenInput()
{
    QFETCH(QByteArray, page);
    const auto doc = parse(page);
    QVERIFY(doc);
    QVERIFY(doc->body()); // the parser always makes one, as browsers do
    const auto all = doc->body()->all();
    for (const HtmlElement *e : all) {
        (void)e->tagName();
        (void)e->getAttribute("href");
    }
    // innerText costs its element's size; on nested input, asking every element is
    // quadratic by nature, so ask a spread of them.
    (void)doc->body()->innerText();
    const std::size_t step = std::max<std::size_t>(1, all.size() / 300);
    for (std::size_t i = 0; i < all.size(); i += step)
        (void)all[i]->innerText();
    QVERIFY(doc->getElementById("nothing-has-this-id") == nullptr);
    QVERIFY(doc->getElementById("") == nullptr);
}

void TestDocumentLimits::controlCharacters()
{
    // gumbo would turn these into U+FFFD; browsers keep them.
    const QByteArray page("<body><div id=\"c\x01\" title=\"a\x7f\xC2\x85"
                          "b\">x\x01y\xEF\xBF\xBF</div>");
    const auto doc = parse(page);
    const HtmlElement *div = doc->getElementById("c\x01");
    QVERIFY(div);
    QCOMPARE(div->getAttribute("title").value_or(""), std::string("a\x7f\xC2\x85"
                                                                  "b"));
    QCOMPARE(div->innerText(), std::string("x\x01y\xEF\xBF\xBF"));
    // Text that already uses the characters we borrow is read as it is.
    const QByteArray borrowed("<body><p id=p>\xF4\x80\x80\x81 \x01</p>");
    const auto doc2 = parse(borrowed);
    QCOMPARE(doc2->getElementById("p")->innerText(), std::string("\xF4\x80\x80\x81 \xEF\xBF\xBD"));

    // Numeric references past U+10FFFF read as U+FFFD however long they are; gumbo's own
    // sum wraps on long ones (0x10000003C would come out as "<").
    const QByteArray references(
        "<body><p id=p title='&#x10000003C;'>a&#x10FFF0FFFF;b&#99999999999;c&#x110000;"
        "d&#x3C;e&#2147483647;f&#x0000000041;</p><a id=a href='/x&#x1000000003C;'>l</a>");
    const auto doc3 = parse(references);
    const std::string fffd("\xEF\xBF\xBD");
    QCOMPARE(doc3->getElementById("p")->innerText(),
             "a" + fffd + "b" + fffd + "c" + fffd + "d<e" + fffd + "fA");
    QCOMPARE(doc3->getElementById("p")->getAttribute("title").value_or(""), fffd);
    QCOMPARE(doc3->getElementById("a")->getAttribute("href").value_or(""),
             std::string("http://127.0.0.1:8080/x%EF%BF%BD"));
}

void TestDocumentLimits::noscriptAndTemplate()
{
    // With scripting on, noscript holds raw text, and template content is not in the tree.
    const QByteArray page("<body><div id=d><noscript id=ns><p id=inside>hi &amp; bye</p></noscript>"
                          "<template><p id=tpl>t</p></template><span>s</span></div>");
    const auto doc = parse(page);
    QVERIFY(!doc->getElementById("inside"));
    QVERIFY(!doc->getElementById("tpl"));
    std::vector<std::string> tags;
    for (const HtmlElement *e : doc->getElementById("d")->all())
        tags.push_back(e->tagName());
    QCOMPARE(tags, (std::vector<std::string>{"NOSCRIPT", "TEMPLATE", "SPAN"}));
    QCOMPARE(doc->getElementById("ns")->innerText(), std::string("<p id=inside>hi &amp; bye</p>"));
    QCOMPARE(doc->getElementById("d")->innerText(), std::string("s"));

    // Unclosed, a noscript's text runs to the end of the page; one that starts inside it is
    // part of that text to a browser and has none of its own, so no text is read twice.
    const auto unclosed = parse("<body><div><noscript id=a>x</div><div><noscript id=b>y</div>" +
                                repeated("<div><noscript>z</div>", 2000));
    QVERIFY(unclosed->getElementById("a")->innerText().starts_with(
        "x</div><div><noscript id=b>y</div><div><noscript>z</div>"));
    QCOMPARE(unclosed->getElementById("a")->innerText().size(), std::size_t(34 + 22 * 2000));
    QCOMPARE(unclosed->getElementById("b")->innerText(), std::string());

    // Depth inside template content and noscript is not capped for reading; freeing such a
    // tree must still not run out of stack.
    const int depth = 300000;
    for (const char *holder : {"template", "noscript"}) {
        const QByteArray deep = QByteArrayLiteral("<body><p id=after>") + holder + "<" + holder +
                                ">" + repeated("<span>", depth) + "x</" + holder + ">";
        auto deepDoc = parse(deep);
        QCOMPARE(deepDoc->getElementById("after")->innerText(), std::string(holder));
        deepDoc.reset();
    }
}

QTEST_APPLESS_MAIN(TestDocumentLimits)
#include "tst_documentlimits.moc"
