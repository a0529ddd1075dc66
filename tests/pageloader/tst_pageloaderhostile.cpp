// The page loader against servers that mean harm: redirects that would carry the login
// elsewhere, replies whose headers Qt drops, compressed bombs and endless headers.
#include "client/pageloader.h"
#include "tests/support/loadends.h"
#include "tests/support/testenv.h"

#include <QBuffer>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <zlib.h>

#include <functional>
#include <memory>

namespace {

// A loopback server that answers every request with what the responder makes of it, writes
// it, and closes. Records every request it received, whole.
class RawServer
{
public:
    using Responder = std::function<QByteArray(const QByteArray &request)>;

    explicit RawServer(Responder responder) : m_responder(std::move(responder))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    qsizetype length = 0;
                    for (const QByteArray &line : buffer->left(end).split('\n')) {
                        if (line.toLower().startsWith("content-length:"))
                            length = line.mid(15).trimmed().toLongLong();
                    }
                    if (buffer->size() < end + 4 + length)
                        return;
                    requests.append(*buffer);
                    buffer->clear();
                    socket->write(m_responder(requests.last()));
                    if (closeAfterReply)
                        socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString origin(const char *host = "127.0.0.1") const
    {
        return QStringLiteral("http://%1:%2").arg(QLatin1String(host)).arg(m_server.serverPort());
    }
    QUrl url(const QString &path, const char *host = "127.0.0.1") const
    {
        return QUrl(origin(host) + path);
    }

    int connections = 0;
    QList<QByteArray> requests;
    bool closeAfterReply = true;

private:
    QTcpServer m_server;
    Responder m_responder;
};

QByteArray page(const QByteArray &body = "<html><body><p id=\"x\">ok</p></body></html>")
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// Location, Content-Length and Connection, plus extraFields cookies.
QByteArray redirect(int code, const QByteArray &location, int extraFields = 0)
{
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(code) + " Moved\r\n";
    for (int i = 0; i < extraFields; ++i)
        reply += "Set-Cookie: c" + QByteArray::number(i) + "=v; Path=/\r\n";
    if (!location.isNull())
        reply += "Location: " + location + "\r\n";
    return reply + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

// zeros inflated to `inflated` bytes, compressed with the zlib wrapper (windowBits 15),
// gzip (31) or none (-15).
QByteArray compressedZeros(qint64 inflated, int windowBits)
{
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY);
    static const QByteArray block(1 << 20, '\0');
    QByteArray out;
    char chunk[65536];
    for (qint64 left = inflated; left >= 0;) {
        const qint64 now = std::min<qint64>(left, block.size());
        left -= now;
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(block.constData()));
        zs.avail_in = static_cast<uInt>(now);
        do {
            zs.next_out = reinterpret_cast<Bytef *>(chunk);
            zs.avail_out = sizeof chunk;
            deflate(&zs, flush);
            out.append(chunk, qsizetype(sizeof chunk - zs.avail_out));
        } while (zs.avail_out == 0);
        if (flush == Z_FINISH)
            break;
    }
    deflateEnd(&zs);
    return out;
}

QByteArray compressedPage(const QByteArray &encoding, const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: " + encoding +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

QByteArray compress(const QByteArray &data, int windowBits)
{
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&zs, uLong(data.size()))), '\0');
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

const QByteArray form = "application/x-www-form-urlencoded";
const QByteArray loginBody = "loginid=owner&password=s3cret%26pw&save=on";

} // namespace

class TestPageLoaderHostile final : public QObject
{
    Q_OBJECT

    std::unique_ptr<PageLoader> m_loader;
    std::unique_ptr<LoadEnds> m_ends;

    bool waitForEnd(int timeoutMs = 60000)
    {
        return QTest::qWaitFor([&] { return m_ends->count > 0 && !m_loader->isBusy(); }, timeoutMs);
    }

private slots:
    void init()
    {
        m_loader = std::make_unique<PageLoader>();
        m_ends = std::make_unique<LoadEnds>(*m_loader);
    }
    void cleanup()
    {
        m_ends.reset();
        m_loader.reset();
    }

