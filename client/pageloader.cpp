#include "pageloader.h"

#include "base/logging.h"
#include "base/secret.h"
#include "client/bodydecoder.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <functional>
#include <optional>
#include <utility>

namespace {

bool isLoopbackHost(const QString &host)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

// The system's proxy for everything but loopback, which a proxy could not reach anyway.
class SystemProxyExceptLoopback final : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        if (isLoopbackHost(query.peerHostName()))
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        return systemProxyForQuery(query);
    }
};

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && !url.host().isEmpty() &&
           (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// The charset parameter of a Content-Type value, without quotes; empty when absent.
QByteArray charsetOf(const QByteArray &contentType)
{
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        const qsizetype eq = part.indexOf('=');
        if (eq < 0 || part.left(eq).trimmed().toLower() != "charset")
            continue;
        QByteArray value = part.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value;
    }
    return {};
}

int effectivePort(const QUrl &url)
{
    return url.port(url.scheme() == QLatin1String("https") ? 443 : 80);
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host() == b.host() && effectivePort(a) == effectivePort(b);
}

// The same host, moved from http to https: browsers follow it, and it takes a form body no
// further than its own host.
bool isUpgrade(const QUrl &from, const QUrl &to)
{
    return from.scheme() == QLatin1String("http") && to.scheme() == QLatin1String("https") &&
           from.host() == to.host();
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

int failureFor(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return PageLoader::ConnectionRefused;
    case QNetworkReply::HostNotFoundError:
        return PageLoader::HostNotFound;
    case QNetworkReply::TimeoutError:
        return PageLoader::Timeout;
    case QNetworkReply::SslHandshakeFailedError:
        return PageLoader::Tls;
    case QNetworkReply::TooManyRedirectsError:
        return PageLoader::TooManyRedirects;
    case QNetworkReply::RemoteHostClosedError:
        return PageLoader::ConnectionClosed;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return PageLoader::Proxy;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return PageLoader::BadAddress;
    default:
        return PageLoader::Other;
    }
}

} // namespace

struct PageLoader::Private
{
    explicit Private(PageLoader *owner) : q(owner) {}

    void start(const QUrl &url, QByteArray method, QByteArray body,
               QList<std::pair<QByteArray, QByteArray>> headers);
    void sendHop(const QUrl &url);
    void onHeaders();
    void onReadyRead();
    void onFinished();
    // True when the answer's status decided the load's course (redirect or error).
    bool handleStatus();
    void followRedirect(int status, const QByteArray &location);
    void fail(int code, const QUrl &url);
    void succeed();
    void dropReply();
    // The form body is no longer needed once its post was answered or given up: the bytes
    // Qt's request shares with it are overwritten.
    void forgetBody() { wipeSharedBytes(body); }

    // Runs the delivery from the event loop, never from inside a reply's signal.
    void post(std::function<void()> delivery);
    // Ends the load, unless another replaced it: busy no longer, and finished().
    void deliver(quint64 generation, const Result &result);

    PageLoader *q;
    std::unique_ptr<QNetworkAccessManager> nam;
    int timeoutMs = DefaultTimeoutMs;
    int headerTimeoutMs = DefaultHeaderTimeoutMs;
    qint64 maxBodyBytes = DefaultMaxBodyBytes;

    // The load under way. generation changes with every new one, so events still
    // queued for an older one can tell they are stale.
    quint64 generation = 0;
    bool busy = false;
    QPointer<QNetworkReply> reply;
    QTimer deadline;
    // Qt 6.4 has no limit of its own on the size of a reply's header; a hop whose header
    // has not ended by this time is given up.
    QTimer headerDeadline;
    QTimer deliveryTimer;
    std::function<void()> pending;
    QUrl hopUrl;
    QByteArray method;
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    int redirects = 0;
    bool statusHandled = false;
    bool viaProxy = false;
    QByteArray buffer;
    BodyDecoder decoder;
    // System roots plus the certificates named by SSL_CERT_FILE, when it names any. Read on
    // the first https hop: the usual bundle takes a noticeable part of start-up to parse.
    std::optional<QSslConfiguration> tls;
    bool tlsLoaded = false;
    const std::optional<QSslConfiguration> &tlsConfiguration();
};

