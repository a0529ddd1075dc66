#include "state/tinfoimp.h"
#include "tests/support/testenv.h"

#include <QTest>

namespace {

RecentItemList items(std::initializer_list<const char *> texts)
{
    RecentItemList list;
    for (const char *t : texts)
        list.push_back({t, std::string("http://blog.example/") + t});
    return list;
}

// One successful reading, in the order the scraper hands it over.
void reading(lTInfo &store, const RecentItemList &c, const RecentItemList &t,
             const RecentItemList &g)
{
    store.SetAnyNew(false);
    store.SetComments(c);
    store.SetTrackbacks(t);
    store.SetGuestbook(g);
}

} // namespace

class TestTInfo final : public QObject
{
    Q_OBJECT

private slots:
    void initialValuesAndSingleInstance()
    {
        lTInfo *store = GetTInfo();
        QCOMPARE(store, GetTInfo());
        QCOMPARE(store->GetInterval(), 30);
        QCOMPARE(store->GetTodayCount(), 0);
        QCOMPARE(store->GetLoginState(), int(LoggedOut));
        QVERIFY(store->GetViewer() == nullptr);
        QVERIFY(!store->IsAnyNew());
    }

    void latestAndListCopies()
    {
        CTInfoImp store;
        std::string text = "kept", link = "kept too";
        QVERIFY(!store.GetLatestComment(text, link));
        QCOMPARE(text, std::string("kept"));
        QCOMPARE(link, std::string("kept too"));

        RecentItemList out = items({"stale"});
        QVERIFY(store.GetGuestbook(out));
        QVERIFY(out.empty());

        reading(store, items({"c1", "c2"}), items({"t1"}), {});
        QVERIFY(store.GetLatestComment(text, link));
        QCOMPARE(text, std::string("c1"));
        QCOMPARE(link, std::string("http://blog.example/c1"));
        QVERIFY(store.GetLatestTrackback(text, link));
        QCOMPARE(text, std::string("t1"));

        // A copy, not a view: changing it does not reach the store.
        QVERIFY(store.GetComments(out));
        out.front().text = "changed";
        QVERIFY(store.GetLatestComment(text, link));
        QCOMPARE(text, std::string("c1"));
    }

    void firstReadingIsSilent()
    {
        CTInfoImp store;
        // A failed reading before the first good one changes nothing and does not end it.
        reading(store, items({"a", "b"}), items({"t"}), items({"g"}));
        QVERIFY(!store.IsNewComment());
        QVERIFY(!store.IsNewTrackback());
        QVERIFY(!store.IsNewGuestbook());
        QVERIFY(!store.IsAnyNew());
    }

    void firstReadingEndsOnlyWithGuestbook()
    {
        CTInfoImp store;
        // Comments handed over twice before any guestbook: still the silent first reading.
        store.SetComments(items({"a"}));
        store.SetComments(items({"b", "a"}));
        QVERIFY(!store.IsNewComment());
        store.SetGuestbook({});
        store.SetComments(items({"c", "b", "a"}));
        QVERIFY(store.IsNewComment());
    }

    void changesRaiseFlags_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("raised");
        QTest::newRow("same lists")
            << QStringList{QStringLiteral("a"), QStringLiteral("b")}
            << QStringList{QStringLiteral("a"), QStringLiteral("b")} << false;
        QTest::newRow("new head, same length")
            << QStringList{QStringLiteral("a"), QStringLiteral("b")}
            << QStringList{QStringLiteral("n"), QStringLiteral("a")} << true;
        QTest::newRow("item removed") << QStringList{QStringLiteral("a"), QStringLiteral("b")}
                                      << QStringList{QStringLiteral("a")} << true;
        QTest::newRow("list emptied") << QStringList{QStringLiteral("a")} << QStringList{} << true;
        QTest::newRow("first item arrives")
            << QStringList{} << QStringList{QStringLiteral("a")} << true;
        QTest::newRow("change below the head")
            << QStringList{QStringLiteral("a"), QStringLiteral("b")}
            << QStringList{QStringLiteral("a"), QStringLiteral("x")} << false;
        QTest::newRow("head text case differs")
            << QStringList{QStringLiteral("abc")} << QStringList{QStringLiteral("ABC")} << true;
    }

    void changesRaiseFlags()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(bool, raised);
        auto toList = [](const QStringList &texts) {
            RecentItemList list;
            for (const QString &t : texts)
                list.push_back({t.toStdString(), "http://x/" + t.toStdString()});
            return list;
        };
        CTInfoImp store;
        reading(store, {}, {}, toList(before));
        reading(store, {}, {}, toList(after));
        QCOMPARE(store.IsNewGuestbook(), raised);
        QCOMPARE(store.IsAnyNew(), raised);
        QVERIFY(!store.IsNewComment());
        QVERIFY(!store.IsNewTrackback());
    }

    void linkOnlyChangeIsSilent()
    {
        CTInfoImp store;
        reading(store, items({"a"}), {}, {});
        RecentItemList moved = items({"a"});
        moved.front().link = "http://elsewhere/";
        reading(store, moved, {}, {});
        QVERIFY(!store.IsNewComment());
        QVERIFY(!store.IsAnyNew());
        std::string text, link;
        QVERIFY(store.GetLatestComment(text, link));
        QCOMPARE(link, std::string("http://elsewhere/"));
    }

    void flagsSurviveLaterReadingsUntilCleared()
    {
        CTInfoImp store;
        reading(store, items({"a"}), {}, {});
        reading(store, items({"b", "a"}), {}, {});
        QVERIFY(store.IsNewComment());
        QVERIFY(store.IsAnyNew());
        // Unchanged reading: the kind stays new, but nothing arrived in this one.
        reading(store, items({"b", "a"}), {}, {});
        QVERIFY(store.IsNewComment());
        QVERIFY(!store.IsAnyNew());
        store.SetNewComment(false);
        reading(store, items({"b", "a"}), {}, {});
        QVERIFY(!store.IsNewComment());
    }

    void openUrlFiltersSchemes_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opened");
        QTest::newRow("http") << QStringLiteral("http://blog.example/12#comment3") << true;
        QTest::newRow("https upper-case scheme")
            << QStringLiteral("HTTPS://blog.example/guestbook") << true;
        QTest::newRow("percent-encoded Korean")
            << QStringLiteral("http://blog.example/%ED%95%9C?q=1") << true;
        QTest::newRow("javascript") << QStringLiteral("javascript:alert(1)") << false;
        QTest::newRow("file") << QStringLiteral("file:///etc/passwd") << false;
        QTest::newRow("data") << QStringLiteral("data:text/html,<b>x</b>") << false;
        QTest::newRow("relative") << QStringLiteral("/12#comment") << false;
        QTest::newRow("empty") << QStringLiteral("") << false;
        QTest::newRow("no host") << QStringLiteral("http://") << false;
        QTest::newRow("newline inside") << QStringLiteral("http://blog.example/\n--help") << false;
        QTest::newRow("blank inside") << QStringLiteral("http://blog.example/a b") << false;
        QTest::newRow("option-looking") << QStringLiteral("--version") << false;
    }

    void openUrlFiltersSchemes()
    {
        QFETCH(QString, url);
        QFETCH(bool, opened);
        FakeBrowser browser;
        QCOMPARE(GetTInfo()->OpenURL(url.toStdString()), opened);
        if (opened) {
            QVERIFY(browser.waitForLaunches(1));
            QCOMPARE(browser.launches(), QStringList{url});
        } else {
            QTest::qWait(200);
            QVERIFY(browser.launches().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(TestTInfo)
#include "tst_tinfo.moc"
