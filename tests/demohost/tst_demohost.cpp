// The demo blog host over loopback: the login form, the dashboard's page contract,
// the control channel and every injected fault.
#include "tests/support/demohost.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

struct Answer
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QByteArray location;
    QByteArray setCookie;
    QByteArray contentType;
};

// One request, no redirects followed, so each hop can be checked.
class Client
{
public:
    Client()
    {
        m_nam.setProxy(QNetworkProxy::NoProxy);
        m_nam.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }

    Answer send(const QByteArray &method, const QUrl &url, const QByteArray &body = {},
                const QByteArray &contentType = {})
    {
        QNetworkRequest req(url);
        if (!contentType.isEmpty())
            req.setRawHeader("Content-Type", contentType);
        QNetworkReply *reply = m_nam.sendCustomRequest(req, method, body);
        Answer a;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        timer.start(15000);
        loop.exec();
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.location = reply->rawHeader("Location");
        a.setCookie = reply->rawHeader("Set-Cookie");
        a.contentType = reply->rawHeader("Content-Type");
        if (reply->isFinished()) {
            a.body = reply->readAll();
            a.error = reply->error();
        } else {
            a.error = QNetworkReply::TimeoutError;
            reply->abort();
        }
        reply->deleteLater();
        return a;
    }

    Answer get(const QUrl &url) { return send("GET", url); }

    // Posts the login form as the program does; true when the host accepted it.
    Answer login(DemoHost &host, const QByteArray &id, const QByteArray &password)
    {
        return send("POST", host.loginUrl(), host.loginBody(id, password),
                    "application/x-www-form-urlencoded");
    }

    QNetworkCookieJar *jar() { return m_nam.cookieJar(); }

private:
    QNetworkAccessManager m_nam;
};

QString text(const QByteArray &utf8)
{
    return QString::fromUtf8(utf8);
}

// The "new" element's content, up to the board that follows it.
QString recentArea(const QString &page)
{
    const qsizetype start = page.indexOf(QStringLiteral("<div id=\"new\""));
    const qsizetype end = page.indexOf(QStringLiteral("<div id=\"board\""));
    if (start < 0 || end < start)
        return {};
    return page.mid(start, end - start);
}

struct Section
{
    QString title;
    QStringList linkTexts;
    QStringList hrefs;
};

// Reads the recent-items area the way the page contract describes it: every table starts a
// section named by its text, every link after it belongs to that section.
QList<Section> sections(const QString &area)
{
    static const QRegularExpression token(
        QStringLiteral("<table[^>]*>(.*?)</table>|<a [^>]*href=\"([^\"]*)\"[^>]*>(.*?)</a>"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    QList<Section> out;
    auto it = token.globalMatch(area);
    while (it.hasNext()) {
        const auto m = it.next();
        if (!m.captured(1).isNull() && m.capturedStart(1) >= 0) {
            Section s;
            s.title = m.captured(1).remove(tags);
            out.append(s);
        } else if (!out.isEmpty()) {
            out.last().linkTexts.append(m.captured(3));
            out.last().hrefs.append(m.captured(2));
        }
    }
    return out;
}

} // namespace

class TestDemoHost final : public QObject
{
    Q_OBJECT

private slots:
    void loginAndDashboardFollowThePageContract();
    void loginBodyArrivesDecodedByteForByte();
    void wrongPasswordEndsOnTheErrorPage();
    void loginNeverRedirectsToAnotherHost();
    void dashboardWithoutValidSessionGoesToLogin();
    void itemsAndCountsShowUpNewestFirstAndEscaped();
    void pageReferencesAreServed();
    void pageSizeOptionPadsThePage();
    void controlChannelNeedsTheToken();
    void faultsApplyToTheNextRequestsOnly();
    void demoModeBringsNewItemsOnItsOwn();
    void exitsOnSignalAndOnStdinEof();
};

static Answer loggedIn(Client &c, DemoHost &host)
{
    const Answer a = c.login(host, "owner", host.password().toUtf8());
    return a;
}

void TestDemoHost::loginAndDashboardFollowThePageContract()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;

    const Answer login = loggedIn(c, host);
    QCOMPARE(login.status, 302);
    // The host sends the browser on to exactly the address named in requestURI.
    QCOMPARE(QUrl(text(login.location)), host.dashboardUrl());
    QVERIFY(login.setCookie.contains("HttpOnly"));
    QVERIFY(login.setCookie.contains("Path=/"));

    const Answer page = c.get(host.dashboardUrl());
    QCOMPARE(page.status, 200);
    QVERIFY(page.contentType.contains("charset=UTF-8"));
    const QString html = text(page.body);
    QVERIFY(html.count(QLatin1Char('\n')) > 150);
    QCOMPARE(html.count(QStringLiteral("id=\"counter\"")), 1);
    QCOMPARE(html.count(QStringLiteral("id=\"new\"")), 1);
    QVERIFY(
        html.contains(QStringLiteral("<td id=\"counter\">오늘 15명 어제 40명 전체 1234명</td>")));

    const QList<Section> s = sections(recentArea(html));
    QCOMPARE(s.size(), 3);
    const QStringList titles{QStringLiteral("최근 댓글"), QStringLiteral("최근 트랙백"),
                             QStringLiteral("최근 방명록")};
    const QJsonObject items = host.items();
    const QStringList kinds{QStringLiteral("comment"), QStringLiteral("trackback"),
                            QStringLiteral("guestbook")};
    for (int k = 0; k < 3; ++k) {
        QVERIFY2(s[k].title.startsWith(titles[k]), qPrintable(s[k].title));
        // One leading link, then one link per item, newest first.
        const QJsonArray list = items.value(kinds[k]).toArray();
        QVERIFY(!list.isEmpty());
        QCOMPARE(s[k].linkTexts.size(), list.size() + 1);
        QCOMPARE(s[k].linkTexts.first(), QStringLiteral("더보기"));
        for (int i = 0; i < list.size(); ++i) {
            QCOMPARE(s[k].linkTexts[i + 1],
                     list[i].toObject().value(QStringLiteral("text")).toString());
            QCOMPARE(s[k].hrefs[i + 1],
                     list[i].toObject().value(QStringLiteral("link")).toString());
        }
    }
    const QJsonObject stats = host.stats();
    QCOMPARE(stats.value(QStringLiteral("loginPosts")).toInt(), 1);
    QCOMPARE(stats.value(QStringLiteral("dashboardRequests")).toInt(), 1);
}

