// The page loader against the demo host over loopback: loads, redirects, cookies, the login
// post, failures with their codes, and how and when each load ends.
#include "client/pageloader.h"
#include "document/htmldocument.h"
#include "tests/support/demohost.h"
#include "tests/support/documentreading.h"
#include "tests/support/parsedocument.h"
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

#include <functional>
#include <memory>

namespace {

// Records how each load ended, a line each: "document <address>" or "error <address> <code>".
class Recorder
{
public:
    explicit Recorder(PageLoader &loader)
    {
        QObject::connect(
            &loader, &PageLoader::finished, &loader, [this](const PageLoader::Result &result) {
                m_address = result.address.toString(QUrl::FullyEncoded);
                last = result;
                events.append(result.ok()
                                  ? QStringLiteral("document ") + m_address
                                  : QStringLiteral("error %1 %2").arg(m_address).arg(result.error));
                if (onFinished)
                    onFinished(result);
            });
    }

    // Waits until n loads ended (since the events were last cleared).
    bool waitForEnds(int n = 1, int timeoutMs = 20000)
    {
        return QTest::qWaitFor([&] { return events.size() >= n; }, timeoutMs);
    }
    int count(const QString &prefix) const
    {
        int n = 0;
        for (const QString &e : events)
            n += e.startsWith(prefix) ? 1 : 0;
        return n;
    }
    // The address the last load ended at.
    std::string address() const { return m_address.toStdString(); }
    // The last page loaded, parsed as a browser would; null after a failed load.
    std::unique_ptr<HtmlDocument> page() const
    {
        if (!last.ok())
            return nullptr;
        return parseDocument(last.body, last.charset, last.address);
    }

    QStringList events;
    PageLoader::Result last;
    std::function<void(const PageLoader::Result &)> onFinished;

private:
    QString m_address;
};

QString elementText(const Recorder &recorder, const char *id)
{
    const auto doc = recorder.page();
    if (!doc)
        return {};
    const HtmlElement *e = doc->getElementById(id);
    return e ? QString::fromStdString(e->innerText()) : QString();
}

// What /echo saw of the last request.
QJsonObject echoed(const Recorder &recorder)
{
    return QJsonDocument::fromJson(elementText(recorder, "echo").toUtf8()).object();
}

std::string str(const QUrl &url)
{
    return url.toString(QUrl::FullyEncoded).toStdString();
}

const QByteArray form = "application/x-www-form-urlencoded";

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

class TestPageLoader final : public QObject
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
    void refusedConnectionIsAnError();
    void httpErrorStatusIsReported();
    void hungAndTricklingServersHitTheTimeout();
    void oversizeAndEndlessBodiesHitTheCap();
    void cutOffBodyIsAFailure();
    void aNewLoadReplacesTheRunningOne();
    void aHandlerMayWaitOrLoadInsideFinished();
    void badAddressesFail();
    void eucKrPageIsDecoded();
    void compressedPagesReadAsSentHoweverSplit_data();
    void compressedPagesReadAsSentHoweverSplit();
    void loopbackBypassesTheProxy();
    void everyLoadReachesTheServerEvenWithACache();

private:
    std::unique_ptr<DemoHost> m_host;
    std::unique_ptr<PageLoader> m_loader;
    std::unique_ptr<Recorder> m_recorder;
};

void TestPageLoader::init()
{
    m_host = std::make_unique<DemoHost>();
    QVERIFY2(m_host->isRunning(), qPrintable(m_host->errorString()));
    m_loader = std::make_unique<PageLoader>();
    m_recorder = std::make_unique<Recorder>(*m_loader);
}

void TestPageLoader::cleanup()
{
    m_loader.reset();
    m_recorder.reset();
    m_host.reset();
}

void TestPageLoader::getLoadsTheDocumentWithEventsFromTheLoop()
{
    const QUrl url = m_host->url(QStringLiteral("/guestbook"));
    m_loader->get(url);
    // Nothing is reported from inside the call.
    QVERIFY(m_recorder->events.isEmpty());
    QVERIFY(m_loader->isBusy());
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(m_recorder->events, QStringList({QStringLiteral("document ") + url.toString()}));
    QVERIFY(!m_loader->isBusy());
    QCOMPARE(m_recorder->address(), str(url));
    QCOMPARE(m_recorder->last.charset, QByteArray("UTF-8"));
    const auto doc = m_recorder->page();
    QVERIFY(doc && doc->body());
    QCOMPARE(doc->encodingName(), std::string("UTF-8"));
    QVERIFY(QString::fromStdString(doc->body()->innerText()).contains(QStringLiteral("방명록")));
}

