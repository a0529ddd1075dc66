// The page loader over TLS: a certificate nobody vouches for is a failed load,
// never ignored; the same server loads once its certificate is trusted. Nothing moves from
// https to http, and a login post moves to https on its own host only.
#include "client/pageloader.h"
#include "tests/support/demohost.h"
#include "tests/support/loadends.h"
#include "tests/support/testenv.h"

#include <httplib.h>

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>
#include <thread>

namespace {

// A self-signed certificate for 127.0.0.1 and localhost, made by the openssl command.
bool makeCertificate(const QString &dir)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"),
                   QStringLiteral("-keyout"), dir + QStringLiteral("/key.pem"),
                   QStringLiteral("-out"), dir + QStringLiteral("/cert.pem")});
    return openssl.waitForFinished(60000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
}

// cpp-httplib's TLS server on a free loopback port, in a thread of its own.
class TlsServer
{
public:
    // plainTarget: where "/down" (302) and a POST to "/login" (307) send the client.
    TlsServer(const QString &cert, const QString &key, const std::string &plainTarget = {})
        : m_server(cert.toLocal8Bit().constData(), key.toLocal8Bit().constData())
    {
        m_server.Get("/down", [plainTarget](const httplib::Request &, httplib::Response &res) {
            res.set_header("Set-Cookie", "OSID=secret-session; Path=/");
            res.set_redirect(plainTarget, 302);
        });
        m_server.Post("/login", [plainTarget](const httplib::Request &, httplib::Response &res) {
            res.set_redirect(plainTarget, 307);
        });
        m_server.Post("/echo", [this](const httplib::Request &req, httplib::Response &res) {
            {
                const std::lock_guard lock(m_mutex);
                m_posts.append(QByteArray::fromStdString(req.get_header_value("Content-Type") +
                                                         "\n" + req.body));
            }
            res.set_content("<html><body><p id=\"echo\">posted</p></body></html>",
                            "Text/html; charset=UTF-8");
        });
        m_server.Get("/owner/center/dashboard",
                     [](const httplib::Request &, httplib::Response &res) {
                         res.set_content("<html><body><p id=\"counter\">오늘 3명</p></body></html>",
                                         "Text/html; charset=UTF-8");
                     });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port > 0)
            m_thread = std::thread([this] { m_server.listen_after_bind(); });
    }
    ~TlsServer()
    {
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    bool isValid() const { return m_server.is_valid() && m_port > 0; }
    QUrl url(const QString &path = QStringLiteral("/owner/center/dashboard"),
             const QString &host = QStringLiteral("127.0.0.1")) const
    {
        return QUrl(QStringLiteral("https://%1:%2%3").arg(host).arg(m_port).arg(path));
    }
    // Each POST to /echo: its content type, a line feed, its body.
    QList<QByteArray> posts() const
    {
        const std::lock_guard lock(m_mutex);
        return m_posts;
    }

private:
    httplib::SSLServer m_server;
    int m_port = -1;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_posts;
    std::thread m_thread;
};

} // namespace

class TestPageLoaderTls final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void untrustedCertificateFails();
    void trustedCertificateLoads();
    void nothingLeavesHttpsForHttp();
    void loginPostMovesToHttpsOnItsOwnHostOnly_data();
    void loginPostMovesToHttpsOnItsOwnHostOnly();

private:
    QTemporaryDir m_dir;
};

void TestPageLoaderTls::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("the openssl command is not installed");
    QVERIFY(m_dir.isValid());
    QVERIFY(makeCertificate(m_dir.path()));
}

void TestPageLoaderTls::untrustedCertificateFails()
{
    TlsServer server(m_dir.filePath(QStringLiteral("cert.pem")),
                     m_dir.filePath(QStringLiteral("key.pem")));
    QVERIFY(server.isValid());
    PageLoader loader;
    LoadEnds ends(loader);
    loader.get(server.url());
    QTRY_COMPARE_WITH_TIMEOUT(ends.count, 1, 20000);
    QCOMPARE(ends.codes, QList<int>{PageLoader::Tls});
    QCOMPARE(ends.address, server.url().toString());
    QVERIFY(ends.body.isEmpty());
}

