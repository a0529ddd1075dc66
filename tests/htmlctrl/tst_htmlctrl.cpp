// The browser control against the demo host over loopback: navigation, redirects, cookies,
// the login post, failures with their codes, the error page and the order of events.
#include "client/htmlctrl.h"
#include "client/htmlsink.h"
#include "tests/support/demohost.h"
#include "tests/support/documentreading.h"
#include "tests/support/testenv.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCacheMetaData>
#include <QNetworkDiskCache>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Records every event as a line: "download", "document <address>", "error <address> <code>".
class RecordingSink final : public IHtmlkSink
{
public:
    explicit RecordingSink(CHtmlCtrl &ctrl) : m_ctrl(ctrl) {}

    void OnDocumentComplete() override
    {
        events.append(QStringLiteral("document ") +
                      QString::fromStdString(m_ctrl.GetLocationURL()));
        if (onDocument)
            onDocument();
    }
    void OnDownloadComplete() override { events.append(QStringLiteral("download")); }
    void OnNavigateError(const std::string &url, const std::string &frameName, int statusCode,
                         bool &cancel) override
    {
        events.append(
            QStringLiteral("error %1 %2").arg(QString::fromStdString(url)).arg(statusCode));
        frames.append(QString::fromStdString(frameName));
        if (onError)
            onError();
        cancel = cancelErrors;
    }

    // Waits until n events of the kind arrived.
    bool waitFor(const QString &prefix, int n = 1, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return count(prefix) >= n; }, timeoutMs);
    }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &e : events)
            n += e.startsWith(prefix) ? 1 : 0;
        return n;
    }

    QStringList events;
    QStringList frames;
    bool cancelErrors = false;
    std::function<void()> onDocument;
    std::function<void()> onError;

private:
    CHtmlCtrl &m_ctrl;
};

QString elementText(const CHtmlCtrl &ctrl, const char *id)
{
    const HtmlDocument *doc = ctrl.GetHtmlDocument();
    if (!doc)
        return {};
    const HtmlElement *e = doc->getElementById(id);
    return e ? QString::fromStdString(e->innerText()) : QString();
}

// What /echo saw of the last request.
QJsonObject echoed(const CHtmlCtrl &ctrl)
{
    return QJsonDocument::fromJson(elementText(ctrl, "echo").toUtf8()).object();
}

std::string str(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded).toStdString();
}

const std::string formHeader = "Content-Type: application/x-www-form-urlencoded\n";

// A loopback port that nothing listens on.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

} // namespace

class TestHtmlCtrl final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void getLoadsTheDocumentWithEventsFromTheLoop();
    void loginPostArrivesExactlyAndEndsOnTheDashboard();
    void wrongLoginEndsElsewhere();
    void redirectsChangeOrKeepTheMethodAsBrowsersDo_data();
    void redirectsChangeOrKeepTheMethodAsBrowsersDo();
    void cookieSetOnARedirectIsSentLater();
    void twentyRedirectsAreFollowedTwentyOneFail();
    void redirectLoopFails();
    void refusedConnectionShowsTheErrorPage();
    void httpErrorStatusIsReported();
    void hungAndTricklingServersHitTheTimeout();
    void oversizeAndEndlessBodiesHitTheCap();
    void cutOffBodyIsAFailure();
    void newNavigationCancelsTheRunningOne();
    void slowParsesLeaveTheLoopFreeAndLateOnesAreDropped();
    void cancelSkipsTheErrorPage();
    void sinkMayNavigateOrWaitInsideEvents();
    void badAddressesFail();
    void eucKrPageIsDecoded();
    void compressedPagesReadAsSentHoweverSplit_data();
    void compressedPagesReadAsSentHoweverSplit();
    void loopbackBypassesTheProxy();
    void everyLoadReachesTheServerEvenWithACache();

private:
    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<CHtmlCtrl> m_ctrl;
    std::unique_ptr<RecordingSink> m_sink;
};

void TestHtmlCtrl::init()
{
    m_host = std::make_unique<DemoHost>();
    QVERIFY2(m_host->isRunning(), qPrintable(m_host->errorString()));
    m_ctrl = std::make_unique<CHtmlCtrl>();
    m_sink = std::make_unique<RecordingSink>(*m_ctrl);
    QVERIFY(m_ctrl->CreateFromStatic(m_sink.get()));
}