const std::optional<QSslConfiguration> &PageLoader::Private::tlsConfiguration()
{
    if (tlsLoaded)
        return tls;
    tlsLoaded = true;
    // Qt reads only the system's certificate folders; honour OpenSSL's usual variable too, so a
    // local authority can be trusted the way other programs on the system trust it.
    const QString certFile = qEnvironmentVariable("SSL_CERT_FILE");
    if (certFile.isEmpty())
        return tls;
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(certFile);
    if (!extra.isEmpty()) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(QSslConfiguration::systemCaCertificates() + extra);
        tls = std::move(config);
    }
    return tls;
}

void PageLoader::Private::dropReply()
{
    if (!reply)
        return;
    QNetworkReply *r = reply;
    reply = nullptr;
    QObject::disconnect(r, nullptr, q, nullptr);
    // Aborting from inside the reply's own signal upsets Qt; its events are ignored already.
    // A reply that failed is ending anyway, and Qt warns when it is aborted as well.
    if (r->error() == QNetworkReply::NoError)
        QMetaObject::invokeMethod(r, "abort", Qt::QueuedConnection);
    r->deleteLater();
}

void PageLoader::Private::start(const QUrl &url, QByteArray newMethod, QByteArray newBody,
                                QList<std::pair<QByteArray, QByteArray>> newHeaders)
{
    dropReply();
    forgetBody();
    deliveryTimer.stop();
    pending = nullptr;
    ++generation;
    busy = true;
    redirects = 0;
    method = std::move(newMethod);
    body = std::move(newBody);
    headers = std::move(newHeaders);
    deadline.start(timeoutMs);
    if (!isWebAddress(url)) {
        fail(BadAddress, url);
        return;
    }
    sendHop(url);
}

void PageLoader::Private::sendHop(const QUrl &url)
{
    hopUrl = url;
    buffer.clear();
    statusHandled = false;
    headerDeadline.start(std::min(headerTimeoutMs, timeoutMs));

    const QList<QNetworkProxy> proxies = nam->proxyFactory()->queryProxy(QNetworkProxyQuery(url));
    viaProxy = !proxies.isEmpty() && proxies.first().type() != QNetworkProxy::NoProxy &&
               proxies.first().type() != QNetworkProxy::DefaultProxy;

    QNetworkRequest request(url);
    if (url.scheme() == QLatin1String("https")) {
        if (const auto &config = tlsConfiguration())
            request.setSslConfiguration(*config);
    }
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // Every poll must reach the server.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setHeader(
        QNetworkRequest::UserAgentHeader,
        QByteArrayLiteral("Mozilla/5.0 (X11; Linux x86_64) Ormix/" ORMIX_VERSION_TEXT));
    for (const auto &[name, value] : std::as_const(headers))
        request.setRawHeader(name, value);
    // Offered by us, so Qt hands the body over as it came and BodyDecoder inflates it within
    // the size cap (Qt's own inflation runs ahead of a small read buffer and then stalls).
    request.setRawHeader("Accept-Encoding", "gzip, deflate");

    QNetworkReply *r = nullptr;
    if (method == "GET") {
        r = nam->get(request);
    } else {
        if (method == "POST" && !request.hasRawHeader("Content-Type"))
            request.setHeader(QNetworkRequest::ContentTypeHeader,
                              QByteArrayLiteral("application/x-www-form-urlencoded"));
        r = nam->sendCustomRequest(request, method, body);
    }
    // Keeps Qt's own buffer small; onReadyRead drains it into ours, which is capped.
    r->setReadBufferSize(qint64(256) * 1024);
    reply = r;
    QObject::connect(r, &QNetworkReply::metaDataChanged, q, [this, r] {
        if (r == reply)
            onHeaders();
    });
    QObject::connect(r, &QNetworkReply::readyRead, q, [this, r] {
        if (r == reply)
            onReadyRead();
    });
    QObject::connect(r, &QNetworkReply::finished, q, [this, r] {
        if (r == reply)
            onFinished();
    });
}