void TestPageLoader::loginPostArrivesExactlyAndEndsOnTheDashboard()
{
    const QByteArray password = "p&ss=w+rd %한";
    QVERIFY(m_host->setPassword(password));
    const QByteArray body = m_host->loginBody("owner", password);
    m_loader->post(m_host->loginUrl(), body, form);
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(m_recorder->count(QStringLiteral("error")), 0);
    QCOMPARE(m_recorder->address(), str(m_host->dashboardUrl()));
    QVERIFY(elementText(*m_recorder, "counter").startsWith(QStringLiteral("오늘 15명")));

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
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(2));
    QCOMPARE(m_recorder->address(), str(m_host->dashboardUrl()));
    QVERIFY(elementText(*m_recorder, "counter").startsWith(QStringLiteral("오늘 21명")));
    QCOMPARE(m_host->stats().value(QStringLiteral("dashboardRequests")).toInt(), 2);
}

void TestPageLoader::wrongLoginEndsElsewhere()
{
    m_loader->post(m_host->loginUrl(), m_host->loginBody("owner", "wrong"), form);
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(m_recorder->count(QStringLiteral("error")), 0);
    QVERIFY(m_recorder->address() != str(m_host->dashboardUrl()));
    QVERIFY(elementText(*m_recorder, "counter").isEmpty());

    // After the session ends, a poll lands on the login page instead of the dashboard.
    m_loader->post(m_host->loginUrl(), m_host->loginBody("owner", m_host->password().toUtf8()),
                   form);
    QVERIFY(m_recorder->waitForEnds(2));
    QCOMPARE(m_recorder->address(), str(m_host->dashboardUrl()));
    QVERIFY(m_host->expireSessions());
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(3));
    QVERIFY(QString::fromStdString(m_recorder->address()).contains(QStringLiteral("/login")));
}

void TestPageLoader::redirectsChangeOrKeepTheMethodAsBrowsersDo_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("method");
    QTest::newRow("301") << 301 << QStringLiteral("GET");
    QTest::newRow("302") << 302 << QStringLiteral("GET");
    QTest::newRow("303") << 303 << QStringLiteral("GET");
    QTest::newRow("307") << 307 << QStringLiteral("POST");
    QTest::newRow("308") << 308 << QStringLiteral("POST");
}