void TestDemoHost::loginBodyArrivesDecodedByteForByte()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    const QByteArray password = "a&b=c+d%e f*한글\x01";
    QVERIFY(host.setPassword(password));
    Client c;
    const Answer login = c.login(host, "owner", password);
    QCOMPARE(login.status, 302);
    QCOMPARE(QUrl(text(login.location)), host.dashboardUrl());

    const QJsonObject last = host.stats().value(QStringLiteral("lastLogin")).toObject();
    QCOMPARE(last.value(QStringLiteral("contentType")).toString(),
             QStringLiteral("application/x-www-form-urlencoded"));
    QCOMPARE(last.value(QStringLiteral("body")).toString().toLatin1(),
             host.loginBody("owner", password));
    QVERIFY(last.value(QStringLiteral("accepted")).toBool());
    const QJsonObject hex = last.value(QStringLiteral("fieldsHex")).toObject();
    QCOMPARE(hex.value(QStringLiteral("password")).toString().toLatin1(), password.toHex());
    QCOMPARE(hex.value(QStringLiteral("loginid")).toString().toLatin1(),
             QByteArray("owner").toHex());
    QCOMPARE(last.value(QStringLiteral("fields")).toObject().value(QStringLiteral("requestURI")),
             host.dashboardUrl().toString());
    QCOMPARE(last.value(QStringLiteral("target")).toString(),
             host.loginUrl().toString(QUrl::FullyEncoded).mid(host.blogUrl().size()));

    // Raw bytes that are not UTF-8 are compared as bytes too.
    const QByteArray latin = "caf\xe9";
    QVERIFY(host.setPassword(latin));
    QCOMPARE(c.login(host, "owner", latin).location, host.dashboardUrl().toEncoded());
}

void TestDemoHost::wrongPasswordEndsOnTheErrorPage()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;
    const Answer login = c.login(host, "owner", "not-the-password");
    QCOMPARE(login.status, 302);
    QVERIFY(login.setCookie.isEmpty());
    const QUrl errorPage = host.url(QStringLiteral("/")).resolved(QUrl(text(login.location)));
    QVERIFY(errorPage != host.dashboardUrl());
    const Answer page = c.get(errorPage);
    QCOMPARE(page.status, 200);
    QVERIFY(text(page.body).contains(QStringLiteral("올바르지 않습니다")));

    QCOMPARE(c.login(host, "someone", host.password().toUtf8()).setCookie, QByteArray());
    // A changed password: the old one fails, the new one works.
    QVERIFY(host.setPassword("new-secret"));
    QVERIFY(c.login(host, "owner", "demo").setCookie.isEmpty());
    QVERIFY(!c.login(host, "owner", "new-secret").setCookie.isEmpty());
    const QJsonObject stats = host.stats();
    QCOMPARE(stats.value(QStringLiteral("loginPosts")).toInt(), 4);
    QCOMPARE(stats.value(QStringLiteral("loginFailures")).toInt(), 3);
}