    void loginPostStaysWithItsOrigin_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("otherPort"); // else the same port under another host name
        QTest::addColumn<bool>("reachesTarget");
        QTest::newRow("307 to another port") << 307 << true << false;
        QTest::newRow("308 to another port") << 308 << true << false;
        QTest::newRow("307 to another host") << 307 << false << false;
        QTest::newRow("308 to another host") << 308 << false << false;
        // These turn into a GET without the body, as browsers do.
        QTest::newRow("302 to another port") << 302 << true << true;
        QTest::newRow("303 to another host") << 303 << false << true;
    }

    void loginPostStaysWithItsOrigin()
    {
        QFETCH(int, code);
        QFETCH(bool, otherPort);
        QFETCH(bool, reachesTarget);
        RawServer elsewhere([](const QByteArray &) { return page(); });
        std::unique_ptr<RawServer> blog;
        blog = std::make_unique<RawServer>([&](const QByteArray &request) {
            if (request.startsWith("GET "))
                return page();
            const QString target = otherPort ? elsewhere.origin() + QStringLiteral("/steal")
                                             : blog->origin("localhost") + QStringLiteral("/steal");
            return redirect(code, target.toLatin1());
        });
        m_loader->post(blog->url(QStringLiteral("/login")), loginBody, form);
        QVERIFY(waitForEnd());

        QList<QByteArray> seen = elsewhere.requests + blog->requests.mid(1);
        if (!reachesTarget) {
            QCOMPARE(m_ends->codes, QList<int>{PageLoader::UnsafeRedirect});
            QVERIFY(m_ends->urls.first().endsWith(QStringLiteral("/steal")));
            QCOMPARE(elsewhere.connections, 0);
            QCOMPARE(blog->requests.size(), 1);
        } else {
            QCOMPARE(m_ends->codes, QList<int>());
            QCOMPARE(seen.size(), 1);
            QVERIFY(seen.first().startsWith("GET /steal "));
        }
        for (const QByteArray &request : seen)
            QVERIFY(!request.contains("s3cret"));
    }

    void formBodyIsWipedOnceAnsweredOrDropped_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("answered with a page") << page();
        QTest::newRow("answered with a 302") << redirect(302, "/dashboard");
        QTest::newRow("307 to another origin") << redirect(307, "http://localhost:1/x");
        QTest::newRow("replaced by a poll") << QByteArray();
    }

    void formBodyIsWipedOnceAnsweredOrDropped()
    {
        QFETCH(QByteArray, reply);
        RawServer blog([&](const QByteArray &request) {
            return request.startsWith("GET /dashboard") ? page() : reply;
        });
        blog.closeAfterReply = !reply.isEmpty(); // an empty reply: the post is never answered
        m_loader->post(blog.url(QStringLiteral("/login")), loginBody, form);
        // Qt's request holds the loader's copy; holding it too shows what becomes of it.
        const QList<QBuffer *> sent =
            m_loader->networkAccessManager()->findChildren<QBuffer *>(Qt::FindChildrenRecursively);
        QCOMPARE(sent.size(), 1);
        const QByteArray held = sent.first()->buffer();
        QCOMPARE(held, loginBody);
        if (reply.isEmpty()) {
            QVERIFY(QTest::qWaitFor([&] { return !blog.requests.isEmpty(); }, 20000));
            m_loader->get(blog.url(QStringLiteral("/dashboard")));
        }
        QVERIFY(waitForEnd());
        QCOMPARE(held, QByteArray(loginBody.size(), '\0'));
    }

    void repliesThatLostTheirHeadersFail_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("code");
        // Qt 6.4 keeps the status of a reply with over 100 fields and drops every header.
        QTest::newRow("302 with 152 fields") << redirect(302, "/dashboard", 149) << -12;
        QTest::newRow("307 with 101 fields") << redirect(307, "/dashboard", 98) << -12;
        QTest::newRow("302 without Location") << redirect(302, QByteArray()) << -12;
        QTest::newRow("301 with empty Location") << redirect(301, "") << -12;
        QTest::newRow("302 with 99 fields") << redirect(302, "/dashboard", 96) << 0;
    }

    void repliesThatLostTheirHeadersFail()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, code);
        RawServer blog([&](const QByteArray &request) {
            return request.startsWith("GET /dashboard") ? page() : reply;
        });
        m_loader->post(blog.url(QStringLiteral("/login")), loginBody, form);
        QVERIFY(waitForEnd());
        if (code == 0) {
            QCOMPARE(m_ends->codes, QList<int>());
            QVERIFY(m_ends->address.endsWith(QStringLiteral("/dashboard")));
        } else {
            QCOMPARE(m_ends->codes, QList<int>{code});
            QVERIFY(m_ends->address.endsWith(QStringLiteral("/login")));
        }
    }

    void compressedBodiesInflateWithinTheCap_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("code");
        const QByteArray html =
            "<html><body><p id=\"x\">" + QByteArray(5000, 'k') + "</p></body></html>";
        QTest::newRow("gzip page") << compressedPage("gzip", compress(html, 31)) << 0;
        QTest::newRow("deflate page") << compressedPage("deflate", compress(html, 15)) << 0;
        QTest::newRow("raw deflate page") << compressedPage("deflate", compress(html, -15)) << 0;
        // A few hundred kB that inflate to 512 MiB: the cap, not the deadline, ends them.
        const qint64 bomb = qint64(512) << 20;
        QTest::newRow("gzip bomb")
            << compressedPage("gzip", compressedZeros(bomb, 31)) << int(PageLoader::BodyTooLarge);
        QTest::newRow("deflate bomb") << compressedPage("deflate", compressedZeros(bomb, 15))
                                      << int(PageLoader::BodyTooLarge);
        // Each member under the cap, together over it.
        const QByteArray member = compressedZeros(qint64(5) << 20, 31);
        QTest::newRow("gzip members over the cap together")
            << compressedPage("gzip", member + member) << int(PageLoader::BodyTooLarge);
        QTest::newRow("corrupt gzip")
            << compressedPage("gzip", QByteArray("\x1f\x8b\x08\x00garbage-garbage", 20))
            << int(PageLoader::BadReply);
        QTest::newRow("encoding never offered")
            << compressedPage("br", "abc") << int(PageLoader::BadReply);
    }

    void compressedBodiesInflateWithinTheCap()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, code);
        RawServer blog([&](const QByteArray &) { return reply; });
        // The deadline is far off, so only the cap or the decoder can end a bomb.
        m_loader->setTimeoutMs(600000);
        m_loader->get(blog.url(QStringLiteral("/owner/center/dashboard")));
        QVERIFY(waitForEnd(300000));
        QVERIFY(blog.requests.first().contains("Accept-Encoding: gzip, deflate"));
        if (code == 0) {
            QCOMPARE(m_ends->codes, QList<int>());
            QCOMPARE(m_ends->body,
                     "<html><body><p id=\"x\">" + QByteArray(5000, 'k') + "</p></body></html>");
        } else {
            QCOMPARE(m_ends->codes, QList<int>{code});
        }
    }

    void endlessHeaderIsGivenUp()
    {
        // A header line that does not end: only a limit on the header can stop Qt reading it.
        RawServer blog([](const QByteArray &) {
            return "HTTP/1.1 200 OK\r\nX-Filler: " + QByteArray(qsizetype(50) * 1024 * 1024, 'a');
        });
        blog.closeAfterReply = false;
        m_loader->setTimeoutMs(600000);
        m_loader->setHeaderTimeoutMs(500);
        m_loader->get(blog.url(QStringLiteral("/owner/center/dashboard")));
        QVERIFY(waitForEnd(300000));
        QCOMPARE(m_ends->codes, QList<int>{PageLoader::Timeout});
    }
};

QTEST_GUILESS_MAIN(TestPageLoaderHostile)
#include "tst_pageloaderhostile.moc"