void TestPageLoader::redirectsChangeOrKeepTheMethodAsBrowsersDo()
{
    QFETCH(int, code);
    QFETCH(QString, method);
    const QUrl start = m_host->url(QStringLiteral("/redirect/2?code=%1&to=/echo").arg(code));
    m_loader->post(start, "a=1&b=%2B", form);
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(m_recorder->address(), str(m_host->url(QStringLiteral("/echo"))));
    const QJsonObject seen = echoed(*m_recorder);
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

void TestPageLoader::cookieSetOnARedirectIsSentLater()
{
    m_loader->get(m_host->url(QStringLiteral("/setcookie?name=k&value=v42&then=/echo")));
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(echoed(*m_recorder).value(QStringLiteral("cookie")).toString(),
             QStringLiteral("k=v42"));
    m_loader->get(m_host->url(QStringLiteral("/echo")));
    QVERIFY(m_recorder->waitForEnds(2));
    QCOMPARE(echoed(*m_recorder).value(QStringLiteral("cookie")).toString(),
             QStringLiteral("k=v42"));
}

void TestPageLoader::twentyRedirectsAreFollowedTwentyOneFail()
{
    // /redirect/N without a target answers with N redirects, then a page.
    m_loader->get(m_host->url(QStringLiteral("/redirect/20")));
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(m_recorder->count(QStringLiteral("error")), 0);
    QCOMPARE(m_recorder->address(), str(m_host->url(QStringLiteral("/redirect/0"))));
    QCOMPARE(elementText(*m_recorder, "arrived"), QStringLiteral("도착"));

    m_recorder->events.clear();
    m_loader->get(m_host->url(QStringLiteral("/redirect/21")));
    QVERIFY(m_recorder->waitForEnds());
    // The hop that answered with the 21st redirect is the one that failed.
    const QString failed = m_host->url(QStringLiteral("/redirect/1")).toString();
    QCOMPARE(
        m_recorder->events,
        QStringList({QStringLiteral("error %1 %2").arg(failed).arg(PageLoader::TooManyRedirects)}));
}

void TestPageLoader::redirectLoopFails()
{
    QVERIFY(m_host->injectFault(QStringLiteral("redirectloop")));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(m_recorder->count(QStringLiteral("error")), 1);
    QVERIFY(m_recorder->events.first().endsWith(QStringLiteral(" -5")));
    QVERIFY(QString::fromStdString(m_recorder->address()).contains(QStringLiteral("/loop/")));
}

void TestPageLoader::refusedConnectionIsAnError()
{
    m_loader->get(m_host->url(QStringLiteral("/guestbook")));
    QVERIFY(m_recorder->waitForEnds());
    QVERIFY(!m_recorder->last.body.isEmpty());
    // The failure says where and why; no page stands for it.
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/owner/center/dashboard").arg(closedPort()));
    PageLoader::Result failed;
    m_recorder->onFinished = [&](const PageLoader::Result &result) { failed = result; };
    m_loader->get(url);
    QVERIFY(m_recorder->waitForEnds(2));
    QCOMPARE(m_recorder->events.last(), QStringLiteral("error %1 -1").arg(url.toString()));
    QCOMPARE(failed.error, int(PageLoader::ConnectionRefused));
    QVERIFY(!failed.ok() && failed.body.isEmpty());
    QCOMPARE(failed.address, url);
}

void TestPageLoader::httpErrorStatusIsReported()
{
    QVERIFY(m_host->injectFault(QStringLiteral("status"), 1, 500));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds());
    const QString url = m_host->dashboardUrl().toString();
    QCOMPARE(m_recorder->events, QStringList({QStringLiteral("error %1 500").arg(url)}));
    QVERIFY(!elementText(*m_recorder, "counter").contains(QStringLiteral("오늘")));

    QVERIFY(m_host->injectFault(QStringLiteral("status"), 1, 404));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(2));
    QVERIFY(m_recorder->events.at(1).endsWith(QStringLiteral(" 404")));
}

void TestPageLoader::hungAndTricklingServersHitTheTimeout()
{
    m_loader->setTimeoutMs(600);
    QVERIFY(m_host->injectFault(QStringLiteral("delay"), 1, 20000));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(1, 10000));
    QVERIFY(m_recorder->events.first().endsWith(QStringLiteral(" -3")));

    // A body that keeps coming, a byte at a time, is bounded as a whole.
    QVERIFY(m_host->injectFault(QStringLiteral("trickle"), 1, 50));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(2, 10000));
    QVERIFY2(m_recorder->events.at(1).endsWith(QStringLiteral(" -3")),
             qPrintable(m_recorder->events.join(QLatin1Char('|'))));
}

void TestPageLoader::oversizeAndEndlessBodiesHitTheCap()
{
    QCOMPARE(PageLoader::DefaultMaxBodyBytes, qint64(8 * 1024 * 1024));
    // Over the default cap, announced by its length.
    QVERIFY(m_host->injectFault(QStringLiteral("oversize"), 1, 9 * 1024 * 1024));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds());
    QVERIFY2(m_recorder->events.first().endsWith(QStringLiteral(" -6")),
             qPrintable(m_recorder->events.first()));

    // Without a length only the count of arrived bytes can stop it.
    QVERIFY(m_host->injectFault(QStringLiteral("endless"), 1, 0, QStringLiteral("chunked")));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(2));
    QVERIFY2(m_recorder->events.at(1).endsWith(QStringLiteral(" -6")),
             qPrintable(m_recorder->events.at(1)));

    // Just under a lowered cap still loads.
    m_loader->setMaxBodyBytes(300000);
    QVERIFY(m_host->injectFault(QStringLiteral("oversize"), 1, 250000));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(3));
    QCOMPARE(m_recorder->count(QStringLiteral("error")), 2);
    QVERIFY(elementText(*m_recorder, "counter").startsWith(QStringLiteral("오늘")));
}