void TestPageLoaderTls::trustedCertificateLoads()
{
    TlsServer server(m_dir.filePath(QStringLiteral("cert.pem")),
                     m_dir.filePath(QStringLiteral("key.pem")));
    QVERIFY(server.isValid());
    EnvGuard certFile("SSL_CERT_FILE",
                      QFile::encodeName(m_dir.filePath(QStringLiteral("cert.pem"))));
    PageLoader loader;
    LoadEnds ends(loader);
    loader.get(server.url());
    QTRY_COMPARE_WITH_TIMEOUT(ends.count, 1, 20000);
    QCOMPARE(ends.codes, QList<int>{});
    QVERIFY(ends.body.contains("id=\"counter\""));
}

void TestPageLoaderTls::nothingLeavesHttpsForHttp()
{
    // The plain-text side: counts whoever reaches it.
    QTcpServer plain;
    QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
    int reached = 0;
    connect(&plain, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *s = plain.nextPendingConnection()) {
            ++reached;
            s->deleteLater();
        }
    });
    const QString target = QStringLiteral("http://127.0.0.1:%1/x").arg(plain.serverPort());
    TlsServer server(m_dir.filePath(QStringLiteral("cert.pem")),
                     m_dir.filePath(QStringLiteral("key.pem")), target.toStdString());
    QVERIFY(server.isValid());
    EnvGuard certFile("SSL_CERT_FILE",
                      QFile::encodeName(m_dir.filePath(QStringLiteral("cert.pem"))));
    PageLoader loader;
    LoadEnds ends(loader);

    // A poll's redirect would carry the session cookie in clear text.
    loader.get(server.url(QStringLiteral("/down")));
    QTRY_COMPARE_WITH_TIMEOUT(ends.count, 1, 20000);
    // The login's 307 would carry the password in clear text.
    loader.post(server.url(QStringLiteral("/login")), "loginid=a&password=b", {});
    QTRY_COMPARE_WITH_TIMEOUT(ends.count, 2, 20000);
    QCOMPARE(ends.codes, (QList<int>{PageLoader::UnsafeRedirect, PageLoader::UnsafeRedirect}));
    QCOMPARE(ends.address, target);
    QTest::qWait(200);
    QCOMPARE(reached, 0);
}

void TestPageLoaderTls::loginPostMovesToHttpsOnItsOwnHostOnly_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("followed");
    // The blog's http and https listen on different ports, as they usually do.
    QTest::newRow("307 to https, same host") << 307 << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("308 to https, same host") << 308 << QStringLiteral("127.0.0.1") << true;
    // The certificate holds both names, so only the loader can keep the form from going.
    QTest::newRow("307 to https, other host") << 307 << QStringLiteral("localhost") << false;
    QTest::newRow("308 to https, other host") << 308 << QStringLiteral("localhost") << false;
}

void TestPageLoaderTls::loginPostMovesToHttpsOnItsOwnHostOnly()
{
    QFETCH(int, code);
    QFETCH(QString, host);
    QFETCH(bool, followed);
    TlsServer secure(m_dir.filePath(QStringLiteral("cert.pem")),
                     m_dir.filePath(QStringLiteral("key.pem")));
    QVERIFY(secure.isValid());
    EnvGuard certFile("SSL_CERT_FILE",
                      QFile::encodeName(m_dir.filePath(QStringLiteral("cert.pem"))));
    DemoHost blog;
    QVERIFY2(blog.isRunning(), qPrintable(blog.errorString()));
    const QString target = secure.url(QStringLiteral("/echo"), host).toString();
    QVERIFY(blog.injectFault(QStringLiteral("loginredirect"), 1, code, target));
    PageLoader loader;
    LoadEnds ends(loader);
    const QByteArray body = blog.loginBody("owner", "pass&word");
    loader.post(blog.loginUrl(), body, "application/x-www-form-urlencoded");
    QTRY_COMPARE_WITH_TIMEOUT(ends.count, 1, 20000);
    QCOMPARE(ends.address, target);
    if (followed) {
        QCOMPARE(ends.codes, QList<int>{});
        QVERIFY(ends.body.contains("id=\"echo\""));
        QCOMPARE(secure.posts(), QList<QByteArray>{"application/x-www-form-urlencoded\n" + body});
    } else {
        QCOMPARE(ends.codes, QList<int>{PageLoader::UnsafeRedirect});
        QTest::qWait(200);
        QCOMPARE(secure.posts(), QList<QByteArray>{});
    }
}

QTEST_GUILESS_MAIN(TestPageLoaderTls)
#include "tst_pageloadertls.moc"