void TestHtmlCtrl::cleanup()
{
    m_ctrl.reset();
    m_sink.reset();
    m_host.reset();
}

void TestHtmlCtrl::getLoadsTheDocumentWithEventsFromTheLoop()
{
    QVERIFY(!m_ctrl->GetHtmlDocument());
    const QUrl url = m_host->url(QStringLiteral("/guestbook"));
    m_ctrl->Navigate(str(url));
    // Nothing is reported from inside the call.
    QVERIFY(m_sink->events.isEmpty());
    QVERIFY(m_ctrl->IsBusy());
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_sink->events, QStringList({QStringLiteral("download"),
                                          QStringLiteral("document ") + url.toString()}));
    QVERIFY(!m_ctrl->IsBusy());
    QCOMPARE(m_ctrl->GetLocationURL(), str(url));
    const HtmlDocument *doc = m_ctrl->GetHtmlDocument();
    QVERIFY(doc && doc->body());
    QCOMPARE(doc->encodingName(), std::string("UTF-8"));
    QVERIFY(QString::fromStdString(doc->body()->innerText()).contains(QStringLiteral("방명록")));
}

void TestHtmlCtrl::loginPostArrivesExactlyAndEndsOnTheDashboard()
{
    const QByteArray password = "p&ss=w+rd %한";
    QVERIFY(m_host->setPassword(password));
    const QByteArray body = m_host->loginBody("owner", password);
    m_ctrl->Navigate2(str(m_host->loginUrl()), body, formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_sink->count(QStringLiteral("error")), 0);
    QCOMPARE(m_ctrl->GetLocationURL(), str(m_host->dashboardUrl()));
    QVERIFY(elementText(*m_ctrl, "counter").startsWith(QStringLiteral("오늘 15명")));

    const QJsonObject last = m_host->stats().value(QStringLiteral("lastLogin")).toObject();
    QCOMPARE(last.value(QStringLiteral("body")).toString().toLatin1(), body);
    QCOMPARE(last.value(QStringLiteral("contentType")).toString(),
             QStringLiteral("application/x-www-form-urlencoded"));
    QCOMPARE(last.value(QStringLiteral("target")).toString(),
             m_host->loginUrl().toString(QUrl::FullyEncoded).mid(m_host->blogUrl().size()));
    QCOMPARE(last.value(QStringLiteral("fieldsHex")).toObject().value(QStringLiteral("password")),
             QString::fromLatin1(password.toHex()));

    // The session cookie from the login's redirect carries the later polls.
    m_host->setCount(21);
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    QCOMPARE(m_ctrl->GetLocationURL(), str(m_host->dashboardUrl()));
    QVERIFY(elementText(*m_ctrl, "counter").startsWith(QStringLiteral("오늘 21명")));
    QCOMPARE(m_host->stats().value(QStringLiteral("dashboardRequests")).toInt(), 2);
}

void TestHtmlCtrl::wrongLoginEndsElsewhere()
{
    m_ctrl->Navigate2(str(m_host->loginUrl()), m_host->loginBody("owner", "wrong"), formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_sink->count(QStringLiteral("error")), 0);
    QVERIFY(m_ctrl->GetLocationURL() != str(m_host->dashboardUrl()));
    QVERIFY(elementText(*m_ctrl, "counter").isEmpty());

    // After the session ends, a poll lands on the login page instead of the dashboard.
    m_ctrl->Navigate2(str(m_host->loginUrl()),
                      m_host->loginBody("owner", m_host->password().toUtf8()), formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    QCOMPARE(m_ctrl->GetLocationURL(), str(m_host->dashboardUrl()));
    QVERIFY(m_host->expireSessions());
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 3));
    QVERIFY(QString::fromStdString(m_ctrl->GetLocationURL()).contains(QStringLiteral("/login")));
}

void TestHtmlCtrl::redirectsChangeOrKeepTheMethodAsBrowsersDo_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("method");
    QTest::newRow("301") << 301 << QStringLiteral("GET");
    QTest::newRow("302") << 302 << QStringLiteral("GET");
    QTest::newRow("303") << 303 << QStringLiteral("GET");
    QTest::newRow("307") << 307 << QStringLiteral("POST");
    QTest::newRow("308") << 308 << QStringLiteral("POST");
}