void TestPageLoader::cutOffBodyIsAFailure()
{
    QVERIFY(m_host->injectFault(QStringLiteral("close")));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds());
    QVERIFY2(m_recorder->events.first().endsWith(QStringLiteral(" -7")),
             qPrintable(m_recorder->events.first()));
    QVERIFY(!elementText(*m_recorder, "counter").contains(QStringLiteral("오늘")));
}

void TestPageLoader::aNewLoadReplacesTheRunningOne()
{
    QVERIFY(m_host->injectFault(QStringLiteral("delay"), 1, 1500));
    m_loader->get(m_host->dashboardUrl());
    QTest::qWait(100);
    const QUrl second = m_host->url(QStringLiteral("/guestbook"));
    m_loader->get(second);
    QVERIFY(m_recorder->waitForEnds());
    // Long enough for the first answer to have come, had it not been dropped.
    QTest::qWait(2500);
    QCOMPARE(m_recorder->events, QStringList({QStringLiteral("document ") + second.toString()}));

    // Also when the first one has finished but its events still wait in the queue.
    m_recorder->events.clear();
    bool fired = false;
    connect(m_loader->networkAccessManager(), &QNetworkAccessManager::finished, this,
            [&](QNetworkReply *) {
                if (fired)
                    return;
                fired = true;
                // Posted before the loader's own delivery of the finished load.
                QTimer::singleShot(0, this, [&] { m_loader->get(second); });
            });
    m_loader->get(m_host->url(QStringLiteral("/")));
    QVERIFY(m_recorder->waitForEnds());
    QTest::qWait(300);
    QVERIFY(fired);
    QCOMPARE(m_recorder->events, QStringList({QStringLiteral("document ") + second.toString()}));
}

void TestPageLoader::aHandlerMayWaitOrLoadInsideFinished()
{
    // A handler that spins a nested loop (as a message box does) and then loads again from
    // inside finished (as a repeated login does).
    const QUrl next = m_host->url(QStringLiteral("/guestbook"));
    m_recorder->onFinished = [&](const PageLoader::Result &result) {
        if (result.ok())
            return;
        QEventLoop nested;
        QTimer::singleShot(300, &nested, &QEventLoop::quit);
        nested.exec();
        QVERIFY(!m_loader->isBusy());
        m_loader->get(next);
        QVERIFY(m_loader->isBusy());
    };
    QVERIFY(m_host->injectFault(QStringLiteral("status"), 1, 500));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(2));
    QTest::qWait(200);
    const QString url = m_host->dashboardUrl().toString();
    QCOMPARE(m_recorder->events, QStringList({QStringLiteral("error %1 500").arg(url),
                                              QStringLiteral("document ") + next.toString()}));
    const auto guestbook = m_recorder->page();
    QVERIFY(guestbook && guestbook->body());
    QVERIFY(
        QString::fromStdString(guestbook->body()->innerText()).contains(QStringLiteral("방명록")));
}

void TestPageLoader::badAddressesFail()
{
    m_loader->get(QUrl(QStringLiteral("ftp://127.0.0.1/file")));
    QVERIFY(m_recorder->waitForEnds());
    QVERIFY(m_recorder->events.first().endsWith(QStringLiteral(" -9")));
    m_loader->get(QUrl());
    QVERIFY(m_recorder->waitForEnds(2));
    QVERIFY(m_recorder->events.at(1).endsWith(QStringLiteral(" -9")));
    // A redirect to another scheme is refused as well.
    m_loader->get(m_host->url(QStringLiteral("/setcookie?then=file:///etc/passwd")));
    QVERIFY(m_recorder->waitForEnds(3));
    QCOMPARE(m_recorder->events.at(2), QStringLiteral("error file:///etc/passwd -9"));
}

void TestPageLoader::eucKrPageIsDecoded()
{
    m_loader->post(m_host->loginUrl(), m_host->loginBody("owner", m_host->password().toUtf8()),
                   form);
    QVERIFY(m_recorder->waitForEnds());
    for (const QString &where : {QStringLiteral("header"), QStringLiteral("meta")}) {
        QVERIFY(m_host->injectFault(QStringLiteral("euckr"), 1, 0, where));
        m_loader->get(m_host->dashboardUrl());
        QVERIFY(m_recorder->waitForEnds(where == QLatin1String("header") ? 2 : 3));
        QCOMPARE(m_recorder->page()->encodingName(), std::string("EUC-KR"));
        QCOMPARE(elementText(*m_recorder, "counter"),
                 QStringLiteral("오늘 15명 어제 40명 전체 1234명"));
    }
}

