// The browser control over TLS: a certificate nobody vouches for is a navigation failure,
// never ignored; the same server loads once its certificate is trusted. Nothing moves from
// https to http, and a login post moves to https on its own host only.
#include "client/htmlctrl.h"
#include "client/htmlsink.h"
#include "tests/support/demohost.h"
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

class Sink final : public IHtmlkSink
{
public:
    void OnDocumentComplete() override { ++documents; }
    void OnDownloadComplete() override {}
    void OnNavigateError(const std::string &, const std::string &, int statusCode, bool &) override
    {
        codes.append(statusCode);
    }
    int documents = 0;
    QList<int> codes;
};

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
    std::string url(const std::string &path = "/owner/center/dashboard",
                    const std::string &host = "127.0.0.1") const
    {
        return "https://" + host + ":" + std::to_string(m_port) + path;
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

class TestHtmlCtrlTls final : public QObject
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

void TestHtmlCtrlTls::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("the openssl command is not installed");
    QVERIFY(m_dir.isValid());
    QVERIFY(makeCertificate(m_dir.path()));
}

void TestHtmlCtrlTls::untrustedCertificateFails()
{
    TlsServer server(m_dir.filePath(QStringLiteral("cert.pem")),
                     m_dir.filePath(QStringLiteral("key.pem")));
    QVERIFY(server.isValid());
    CHtmlCtrl ctrl;
    Sink sink;
    ctrl.CreateFromStatic(&sink);
    ctrl.Navigate(server.url());
    QTRY_COMPARE_WITH_TIMEOUT(sink.documents, 1, 20000);
    QCOMPARE(sink.codes, QList<int>{CHtmlCtrl::FailureTls});
    QCOMPARE(ctrl.GetLocationURL(), server.url());
    QVERIFY(!ctrl.GetHtmlDocument()->getElementById("counter"));
}

void TestHtmlCtrlTls::trustedCertificateLoads()
{
    TlsServer server(m_dir.filePath(QStringLiteral("cert.pem")),
                     m_dir.filePath(QStringLiteral("key.pem")));
    QVERIFY(server.isValid());
    EnvGuard certFile("SSL_CERT_FILE",
                      QFile::encodeName(m_dir.filePath(QStringLiteral("cert.pem"))));
    CHtmlCtrl ctrl;
    Sink sink;
    ctrl.CreateFromStatic(&sink);
    ctrl.Navigate(server.url());
    QTRY_COMPARE_WITH_TIMEOUT(sink.documents, 1, 20000);
    QCOMPARE(sink.codes, QList<int>{});
    QVERIFY(ctrl.GetHtmlDocument()->getElementById("counter"));
}

void TestHtmlCtrlTls::nothingLeavesHttpsForHttp()
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
    const std::string target = "http://127.0.0.1:" + std::to_string(plain.serverPort()) + "/x";
    TlsServer server(m_dir.filePath(QStringLiteral("cert.pem")),
                     m_dir.filePath(QStringLiteral("key.pem")), target);
    QVERIFY(server.isValid());
    EnvGuard certFile("SSL_CERT_FILE",
                      QFile::encodeName(m_dir.filePath(QStringLiteral("cert.pem"))));
    CHtmlCtrl ctrl;
    Sink sink;
    ctrl.CreateFromStatic(&sink);

    // A poll's redirect would carry the session cookie in clear text.
    ctrl.Navigate(server.url("/down"));
    QTRY_COMPARE_WITH_TIMEOUT(sink.documents, 1, 20000);
    // The login's 307 would carry the password in clear text.
    ctrl.Navigate2(server.url("/login"), "loginid=a&password=b", "");
    QTRY_COMPARE_WITH_TIMEOUT(sink.documents, 2, 20000);
    QCOMPARE(sink.codes,
             (QList<int>{CHtmlCtrl::FailureUnsafeRedirect, CHtmlCtrl::FailureUnsafeRedirect}));
    QCOMPARE(ctrl.GetLocationURL(), target);
    QTest::qWait(200);
    QCOMPARE(reached, 0);
}

void TestHtmlCtrlTls::loginPostMovesToHttpsOnItsOwnHostOnly_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("followed");
    // The blog's http and https listen on different ports, as they usually do.
    QTest::newRow("307 to https, same host") << 307 << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("308 to https, same host") << 308 << QStringLiteral("127.0.0.1") << true;
    // The certificate holds both names, so only the control can keep the form from going.
    QTest::newRow("307 to https, other host") << 307 << QStringLiteral("localhost") << false;
    QTest::newRow("308 to https, other host") << 308 << QStringLiteral("localhost") << false;
}

void TestHtmlCtrlTls::loginPostMovesToHttpsOnItsOwnHostOnly()
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
    const std::string target = secure.url("/echo", host.toStdString());
    QVERIFY(
        blog.injectFault(QStringLiteral("loginredirect"), 1, code, QString::fromStdString(target)));
    CHtmlCtrl ctrl;
    Sink sink;
    ctrl.CreateFromStatic(&sink);
    const QByteArray body = blog.loginBody("owner", "pass&word");
    ctrl.Navigate2(blog.loginUrl().toString(QUrl::FullyEncoded).toStdString(), body,
                   "Content-Type: application/x-www-form-urlencoded\n");
    QTRY_COMPARE_WITH_TIMEOUT(sink.documents, 1, 20000);
    QCOMPARE(ctrl.GetLocationURL(), target);
    if (followed) {
        QCOMPARE(sink.codes, QList<int>{});
        QVERIFY(ctrl.GetHtmlDocument()->getElementById("echo"));
        QCOMPARE(secure.posts(), QList<QByteArray>{"application/x-www-form-urlencoded\n" + body});
    } else {
        QCOMPARE(sink.codes, QList<int>{CHtmlCtrl::FailureUnsafeRedirect});
        QTest::qWait(200);
        QCOMPARE(secure.posts(), QList<QByteArray>{});
    }
}

QTEST_GUILESS_MAIN(TestHtmlCtrlTls)
#include "tst_htmlctrltls.moc"