void TestHtmlCtrl::redirectsChangeOrKeepTheMethodAsBrowsersDo()
{
    QFETCH(int, code);
    QFETCH(QString, method);
    const QUrl start = m_host->url(QStringLiteral("/redirect/2?code=%1&to=/echo").arg(code));
    m_ctrl->Navigate2(str(start), "a=1&b=%2B", formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_ctrl->GetLocationURL(), str(m_host->url(QStringLiteral("/echo"))));
    const QJsonObject seen = echoed(*m_ctrl);
    QCOMPARE(seen.value(QStringLiteral("method")).toString(), method);
    if (method == QLatin1String("POST")) {
        QCOMPARE(seen.value(QStringLiteral("body")).toString(), QStringLiteral("a=1&b=%2B"));
        QCOMPARE(seen.value(QStringLiteral("contentType")).toString(),
                 QStringLiteral("application/x-www-form-urlencoded"));
    } else {
        QCOMPARE(seen.value(QStringLiteral("body")).toString(), QString());
        QCOMPARE(seen.value(QStringLiteral("contentType")).toString(), QString());
    }
}

void TestHtmlCtrl::cookieSetOnARedirectIsSentLater()
{
    m_ctrl->Navigate(str(m_host->url(QStringLiteral("/setcookie?name=k&value=v42&then=/echo"))));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(echoed(*m_ctrl).value(QStringLiteral("cookie")).toString(), QStringLiteral("k=v42"));
    m_ctrl->Navigate(str(m_host->url(QStringLiteral("/echo"))));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    QCOMPARE(echoed(*m_ctrl).value(QStringLiteral("cookie")).toString(), QStringLiteral("k=v42"));
}

void TestHtmlCtrl::twentyRedirectsAreFollowedTwentyOneFail()
{
    // /redirect/N without a target answers with N redirects, then a page.
    m_ctrl->Navigate(str(m_host->url(QStringLiteral("/redirect/20"))));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_sink->count(QStringLiteral("error")), 0);
    QCOMPARE(m_ctrl->GetLocationURL(), str(m_host->url(QStringLiteral("/redirect/0"))));
    QCOMPARE(elementText(*m_ctrl, "arrived"), QStringLiteral("도착"));

    m_sink->events.clear();
    m_ctrl->Navigate(str(m_host->url(QStringLiteral("/redirect/21"))));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    // The hop that answered with the 21st redirect is the one that failed.
    const QString failed = m_host->url(QStringLiteral("/redirect/1")).toString();
    QCOMPARE(m_sink->events,
             QStringList(
                 {QStringLiteral("error %1 %2").arg(failed).arg(CHtmlCtrl::FailureTooManyRedirects),
                  QStringLiteral("download"), QStringLiteral("document ") + failed}));
}

void TestHtmlCtrl::redirectLoopFails()
{
    QVERIFY(m_host->injectFault(QStringLiteral("redirectloop")));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_sink->count(QStringLiteral("error")), 1);
    QVERIFY(m_sink->events.first().endsWith(QStringLiteral(" -5")));
    QVERIFY(QString::fromStdString(m_ctrl->GetLocationURL()).contains(QStringLiteral("/loop/")));
}

void TestHtmlCtrl::refusedConnectionShowsTheErrorPage()
{
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/owner/center/dashboard").arg(closedPort()));
    m_ctrl->Navigate(str(url));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_sink->events, QStringList({QStringLiteral("error %1 -1").arg(url.toString()),
                                          QStringLiteral("download"),
                                          QStringLiteral("document ") + url.toString()}));
    QCOMPARE(m_sink->frames, QStringList{QString()});
    QCOMPARE(m_ctrl->GetLocationURL(), str(url));
    const HtmlDocument *doc = m_ctrl->GetHtmlDocument();
    QVERIFY(doc && doc->body());
    const QString text = QString::fromStdString(doc->body()->innerText());
    QVERIFY(text.contains(url.toString()));
    QVERIFY(text.contains(QStringLiteral("-1")));
    QVERIFY(!doc->getElementById("counter"));
    QVERIFY(!doc->getElementById("new"));
}

void TestHtmlCtrl::httpErrorStatusIsReported()
{
    QVERIFY(m_host->injectFault(QStringLiteral("status"), 1, 500));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    const QString url = m_host->dashboardUrl().toString();
    QCOMPARE(m_sink->events,
             QStringList({QStringLiteral("error %1 500").arg(url), QStringLiteral("download"),
                          QStringLiteral("document ") + url}));
    QVERIFY(!elementText(*m_ctrl, "counter").contains(QStringLiteral("오늘")));

    QVERIFY(m_host->injectFault(QStringLiteral("status"), 1, 404));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    QVERIFY(m_sink->events.at(3).endsWith(QStringLiteral(" 404")));
}