bool PageLoader::Private::handleStatus()
{
    if (statusHandled)
        return false;
    const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttr.isValid())
        return false;
    statusHandled = true;
    headerDeadline.stop();
    const int status = statusAttr.toInt();
    const QByteArray location = reply->rawHeader("Location");
    if (isRedirectStatus(status)) {
        // Qt 6.4 drops every header of a reply with more than 100 of them, keeping the
        // status: a redirect that lost its target is a broken reply, not a page.
        if (location.trimmed().isEmpty())
            fail(BadReply, hopUrl);
        else
            followRedirect(status, location);
        return true;
    }
    if (status >= 400) {
        fail(status, hopUrl);
        return true;
    }
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > maxBodyBytes) {
        fail(BodyTooLarge, hopUrl);
        return true;
    }
    if (!decoder.begin(reply->rawHeader("Content-Encoding"))) {
        fail(BadReply, hopUrl);
        return true;
    }
    // A body of known size is read into one buffer, not into a series of larger copies.
    if (length.isValid() && !decoder.active())
        buffer.reserve(static_cast<qsizetype>(std::max<qint64>(0, length.toLongLong())));
    return false;
}

void PageLoader::Private::onHeaders()
{
    handleStatus();
}

void PageLoader::Private::onReadyRead()
{
    if (!statusHandled && handleStatus())
        return;
    while (reply && reply->bytesAvailable() > 0) {
        if (decoder.active()) {
            // Never more than is there: QIODevice::read allocates all it is asked for first.
            const QByteArray raw = reply->read(std::min<qint64>(reply->bytesAvailable(), 65536));
            if (!decoder.decode(raw, buffer, maxBodyBytes)) {
                fail(BadReply, hopUrl);
                return;
            }
        } else {
            // Straight into the body, one byte past the cap at most; its capacity grows
            // geometrically when the size was not announced.
            const qint64 n =
                std::min(reply->bytesAvailable(), maxBodyBytes - qint64(buffer.size()) + 1);
            const qsizetype at = buffer.size();
            buffer.resize(at + static_cast<qsizetype>(n));
            const qint64 got = reply->read(buffer.data() + at, n);
            buffer.resize(at + static_cast<qsizetype>(std::max<qint64>(got, 0)));
            if (got <= 0)
                break;
        }
        if (buffer.size() > maxBodyBytes) {
            fail(BodyTooLarge, hopUrl);
            return;
        }
    }
}

void PageLoader::Private::onFinished()
{
    if (!statusHandled && handleStatus())
        return;
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (error != QNetworkReply::NoError) {
        // Authentication and similar answers come here with their HTTP status.
        if (status.isValid() && status.toInt() >= 400)
            fail(status.toInt(), hopUrl);
        else if (viaProxy && (error == QNetworkReply::ConnectionRefusedError ||
                              error == QNetworkReply::HostNotFoundError))
            fail(Proxy, hopUrl); // Qt reports an unreachable HTTP proxy as the host
        else
            fail(failureFor(error), hopUrl);
        return;
    }
    onReadyRead();
    if (reply)
        succeed();
}

void PageLoader::Private::followRedirect(int status, const QByteArray &location)
{
    const QUrl from = hopUrl;
    if (++redirects > MaxRedirects) {
        fail(TooManyRedirects, from);
        return;
    }
    QUrl target = from.resolved(QUrl::fromEncoded(location));
    if (!isWebAddress(target)) {
        fail(BadAddress, target.isValid() ? target : from);
        return;
    }
    // Leaving https would send the cookies, and a kept form body, in clear text.
    if (from.scheme() == QLatin1String("https") && target.scheme() != QLatin1String("https")) {
        fail(UnsafeRedirect, target);
        return;
    }
    // 307 and 308 send the body again; a login form goes to its own origin, or its own host
    // over https, only.
    if ((status == 307 || status == 308) && !body.isEmpty() && !sameOrigin(from, target) &&
        !isUpgrade(from, target)) {
        fail(UnsafeRedirect, target);
        return;
    }
    if (!target.hasFragment() && from.hasFragment())
        target.setFragment(from.fragment(QUrl::FullyEncoded), QUrl::TolerantMode);

    // As browsers do: 303 always, 301 and 302 for POST, turn into a GET without a body.
    if ((status == 303 && method != "HEAD") ||
        ((status == 301 || status == 302) && method == "POST")) {
        method = "GET";
        forgetBody();
        headers.removeIf([](const std::pair<QByteArray, QByteArray> &h) {
            const QByteArray name = h.first.toLower();
            return name == "content-type" || name == "content-length" || name == "origin";
        });
    }
    if (!sameOrigin(from, target)) {
        headers.removeIf([](const std::pair<QByteArray, QByteArray> &h) {
            return h.first.toLower() == "authorization";
        });
    }
    dropReply();
    sendHop(target);
}