void TestDemoHost::loginNeverRedirectsToAnotherHost()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;
    const QByteArray body =
        "requestURI=http%3A%2F%2Fevil.example%2F&goPortal=false&loginid=owner&password=" +
        host.password().toUtf8() + "&save=on";
    const Answer a = c.send(
        "POST", host.url(QStringLiteral("/login?requestURI=http%3A%2F%2Fevil.example%2F&try=1")),
        body, "application/x-www-form-urlencoded");
    QCOMPARE(a.status, 302);
    QCOMPARE(QUrl(text(a.location)), host.dashboardUrl());
}

void TestDemoHost::dashboardWithoutValidSessionGoesToLogin()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;
    Answer a = c.get(host.dashboardUrl());
    QCOMPARE(a.status, 302);
    QVERIFY(a.location.startsWith("/login"));

    QCOMPARE(loggedIn(c, host).status, 302);
    QCOMPARE(c.get(host.dashboardUrl()).status, 200);
    QVERIFY(host.expireSessions());
    a = c.get(host.dashboardUrl());
    QCOMPARE(a.status, 302);
    QVERIFY(a.location.startsWith("/login"));
    // A forged cookie does not pass either.
    c.jar()->insertCookie(QNetworkCookie("OSID", "00112233445566778899aabbccddeeff"));
    QCOMPARE(c.get(host.dashboardUrl()).status, 302);
}

void TestDemoHost::itemsAndCountsShowUpNewestFirstAndEscaped()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;
    loggedIn(c, host);

    const QString tricky = QStringLiteral("<b>태그</b> & \"따옴표\"");
    const QJsonObject added =
        host.addItem(DemoHost::Trackback, tricky, QStringLiteral("/9#trackback1"));
    QCOMPARE(added.value(QStringLiteral("text")).toString(), tricky);
    const QJsonObject generated = host.addItem(DemoHost::Guestbook);
    QVERIFY(!generated.value(QStringLiteral("text")).toString().isEmpty());
    QVERIFY(generated.value(QStringLiteral("link")).toString().startsWith(QLatin1Char('/')));
    QVERIFY(host.removeAll(DemoHost::Comment));
    QVERIFY(host.setCount(0, 7, 99));

    QString html = text(c.get(host.dashboardUrl()).body);
    QVERIFY(html.contains(QStringLiteral("오늘 0명 어제 7명 전체 99명")));
    QVERIFY(!html.contains(tricky));
    QList<Section> s = sections(recentArea(html));
    QCOMPARE(s.size(), 3);
    QCOMPARE(s[0].linkTexts, QStringList{QStringLiteral("더보기")});
    QCOMPARE(s[1].linkTexts[1], QStringLiteral("&lt;b&gt;태그&lt;/b&gt; &amp; &quot;따옴표&quot;"));
    QCOMPARE(s[1].hrefs[1], QStringLiteral("/9#trackback1"));
    QCOMPARE(s[2].linkTexts[1], generated.value(QStringLiteral("text")).toString());

    QVERIFY(host.removeItem(DemoHost::Trackback, added.value(QStringLiteral("id")).toInteger()));
    QVERIFY(!host.removeItem(DemoHost::Trackback, added.value(QStringLiteral("id")).toInteger()));
    s = sections(recentArea(text(c.get(host.dashboardUrl()).body)));
    QVERIFY(!s[1].hrefs.contains(QStringLiteral("/9#trackback1")));
}

void TestDemoHost::pageReferencesAreServed()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;
    loggedIn(c, host);
    const QString html = text(c.get(host.dashboardUrl()).body);
    static const QRegularExpression ref(
        QStringLiteral("<(?:link|script|img)[^>]*(?:href|src)=\"(/[^\"]*)\""));
    QStringList paths;
    auto it = ref.globalMatch(html);
    while (it.hasNext())
        paths.append(it.next().captured(1));
    QVERIFY(paths.size() >= 4);
    for (const QString &path : std::as_const(paths))
        QVERIFY2(c.get(host.url(path)).status == 200, qPrintable(path));
    // The items' links lead to pages of the blog.
    for (const QString &link : sections(recentArea(html)).at(0).hrefs.mid(1))
        QCOMPARE(c.get(host.url(link)).status, 200);
}