void TestHtmlCtrl::hungAndTricklingServersHitTheTimeout()
{
    m_ctrl->setTimeoutMs(600);
    QVERIFY(m_host->injectFault(QStringLiteral("delay"), 1, 20000));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 1, 10000));
    QVERIFY(m_sink->events.first().endsWith(QStringLiteral(" -3")));

    // A body that keeps coming, a byte at a time, is bounded as a whole.
    QVERIFY(m_host->injectFault(QStringLiteral("trickle"), 1, 50));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2, 10000));
    QVERIFY2(m_sink->events.at(3).endsWith(QStringLiteral(" -3")),
             qPrintable(m_sink->events.join(QLatin1Char('|'))));
}

void TestHtmlCtrl::oversizeAndEndlessBodiesHitTheCap()
{
    QCOMPARE(CHtmlCtrl::DefaultMaxBodyBytes, qint64(8 * 1024 * 1024));
    // Over the default cap, announced by its length.
    QVERIFY(m_host->injectFault(QStringLiteral("oversize"), 1, 9 * 1024 * 1024));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QVERIFY2(m_sink->events.first().endsWith(QStringLiteral(" -6")),
             qPrintable(m_sink->events.first()));

    // Without a length only the count of arrived bytes can stop it.
    QVERIFY(m_host->injectFault(QStringLiteral("endless"), 1, 0, QStringLiteral("chunked")));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    QVERIFY2(m_sink->events.at(3).endsWith(QStringLiteral(" -6")),
             qPrintable(m_sink->events.at(3)));

    // Just under a lowered cap still loads.
    m_ctrl->setMaxBodyBytes(300000);
    QVERIFY(m_host->injectFault(QStringLiteral("oversize"), 1, 250000));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 3));
    QCOMPARE(m_sink->count(QStringLiteral("error")), 2);
    QVERIFY(elementText(*m_ctrl, "counter").startsWith(QStringLiteral("오늘")));
}

void TestHtmlCtrl::cutOffBodyIsAFailure()
{
    QVERIFY(m_host->injectFault(QStringLiteral("close")));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QVERIFY2(m_sink->events.first().endsWith(QStringLiteral(" -7")),
             qPrintable(m_sink->events.first()));
    QVERIFY(!elementText(*m_ctrl, "counter").contains(QStringLiteral("오늘")));
}

void TestHtmlCtrl::newNavigationCancelsTheRunningOne()
{
    QVERIFY(m_host->injectFault(QStringLiteral("delay"), 1, 1500));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QTest::qWait(100);
    const QUrl second = m_host->url(QStringLiteral("/guestbook"));
    m_ctrl->Navigate(str(second));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    // Long enough for the first answer to have come, had it not been dropped.
    QTest::qWait(2500);
    QCOMPARE(m_sink->events, QStringList({QStringLiteral("download"),
                                          QStringLiteral("document ") + second.toString()}));

    // Also when the first one has finished but its events still wait in the queue.
    m_sink->events.clear();
    bool fired = false;
    connect(m_ctrl->networkAccessManager(), &QNetworkAccessManager::finished, this,
            [&](QNetworkReply *) {
                if (fired)
                    return;
                fired = true;
                // Posted before the control's own delivery of the finished load.
                QTimer::singleShot(0, this, [&] { m_ctrl->Navigate(str(second)); });
            });
    m_ctrl->Navigate(str(m_host->url(QStringLiteral("/"))));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QTest::qWait(300);
    QVERIFY(fired);
    QCOMPARE(m_sink->events, QStringList({QStringLiteral("download"),
                                          QStringLiteral("document ") + second.toString()}));
}