void PageLoader::Private::fail(int code, const QUrl &url)
{
    dropReply();
    forgetBody();
    deadline.stop();
    headerDeadline.stop();
    post([this, gen = generation, url, code] { deliver(gen, Result{url, code, {}, {}}); });
}

void PageLoader::Private::succeed()
{
    const QByteArray charset = charsetOf(reply->rawHeader("Content-Type"));
    QByteArray page = std::move(buffer);
    buffer.clear();
    dropReply();
    forgetBody();
    deadline.stop();
    headerDeadline.stop();
    post([this, gen = generation, url = hopUrl, page = std::move(page), charset]() mutable {
        deliver(gen, Result{url, 0, std::move(page), charset});
    });
}

void PageLoader::Private::post(std::function<void()> delivery)
{
    // One load runs at a time, so one delivery at most waits for the event loop.
    pending = std::move(delivery);
    deliveryTimer.start(0);
}

void PageLoader::Private::deliver(quint64 gen, const Result &result)
{
    if (gen != generation)
        return;
    busy = false;
    emit q->finished(result);
}

PageLoader::PageLoader(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this))
{
#if defined(__GLIBC__)
    // A page's buffers are reused from the heap on every load, without faulting them in
    // anew, as long as the page is of an ordinary size; those of a page of several MiB are
    // mappings of their own, handed back after the load (glibc would otherwise raise its
    // threshold to the largest one freed and keep such buffers for the rest of the run).
    static const bool thresholds = mallopt(M_MMAP_THRESHOLD, 2 * 1024 * 1024) == 1 &&
                                   mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024) == 1;
    Q_UNUSED(thresholds);
#endif
    d->nam = std::make_unique<QNetworkAccessManager>();
    // In memory only: the login cookie lives as long as the run.
    d->nam->setCookieJar(new QNetworkCookieJar(d->nam.get()));
    d->nam->setProxyFactory(new SystemProxyExceptLoopback);
    d->nam->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    d->deliveryTimer.setSingleShot(true);
    connect(&d->deliveryTimer, &QTimer::timeout, this, [this] {
        const std::function<void()> delivery = std::exchange(d->pending, nullptr);
        if (delivery)
            delivery();
    });
    d->deadline.setSingleShot(true);
    connect(&d->deadline, &QTimer::timeout, this, [this] {
        if (d->busy && d->reply)
            d->fail(Timeout, d->hopUrl);
    });
    d->headerDeadline.setSingleShot(true);
    connect(&d->headerDeadline, &QTimer::timeout, this, [this] {
        if (d->busy && d->reply && !d->statusHandled)
            d->fail(Timeout, d->hopUrl);
    });
}

PageLoader::~PageLoader()
{
    d->deadline.stop();
    d->headerDeadline.stop();
    d->dropReply();
    d->forgetBody();
}

void PageLoader::get(const QUrl &url)
{
    d->start(url, QByteArrayLiteral("GET"), {}, {});
}

void PageLoader::post(const QUrl &url, const QByteArray &body, const QByteArray &contentType)
{
    // A copy of our own, so wiping it never touches the caller's bytes.
    QByteArray copy(body.constData(), body.size());
    d->start(url, QByteArrayLiteral("POST"), std::move(copy),
             {{QByteArrayLiteral("Content-Type"), contentType}});
}

bool PageLoader::isBusy() const
{
    return d->busy;
}

void PageLoader::setTimeoutMs(int ms)
{
    d->timeoutMs = qMax(1, ms);
}

void PageLoader::setHeaderTimeoutMs(int ms)
{
    d->headerTimeoutMs = qMax(1, ms);
}

void PageLoader::setMaxBodyBytes(qint64 bytes)
{
    d->maxBodyBytes = qMax<qint64>(0, bytes);
}

QNetworkAccessManager *PageLoader::networkAccessManager() const
{
    return d->nam.get();
}