void TestPageLoader::compressedPagesReadAsSentHoweverSplit_data()
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

void TestPageLoader::compressedPagesReadAsSentHoweverSplit()
{
    QFETCH(QString, fault);
    QFETCH(int, value);
    QFETCH(QString, option);
    const std::vector<std::string> ids{"counter", "new"};
    // What a reader learns from the page, and all of its text.
    const auto reading = [&] {
        QStringList lines;
        const auto doc = m_recorder->page();
        for (const std::string &line : documentReading(*doc, ids))
            lines << QString::fromStdString(line);
        lines << QString::fromStdString(doc->body() ? doc->body()->innerText() : std::string());
        return lines;
    };
    // The page as the host sends it uncompressed.
    m_loader->post(m_host->loginUrl(), m_host->loginBody("owner", m_host->password().toUtf8()),
                   form);
    QVERIFY(m_recorder->waitForEnds());
    QCOMPARE(m_recorder->address(), str(m_host->dashboardUrl()));
    const QStringList plain = reading();

    QVERIFY(m_host->injectFault(fault, 1, value, option));
    m_loader->get(m_host->dashboardUrl());
    QVERIFY(m_recorder->waitForEnds(2));
    QCOMPARE(m_recorder->count(QStringLiteral("error")), 0);
    QCOMPARE(m_host->stats().value(QStringLiteral("activeFaults")).toInt(), 0);
    QCOMPARE(reading(), plain);
}

void TestPageLoader::loopbackBypassesTheProxy()
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
    PageLoader loader;
    Recorder recorder(loader);

    loader.get(m_host->url(QStringLiteral("/guestbook")));
    QVERIFY(recorder.waitForEnds());
    loader.get(QUrl(QStringLiteral("http://localhost:%1/guestbook").arg(m_host->port())));
    QVERIFY(recorder.waitForEnds(2));
    QCOMPARE(recorder.count(QStringLiteral("error")), 0);
    QVERIFY(requestLines.isEmpty());

    const QString elsewhere = QStringLiteral("http://blog.example.invalid/owner/center/dashboard");
    loader.get(QUrl(elsewhere));
    QVERIFY(recorder.waitForEnds(3));
    QCOMPARE(recorder.events.at(2), QStringLiteral("error %1 502").arg(elsewhere));
    QCOMPARE(requestLines, QList<QByteArray>{"GET " + elsewhere.toLatin1() + " HTTP/1.1"});

    // A proxy that cannot be reached is reported as a proxy failure.
    proxy.close();
    loader.get(QUrl(elsewhere));
    QVERIFY(recorder.waitForEnds(4));
    QCOMPARE(recorder.events.at(3),
             QStringLiteral("error %1 %2").arg(elsewhere).arg(PageLoader::Proxy));
}

void TestPageLoader::everyLoadReachesTheServerEvenWithACache()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    auto *cache = new QNetworkDiskCache(m_loader->networkAccessManager());
    cache->setCacheDirectory(dir.path());
    m_loader->networkAccessManager()->setCache(cache);

    const QUrl url = m_host->dashboardUrl();
    QNetworkCacheMetaData meta;
    meta.setUrl(url);
    meta.setSaveToDisk(true);
    QIODevice *device = cache->prepare(meta);
    QVERIFY(device);
    device->write("<html><body>stale copy</body></html>");
    cache->insert(device);
    QVERIFY(cache->metaData(url).isValid());

    QVERIFY(m_host->resetStats());
    for (int i = 1; i <= 2; ++i) {
        m_loader->get(url);
        QVERIFY(m_recorder->waitForEnds(i));
    }
    QCOMPARE(m_host->stats().value(QStringLiteral("dashboardRequests")).toInt(), 2);
    QVERIFY(!m_recorder->last.body.contains("stale copy"));
}

QTEST_GUILESS_MAIN(TestPageLoader)
#include "tst_pageloader.moc"