void TestHtmlCtrl::slowParsesLeaveTheLoopFreeAndLateOnesAreDropped()
{
    // A page gumbo would take many seconds over is not parsed at all: an empty document
    // arrives, and the log says why.
    DemoHost deep({QStringLiteral("--nest"), QStringLiteral("20000")});
    QVERIFY2(deep.isRunning(), qPrintable(deep.errorString()));
    QTest::ignoreMessage(
        QtWarningMsg, QRegularExpression(QStringLiteral("^the page at http://127\\.0\\.0\\.1:\\d+/"
                                                        "owner/center/dashboard was not parsed: "
                                                        ".*nests too deeply")));
    m_ctrl->Navigate2(str(deep.loginUrl()), deep.loginBody("owner", deep.password().toUtf8()),
                      formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_sink->events.last(), QStringLiteral("document ") + deep.dashboardUrl().toString());
    QVERIFY(m_ctrl->GetHtmlDocument() && !m_ctrl->GetHtmlDocument()->refusal().empty());
    QVERIFY(elementText(*m_ctrl, "counter").isEmpty());

    // Parses made slow: once the body is in, the loop keeps running timers meanwhile.
    m_ctrl->setParseHook([] { std::this_thread::sleep_for(std::chrono::milliseconds(400)); });
    m_ctrl->Navigate2(str(m_host->loginUrl()),
                      m_host->loginBody("owner", m_host->password().toUtf8()), formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    int bodies = 0;
    connect(m_ctrl->networkAccessManager(), &QNetworkAccessManager::finished, this,
            [&](QNetworkReply *) { ++bodies; });
    int ticksWhileParsing = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, this, [&] {
        if (bodies > 0 && m_ctrl->IsBusy())
            ++ticksWhileParsing;
    });
    tick.start(1);
    m_sink->events.clear();
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    tick.stop();
    QVERIFY2(ticksWhileParsing > 0, "the event loop waited for the parse");
    QVERIFY(elementText(*m_ctrl, "counter").startsWith(QStringLiteral("오늘")));

    // A navigation that replaces one whose page is being parsed: only the new page arrives.
    bodies = 0;
    m_sink->events.clear();
    const QUrl second = m_host->url(QStringLiteral("/guestbook"));
    bool replaced = false;
    tick.disconnect();
    connect(&tick, &QTimer::timeout, this, [&] {
        if (bodies > 0 && !replaced) {
            replaced = true;
            m_ctrl->Navigate(str(second));
        }
    });
    tick.start(1);
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QVERIFY(replaced);
    // The dropped parse ends in the meantime; its result must not turn up.
    const HtmlDocument *guestbook = m_ctrl->GetHtmlDocument();
    QTest::qWait(1000);
    tick.stop();
    QCOMPARE(m_sink->events, QStringList({QStringLiteral("download"),
                                          QStringLiteral("document ") + second.toString()}));
    QCOMPARE(m_ctrl->GetHtmlDocument(), guestbook);
    QVERIFY(guestbook && !guestbook->getElementById("counter"));

    // Destroyed while a parse runs: the destructor does not wait for it, the parse ends on its
    // own afterwards and drops its result (the sanitizers see to what it touches), and the
    // thread is gone after it.
    struct Gate
    {
        std::mutex mutex;
        std::condition_variable changed;
        bool entered = false;
        bool open = false;
        bool timedOut = false;
    };
    const auto gate = std::make_shared<Gate>();
    m_ctrl->setParseHook([gate] {
        std::unique_lock lock(gate->mutex);
        gate->entered = true;
        gate->changed.notify_all();
        gate->timedOut =
            !gate->changed.wait_for(lock, std::chrono::seconds(60), [&gate] { return gate->open; });
    });
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(QTest::qWaitFor(
        [&gate] {
            const std::lock_guard lock(gate->mutex);
            return gate->entered;
        },
        10000));
    QVERIFY(m_ctrl->IsBusy());
    m_ctrl.reset();
    QCOMPARE(CHtmlCtrl::orphanedParses(), 1);
    {
        const std::lock_guard lock(gate->mutex);
        QVERIFY2(!gate->timedOut, "the destructor waited for the parse");
        gate->open = true;
    }
    gate->changed.notify_all();
    QVERIFY(QTest::qWaitFor([] { return CHtmlCtrl::orphanedParses() == 0; }, 20000));
    QVERIFY(!gate->timedOut);
}

void TestHtmlCtrl::cancelSkipsTheErrorPage()
{
    m_ctrl->Navigate(str(m_host->url(QStringLiteral("/guestbook"))));
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    const HtmlDocument *before = m_ctrl->GetHtmlDocument();

    m_sink->cancelErrors = true;
    QVERIFY(m_host->injectFault(QStringLiteral("status"), 1, 503));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("download"), 2));
    QTest::qWait(200);
    QCOMPARE(m_sink->count(QStringLiteral("document")), 1);
    QCOMPARE(m_sink->events.mid(2),
             QStringList({QStringLiteral("error %1 503").arg(m_host->dashboardUrl().toString()),
                          QStringLiteral("download")}));
    QCOMPARE(m_ctrl->GetHtmlDocument(), before);
    QCOMPARE(m_ctrl->GetLocationURL(), str(m_host->dashboardUrl()));
}