void TestDemoHost::pageSizeOptionPadsThePage()
{
    DemoHost host({QStringLiteral("--page-size"), QStringLiteral("150000")});
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;
    loggedIn(c, host);
    const Answer page = c.get(host.dashboardUrl());
    QVERIFY2(page.body.size() >= 150000 && page.body.size() < 151000,
             QByteArray::number(page.body.size()).constData());
    const QString html = text(page.body);
    QCOMPARE(sections(recentArea(html)).size(), 3);
    QVERIFY(html.endsWith(QStringLiteral("</html>\n")));
}

void TestDemoHost::controlChannelNeedsTheToken()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    QCOMPARE(host.request("GET", QStringLiteral("/control/stats"), {}, false).status, 403);
    QCOMPARE(host.request("POST", QStringLiteral("/control/sessions/expire"), {}, false).status,
             403);
    QCOMPARE(host.request("GET", QStringLiteral("/control/stats?token=wrong"), {}, false).status,
             403);
    QCOMPARE(
        host.request("GET",
                     QStringLiteral("/control/stats?token=") + QString::fromLatin1(host.token()),
                     {}, false)
            .status,
        200);
    QCOMPARE(host.request("POST", QStringLiteral("/control/items"), "kind=nonsense").status, 400);
    QCOMPARE(host.request("POST", QStringLiteral("/control/faults"), "kind=status").status, 400);
    QCOMPARE(host.request("POST", QStringLiteral("/control/faults"), "kind=delay&count=0&value=5")
                 .status,
             400);
    QCOMPARE(host.request("POST", QStringLiteral("/control/count"), "today=many").status, 400);
    QCOMPARE(host.request("GET", QStringLiteral("/control/nothing")).status, 404);
}

void TestDemoHost::faultsApplyToTheNextRequestsOnly()
{
    DemoHost host;
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    Client c;
    loggedIn(c, host);
    QVERIFY(host.injectFault(QStringLiteral("status"), 2, 500));
    QCOMPARE(c.get(host.dashboardUrl()).status, 500);
    QCOMPARE(c.get(host.dashboardUrl()).status, 500);
    QCOMPARE(c.get(host.dashboardUrl()).status, 200);

    QVERIFY(host.injectFault(QStringLiteral("status"), -1, 503));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(c.get(host.dashboardUrl()).status, 503);
    QVERIFY(host.clearFaults());
    QCOMPARE(c.get(host.dashboardUrl()).status, 200);
    QCOMPARE(host.stats().value(QStringLiteral("dashboardRequests")).toInt(), 8);
    QVERIFY(host.resetStats());
    QCOMPARE(host.stats().value(QStringLiteral("dashboardRequests")).toInt(), 0);
}

void TestDemoHost::demoModeBringsNewItemsOnItsOwn()
{
    DemoHost host(
        {QStringLiteral("--demo"), QStringLiteral("--demo-every-ms"), QStringLiteral("50")});
    QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
    const auto total = [&] {
        const QJsonObject items = host.items();
        qsizetype n = 0;
        for (const QString &kind :
             {QStringLiteral("comment"), QStringLiteral("trackback"), QStringLiteral("guestbook")})
            n += items.value(kind).toArray().size();
        return n;
    };
    // The demo deletes an item now and then, so the total is not monotonic: keep its peak.
    const qsizetype before = total();
    qsizetype peak = before;
    const auto grown = [&] {
        peak = std::max(peak, total());
        return peak >= before + 3;
    };
    QTRY_VERIFY_WITH_TIMEOUT(grown(), 10000);
    // The visitors grow with the arrivals.
    Client c;
    c.login(host, "owner", host.password().toUtf8());
    static const QRegularExpression today(QStringLiteral("오늘 (\\d+)명"));
    const auto m = today.match(text(c.get(host.dashboardUrl()).body));
    QVERIFY(m.hasMatch());
    QVERIFY(m.captured(1).toInt() > 15);
}

void TestDemoHost::exitsOnSignalAndOnStdinEof()
{
    const QString program = qEnvironmentVariable("ORMIX_DEMOHOST");
    for (const bool bySignal : {true, false}) {
        QProcess p;
        QStringList args{QStringLiteral("--port"), QStringLiteral("0")};
        if (!bySignal)
            args << QStringLiteral("--exit-on-stdin-eof");
        p.start(program, args);
        QVERIFY(p.waitForStarted());
        QVERIFY(p.waitForReadyRead(5000));
        QVERIFY(p.readLine().startsWith("PORT "));
        if (bySignal)
            p.terminate();
        else
            p.closeWriteChannel();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
}

QTEST_GUILESS_MAIN(TestDemoHost)
#include "tst_demohost.moc"
