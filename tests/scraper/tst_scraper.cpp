#include "document/htmldocument.h"
#include "reader/scraper.h"
#include "tests/scraper/demopage.h"
#include "tests/support/documentreading.h"
#include "tests/support/parsedocument.h"

#include <QFile>
#include <QTest>

#include <algorithm>
#include <functional>

namespace {

constexpr char dashboardUrl[] = "http://blog.example/owner/center/dashboard";

std::optional<DashboardReading> readHtml(const QByteArray &html, const QByteArray &charset = {})
{
    const auto doc = HtmlDocument::parse(bytesView(html), bytesView(charset), dashboardUrl);
    return readDashboard(doc.get());
}

QByteArray testFile(const char *name)
{
    QFile f(qEnvironmentVariable("ORMIX_TEST_DATA") + QStringLiteral("/dashboard/") +
            QString::fromLatin1(name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing test file %s", name);
    return f.readAll();
}

// A page with the given counter text and the given markup inside "new".
QByteArray page(const char *counter, const char *area)
{
    return QByteArray("<html><body><p id=counter>") + counter + "</p><div id=new>" + area +
           "</div></body></html>";
}

// The page with its recent-items area taken out and put where place says.
QByteArray movedArea(const QByteArray &page,
                     const std::function<qsizetype(const QByteArray &rest)> &place,
                     const QByteArray &before = {}, const QByteArray &after = {})
{
    const qsizetype from = page.indexOf("<div id=\"new\"");
    const qsizetype to = page.indexOf("<div id=\"board\">");
    if (from < 0 || to < from)
        qFatal("the demo page changed its layout");
    QByteArray rest = page;
    const QByteArray area = rest.mid(from, to - from);
    rest.remove(from, to - from);
    rest.insert(place(rest), before + area + after);
    return rest;
}

QByteArray insertedBefore(QByteArray page, const char *marker, const QByteArray &markup)
{
    const qsizetype at = page.lastIndexOf(marker);
    if (at < 0)
        qFatal("no %s in the page", marker);
    return page.insert(at, markup);
}

// A page handed out as the page reader takes it in: never more than is asked for.
class TakenInParts final : public PageBytes
{
public:
    explicit TakenInParts(const QByteArray &page) : m_page(page) {}
    std::size_t size() const override { return static_cast<std::size_t>(m_page.size()); }
    std::string_view prefix(std::size_t n) override
    {
        m_taken = std::max(m_taken, std::min(n, size()));
        return {m_page.constData(), m_taken};
    }
    std::size_t taken() const { return m_taken; }

private:
    const QByteArray &m_page;
    std::size_t m_taken = 0;
};

QStringList lines(const std::vector<std::string> &reading)
{
    QStringList out;
    for (const std::string &line : reading)
        out << QString::fromStdString(line);
    return out;
}

QStringList texts(const RecentItemList &list)
{
    QStringList out;
    for (const auto &item : list)
        out << QString::fromStdString(item.text);
    return out;
}

} // namespace

class TestScraper final : public QObject
{
    Q_OBJECT

private slots:
    void readsARealisticDashboard()
    {
        const auto reading = readHtml(testFile("dashboard.html"));
        QVERIFY(reading);
        QCOMPARE(reading->todayCount, 1234);
        QCOMPARE(texts((*reading)[ItemKind::Comment]),
                 (QStringList{QStringLiteral("좋은 글 감사합니다 & 잘 보고 갑니다"),
                              QStringLiteral("두 번째 댓글"), QStringLiteral("공백이 많은 댓글")}));
        QCOMPARE((*reading)[ItemKind::Comment][0].link,
                 std::string("http://blog.example/123#comment456"));
        QCOMPARE((*reading)[ItemKind::Comment][1].link,
                 std::string("http://blog.example/owner/456?x=1#comment789"));
        QCOMPARE(texts((*reading)[ItemKind::Trackback]),
                 QStringList{QStringLiteral("다른 블로그의 글")});
        QCOMPARE((*reading)[ItemKind::Trackback][0].link,
                 std::string("http://other.example/post/1"));
        // The anchor without an href is no item; the image adds no text.
        QCOMPARE(texts((*reading)[ItemKind::Guestbook]),
                 (QStringList{QStringLiteral("안녕하세요!"), QStringLiteral("비밀글입니다")}));
    }

    void euckrPageReadsLikeUtf8()
    {
        const auto utf8 = readHtml(testFile("dashboard.html"));
        const auto euckr = readHtml(testFile("dashboard-euckr.html"));
        QVERIFY(utf8 && euckr);
        QCOMPARE(euckr->todayCount, utf8->todayCount);
        QVERIFY(euckr->items == utf8->items);
        // The charset named by the HTTP header wins over a wrong meta.
        QByteArray mislabelled = testFile("dashboard-euckr.html");
        mislabelled.replace("charset=\"euc-kr\"", "charset=\"utf-8\"");
        const auto byHeader = readHtml(mislabelled, "EUC-KR");
        QVERIFY(byHeader);
        QVERIFY(byHeader->items == utf8->items);
    }

    void todayCount_data()
    {
        QTest::addColumn<QString>("counter");
        QTest::addColumn<int>("count");
        QTest::newRow("plain") << QStringLiteral("오늘 15명 어제 40명") << 15;
        QTest::newRow("zero") << QStringLiteral("오늘 0명") << 0;
        QTest::newRow("thousands") << QStringLiteral("오늘 1,234명") << 1234;
        QTest::newRow("colon") << QStringLiteral("오늘: 15명") << 15;
        QTest::newRow("no digits") << QStringLiteral("오늘 -명") << 0;
        QTest::newRow("first run only") << QStringLiteral("오늘 12 (3)명") << 12;
        QTest::newRow("trailing comma") << QStringLiteral("오늘 12,명") << 12;
        QTest::newRow("double comma") << QStringLiteral("오늘 1,,234명") << 1;
        QTest::newRow("int max") << QStringLiteral("오늘 2147483647명") << 2147483647;
        QTest::newRow("overflow saturates")
            << QStringLiteral("오늘 99999999999999999999999명") << 2147483647;
        QTest::newRow("later 명 counts") << QStringLiteral("명 오늘 7 명") << 7;
    }

    void todayCount()
    {
        QFETCH(QString, counter);
        QFETCH(int, count);
        const auto parsed = parseTodayCount(counter.toStdString());
        QVERIFY(parsed);
        QCOMPARE(*parsed, count);
        // The same through a whole page.
        const auto reading = readHtml(page(counter.toUtf8().constData(), ""));
        QVERIFY(reading);
        QCOMPARE(reading->todayCount, count);
    }

    void missingPartsFailTheReading_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::newRow("명 only before 오늘") << page("3명 오늘", "");
        QTest::newRow("no 오늘") << page("today 3명", "");
        QTest::newRow("no counter") << QByteArray("<body><div id=new></div></body>");
        QTest::newRow("no new") << QByteArray("<body><p id=counter>오늘 3명</p></body>");
        QTest::newRow("counter only as name")
            << QByteArray("<body><p name=counter>오늘 3명</p><div id=new></div></body>");
        QTest::newRow("empty document") << QByteArray();
    }

    void missingPartsFailTheReading()
    {
        QFETCH(QByteArray, html);
        QVERIFY(!readHtml(html));
    }

    void sections()
    {
        // Links before the first title and after an untitled table belong nowhere;
        // a section with only its leading link is empty.
        const auto reading = readHtml(page("오늘 1명", R"(
            <a href="/x">stray</a>
            <table><tr><td>최근 댓글</td></tr></table><a href="/more">더보기</a>
            <table><tr><td>광고</td></tr></table><a href="/ad">광고 링크</a>
            <table><tr><td>최근 트랙백</td></tr></table><a href="/more">더보기</a>
              <a href="/t1">트랙백1</a>)"));
        QVERIFY(reading);
        QVERIFY((*reading)[ItemKind::Comment].empty());
        QCOMPARE(texts((*reading)[ItemKind::Trackback]), QStringList{QStringLiteral("트랙백1")});
        QVERIFY((*reading)[ItemKind::Guestbook].empty());
    }

    void repeatedTitlesFeedOneList()
    {
        const auto reading = readHtml(page("오늘 1명", R"(
            <table><tr><td>최근 방명록</td></tr></table><a href="/more">더보기</a><a href="/g1">g1</a>
            <table><tr><td>최근 방명록 (2)</td></tr></table><a href="/g2">g2</a>)"));
        QVERIFY(reading);
        QCOMPARE(texts((*reading)[ItemKind::Guestbook]),
                 (QStringList{QStringLiteral("g1"), QStringLiteral("g2")}));
    }

    void nestedTableEndsTheSection()
    {
        const auto reading = readHtml(page("오늘 1명", R"(
            <table><tr><td>최근 댓글</td></tr></table><a href="/more">더보기</a>
            <a href="/c1">c1</a>
            <table><tr><td><a href="/c2">c2</a></td></tr></table>)"));
        QVERIFY(reading);
        QCOMPARE(texts((*reading)[ItemKind::Comment]), QStringList{QStringLiteral("c1")});
    }

    void titleMustStandFirst()
    {
        const auto reading = readHtml(page("오늘 1명", R"(
            <table><tr><td> 최근 댓글</td></tr></table><a href="/more">m</a><a href="/c1">c1</a>
            <table><tr><td>&nbsp;최근 트랙백</td></tr></table><a href="/more">m</a><a href="/t1">t1</a>
            <table><tr><td><br></td></tr><tr><td>최근 방명록</td></tr></table><a href="/m">m</a><a href="/g1">g1</a>)"));
        QVERIFY(reading);
        // A blank in the markup collapses away in the rendered text; a no-break space
        // does not, and neither does the line break of a spacer row.
        QCOMPARE(texts((*reading)[ItemKind::Comment]), QStringList{QStringLiteral("c1")});
        QVERIFY((*reading)[ItemKind::Trackback].empty());
        QVERIFY((*reading)[ItemKind::Guestbook].empty());
    }

    void emptyAreaGivesEmptyLists()
    {
        const auto reading = readHtml(page("오늘 5명", ""));
        QVERIFY(reading);
        QCOMPARE(reading->todayCount, 5);
        QVERIFY((*reading)[ItemKind::Comment].empty() && (*reading)[ItemKind::Trackback].empty() &&
                (*reading)[ItemKind::Guestbook].empty());
    }

    // Parsed only as far as the scraper needs, a page reads as the whole page would up to
    // where its elements are complete (readsAs, parsed whole; the page itself when empty):
    // what only comes after that point is not looked at, nor taken in (at most maxTaken
    // bytes of the page when set). Where the rest could change the elements themselves, the
    // whole page is parsed.
    void prefixReadsAsThePageUpToTheElements_data()
    {
        QTest::addColumn<QByteArray>("html");
        QTest::addColumn<QByteArray>("charset");
        QTest::addColumn<int>("fromPrefix"); // 1 yes, 0 no, -1 either
        QTest::addColumn<QByteArray>("readsAs");
        QTest::addColumn<int>("maxTaken");
        QTest::newRow("saved") << testFile("dashboard.html") << QByteArray() << -1 << QByteArray()
                               << 0;
        QTest::newRow("demo top, body cap")
            << demoPage(8 * 1024 * 1024 - 4096) << QByteArray("utf-8") << 1 << QByteArray()
            << 64 * 1024;
        QTest::newRow("saved EUC-KR")
            << testFile("dashboard-euckr.html") << QByteArray() << -1 << QByteArray() << 0;
        for (int size : {15000, 150000, 1500000}) {
            const QByteArray demo = demoPage(static_cast<std::size_t>(size));
            const QByteArray n = QByteArray::number(size);
            QTest::newRow("demo top " + n) << demo << QByteArray("utf-8") << 1 << QByteArray()
                                           << (size > 15000 ? 64 * 1024 : 0);
            // Between two halves of the board, the board table closed and opened again.
            const QByteArray middle = movedArea(
                demo,
                [](const QByteArray &rest) {
                    return rest.indexOf("<tr class=", rest.indexOf("<tr class=") + rest.size() / 3);
                },
                "</table>", "<table class=\"board\">");
            QTest::newRow("demo middle " + n)
                << middle << QByteArray("utf-8") << -1 << QByteArray() << 0;
            const QByteArray end = movedArea(demo, [](const QByteArray &rest) {
                return rest.lastIndexOf("<div id=\"footer\">");
            });
            QTest::newRow("demo end " + n) << end << QByteArray("utf-8") << 1 << QByteArray() << 0;
            if (size != 150000)
                continue;
            // Foster parenting puts content from later in the page before an open table,
            // so in front of the area in tree order: a later duplicate id there would be found
            // first by a parse that went on.
            const auto tableAround = [&demo](const QByteArray &late) {
                QByteArray between;
                for (int i = 0; i < 400; ++i)
                    between += "<p class=\"fostered\">" + QByteArray::number(i) + "</p>\n";
                return movedArea(
                    demo, [](const QByteArray &rest) { return rest.indexOf("<div id=\"board\">"); },
                    "<table class=\"around\"><tr><td>",
                    "</td></tr>\n" + between + late + "</table>");
            };
            const QByteArray around = tableAround({});
            QTest::newRow("table around, nothing late")
                << around << QByteArray() << 1 << QByteArray() << 0;
            QTest::newRow("table around, late duplicate")
                << tableAround("<div id=\"new\">늦은 것</div>") << QByteArray() << 1 << around << 0;
            QTest::newRow("table around, late reference id")
                << tableAround("<p id=\"&#110;ew\">늦은 것</p>") << QByteArray() << 1 << around
                << 0;
            QTest::newRow("table around, late counter")
                << tableAround("<p iD = counter>오늘 9명</p>") << QByteArray() << 1 << around << 0;
            QTest::newRow("late counter in the layout table")
                << insertedBefore(demo, "</table>\n</div>\n</td>", "<p id=\"counter\">오늘 9명</p>")
                << QByteArray() << 1 << demo << 0;
            QTest::newRow("late base") << insertedBefore(demo, "<div id=\"footer\">",
                                                         "<base href=\"http://other.example/\">")
                                       << QByteArray() << 1 << demo << 0;
            QTest::newRow("late body id")
                << insertedBefore(demo, "<div id=\"footer\">", "<body id=\"new\">") << QByteArray()
                << 1 << demo << 0;
            const QByteArray early = "<html><head></head><div id=counter>오늘 1명</div>"
                                     "<div id=new><table><tr><td>최근 댓글</td></tr></table>"
                                     "<a href=/a>x</a><a href=/b>y</a></div>";
            QTest::newRow("late frameset")
                << early + QByteArray(6000, ' ') + "<frameset><frame src=/f></frameset>"
                << QByteArray() << -1 << early << 0;
            // Right after the area, within any prefix the series tries: still not looked at.
            QTest::newRow("base right after the area")
                << early + "<base href=\"http://other.example/\"><p>a</p>" + QByteArray(6000, ' ') +
                       "<p>b</p>"
                << QByteArray() << 1 << early << 0;
            // A body closed early, then given the id by a later tag: never the element read,
            // however far the first cut reaches.
            const QByteArray closedBody = "<html><head></head><body></body>" + early.mid(19);
            QTest::newRow("late body id, body closed before the area")
                << closedBody + QByteArray(6000, ' ') + "<body id=new><html id=counter>"
                << QByteArray() << 1 << closedBody << 0;
            QTest::newRow("area inside a link")
                << movedArea(
                       demo,
                       [](const QByteArray &rest) { return rest.indexOf("<div id=\"board\">"); },
                       "<a href=\"/wrap\">", "")
                << QByteArray() << -1 << QByteArray() << 0;
        }
    }

    void prefixReadsAsThePageUpToTheElements()
    {
        QFETCH(QByteArray, html);
        QFETCH(QByteArray, charset);
        QFETCH(int, fromPrefix);
        QFETCH(QByteArray, readsAs);
        QFETCH(int, maxTaken);
        const std::vector<std::string> ids = dashboardIds();
        const auto whole = HtmlDocument::parse(bytesView(readsAs.isEmpty() ? html : readsAs),
                                               bytesView(charset), dashboardUrl);
        QVERIFY(whole->isWhole());
        // Handed out as the page reader does: no more of the page than is asked for.
        TakenInParts source(html);
        const auto part = HtmlDocument::parse(source, bytesView(charset), dashboardUrl, ids);
        if (fromPrefix >= 0)
            QCOMPARE(!part->isWhole(), fromPrefix == 1);
        if (maxTaken > 0)
            QVERIFY2(source.taken() <= std::size_t(maxTaken),
                     qPrintable(QString::number(source.taken())));
        QCOMPARE(lines(documentReading(*part, ids)), lines(documentReading(*whole, ids)));
        const auto expected = readDashboard(whole.get());
        const auto actual = readDashboard(part.get());
        QCOMPARE(actual.has_value(), expected.has_value());
        if (expected) {
            QCOMPARE(actual->todayCount, expected->todayCount);
            for (const ItemKind kind : AllItemKinds) {
                QCOMPARE(texts((*actual)[kind]), texts((*expected)[kind]));
                QCOMPARE((*actual)[kind], (*expected)[kind]);
            }
        }
        // Every cut the growing series can start from reads the same too.
        for (std::size_t first = 512; first < std::min<std::size_t>(html.size(), 200000);
             first *= 2) {
            const auto cut =
                HtmlDocument::parse(bytesView(html), bytesView(charset), dashboardUrl, ids, first);
            QCOMPARE(lines(documentReading(*cut, ids)), lines(documentReading(*whole, ids)));
        }
    }
};

QTEST_APPLESS_MAIN(TestScraper)
#include "tst_scraper.moc"