void TestHtmlCtrl::sinkMayNavigateOrWaitInsideEvents()
{
    // A handler that spins a nested loop (as a message box does) still sees events in order.
    m_sink->onError = [] {
        QEventLoop nested;
        QTimer::singleShot(300, &nested, &QEventLoop::quit);
        nested.exec();
    };
    // And one that navigates from the document event (as a repeated login does).
    const QUrl next = m_host->url(QStringLiteral("/guestbook"));
    bool navigated = false;
    m_sink->onDocument = [&] {
        if (!navigated) {
            navigated = true;
            m_ctrl->Navigate(str(next));
        }
    };
    QVERIFY(m_host->injectFault(QStringLiteral("status"), 1, 500));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    const QString url = m_host->dashboardUrl().toString();
    QCOMPARE(m_sink->events,
             QStringList({QStringLiteral("error %1 500").arg(url), QStringLiteral("download"),
                          QStringLiteral("document ") + url, QStringLiteral("download"),
                          QStringLiteral("document ") + next.toString()}));
}

void TestHtmlCtrl::badAddressesFail()
{
    m_ctrl->Navigate("ftp://127.0.0.1/file");
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QVERIFY(m_sink->events.first().endsWith(QStringLiteral(" -9")));
    m_ctrl->Navigate("");
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    QVERIFY(m_sink->events.at(3).endsWith(QStringLiteral(" -9")));
    // A redirect to another scheme is refused as well.
    m_ctrl->Navigate(str(m_host->url(QStringLiteral("/setcookie?then=file:///etc/passwd"))));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 3));
    QCOMPARE(m_sink->events.at(6), QStringLiteral("error file:///etc/passwd -9"));
}

void TestHtmlCtrl::eucKrPageIsDecoded()
{
    m_ctrl->Navigate2(str(m_host->loginUrl()),
                      m_host->loginBody("owner", m_host->password().toUtf8()), formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    for (const QString &where : {QStringLiteral("header"), QStringLiteral("meta")}) {
        QVERIFY(m_host->injectFault(QStringLiteral("euckr"), 1, 0, where));
        m_ctrl->Navigate(str(m_host->dashboardUrl()));
        QVERIFY(
            m_sink->waitFor(QStringLiteral("document"), where == QLatin1String("header") ? 2 : 3));
        QCOMPARE(m_ctrl->GetHtmlDocument()->encodingName(), std::string("EUC-KR"));
        QCOMPARE(elementText(*m_ctrl, "counter"),
                 QStringLiteral("오늘 15명 어제 40명 전체 1234명"));
    }
}

void TestHtmlCtrl::compressedPagesReadAsSentHoweverSplit_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("option");
    // The first read holds one byte: too few to tell whether the zlib wrapper is there.
    QTest::newRow("raw deflate, first byte alone") << QStringLiteral("deflate") << 300 << QString();
    QTest::newRow("zlib deflate, first byte alone")
        << QStringLiteral("deflate") << 300 << QStringLiteral("zlib");
    // Every read ends one byte into the next member.
    QTest::newRow("gzip in four members") << QStringLiteral("gzipmembers") << 4 << QString();
    QTest::newRow("gzip members, then bytes of no member")
        << QStringLiteral("gzipmembers") << 2 << QStringLiteral("trailer");
}

void TestHtmlCtrl::compressedPagesReadAsSentHoweverSplit()
{
    QFETCH(QString, fault);
    QFETCH(int, value);
    QFETCH(QString, option);
    const std::vector<std::string> ids{"counter", "new"};
    // What a reader learns from the page, and all of its text.
    const auto reading = [&] {
        QStringList lines;
        const HtmlDocument *doc = m_ctrl->GetHtmlDocument();
        for (const std::string &line : documentReading(*doc, ids))
            lines << QString::fromStdString(line);
        lines << QString::fromStdString(doc->body() ? doc->body()->innerText() : std::string());
        return lines;
    };
    // The page as the host sends it uncompressed.
    m_ctrl->Navigate2(str(m_host->loginUrl()),
                      m_host->loginBody("owner", m_host->password().toUtf8()), formHeader);
    QVERIFY(m_sink->waitFor(QStringLiteral("document")));
    QCOMPARE(m_ctrl->GetLocationURL(), str(m_host->dashboardUrl()));
    const QStringList plain = reading();

    QVERIFY(m_host->injectFault(fault, 1, value, option));
    m_ctrl->Navigate(str(m_host->dashboardUrl()));
    QVERIFY(m_sink->waitFor(QStringLiteral("document"), 2));
    QCOMPARE(m_sink->count(QStringLiteral("error")), 0);
    QCOMPARE(m_host->stats().value(QStringLiteral("activeFaults")).toInt(), 0);
    QCOMPARE(reading(), plain);
}

void TestHtmlCtrl::loopbackBypassesTheProxy()
{
    // A proxy on loopback that answers 502 to everything and notes each request line.
    QTcpServer proxy;
    QVERIFY(proxy.listen(QHostAddress::LocalHost, 0));
    QList<QByteArray> requestLines;
    connect(&proxy, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = proxy.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, socket, [socket, &requestLines] {
                const QByteArray data = socket->readAll();
                if (socket->property("answered").toBool())
                    return;
                socket->setProperty("answered", true);
                requestLines.append(data.left(data.indexOf("\r\n")));
                socket->write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n"
                              "Connection: close\r\n\r\n");
                socket->disconnectFromHost();
            });
        }
    });
    EnvGuard httpProxy("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.serverPort()));
    EnvGuard noProxy("no_proxy", "");
    CHtmlCtrl ctrl;
    RecordingSink sink(ctrl);
    ctrl.CreateFromStatic(&sink);

    ctrl.Navigate(str(m_host->url(QStringLiteral("/guestbook"))));
    QVERIFY(sink.waitFor(QStringLiteral("document")));
    ctrl.Navigate(
        QStringLiteral("http://localhost:%1/guestbook").arg(m_host->port()).toStdString());
    QVERIFY(sink.waitFor(QStringLiteral("document"), 2));
    QCOMPARE(sink.count(QStringLiteral("error")), 0);
    QVERIFY(requestLines.isEmpty());

    const std::string elsewhere = "http://blog.example.invalid/owner/center/dashboard";
    ctrl.Navigate(elsewhere);
    QVERIFY(sink.waitFor(QStringLiteral("document"), 3));
    QCOMPARE(sink.events.at(4),
             QStringLiteral("error %1 502").arg(QString::fromStdString(elsewhere)));
    QCOMPARE(requestLines,
             QList<QByteArray>{"GET " + QByteArray::fromStdString(elsewhere) + " HTTP/1.1"});

    // A proxy that cannot be reached is reported as a proxy failure.
    proxy.close();
    ctrl.Navigate(elsewhere);
    QVERIFY(sink.waitFor(QStringLiteral("document"), 4));
    QCOMPARE(sink.events.at(7), QStringLiteral("error %1 %2")
                                    .arg(QString::fromStdString(elsewhere))
                                    .arg(CHtmlCtrl::FailureProxy));
}

void TestHtmlCtrl::everyLoadReachesTheServerEvenWithACache()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto *cache = new QNetworkDiskCache(m_ctrl->networkAccessManager());
    cache->setCacheDirectory(dir.path());
    m_ctrl->networkAccessManager()->setCache(cache);

    const QUrl url = m_host->dashboardUrl();
    QNetworkCacheMetaData meta;
    meta.setUrl(url);
    meta.setSaveToDisk(true);
    QIODevice *device = cache->prepare(meta);
    QVERIFY(device);
    device->write("<html><body>stale copy</body></html>");
    cache->insert(device);
    QVERIFY(cache->metaData(url).isValid());
    m_ctrl->DeleteUrlCacheEntry(str(url));
    QVERIFY(!cache->metaData(url).isValid());

    QVERIFY(m_host->resetStats());
    for (int i = 1; i <= 2; ++i) {
        m_ctrl->Navigate(str(url));
        QVERIFY(m_sink->waitFor(QStringLiteral("document"), i));
    }
    QCOMPARE(m_host->stats().value(QStringLiteral("dashboardRequests")).toInt(), 2);
}

QTEST_GUILESS_MAIN(TestHtmlCtrl)
#include "tst_htmlctrl.moc"
