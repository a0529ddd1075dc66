#include "htmlctrl.h"

#include "client/htmlsink.h"
#include "state/logging.h"

#include <QAbstractNetworkCache>
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

#include <zlib.h>

#include <atomic>
#include <chrono>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
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

QUrl toUrl(const std::string &text)
{
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    QUrl url(s);
    if (url.scheme().isEmpty())
        url = QUrl::fromUserInput(s);
    return url;
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

QList<std::pair<QByteArray, QByteArray>> parseHeaderLines(const std::string &headers)
{
    QList<std::pair<QByteArray, QByteArray>> out;
    const QByteArray all = QByteArray::fromStdString(headers);
    for (const QByteArray &rawLine : all.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        bool token = !name.isEmpty();
        for (const char c : name)
            token = token && c > 32 && c < 127 && c != '(' && c != ')' && c != ',' && c != '"';
        if (token)
            out.append({name, line.mid(colon + 1).trimmed()});
    }
    return out;
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

// Overwrites the bytes every sharer of this buffer sees (Qt's request holds the same block,
// not a copy), then lets go of it. Read-only literals are left alone.
void wipeShared(QByteArray &bytes) noexcept
{
    if (!bytes.isEmpty() && bytes.data_ptr().d_ptr() != nullptr) {
        volatile char *p = const_cast<char *>(bytes.constData());
        for (qsizetype i = 0; i < bytes.size(); ++i)
            p[i] = 0;
    }
    bytes = QByteArray();
}

// Inflates a gzip or deflate body as it arrives, never more than the caller has room for,
// so a small body that inflates to gigabytes costs no more than the size cap.
class BodyDecoder
{
public:
    BodyDecoder() = default;
    ~BodyDecoder() { end(); }
    BodyDecoder(const BodyDecoder &) = delete;
    BodyDecoder &operator=(const BodyDecoder &) = delete;

    // False for an encoding we did not offer.
    bool begin(const QByteArray &contentEncoding)
    {
        end();
        const QByteArray coding = contentEncoding.trimmed().toLower();
        if (coding.isEmpty() || coding == "identity")
            return true;
        if (coding == "gzip" || coding == "x-gzip") {
            m_gzip = true;
            return init(15 + 16);
        }
        if (coding == "deflate") {
            // The wrapper is decided on the first two bytes, which may come in two reads.
            m_state = State::Sniffing;
            return true;
        }
        return false;
    }
    bool active() const { return m_state != State::Identity; }

    // Appends the decoded form of data to out until out holds more than limit bytes.
    // False when the data cannot be decoded.
    bool decode(const QByteArray &data, QByteArray &out, qint64 limit)
    {
        if (m_state == State::Identity) {
            out += data;
            return true;
        }
        // Bytes held back from an earlier read go first.
        const QByteArray input = m_held.isEmpty() ? data : m_held + data;
        m_held.clear();
        const auto *bytes = reinterpret_cast<const unsigned char *>(input.constData());
        qsizetype pos = 0;
        while (out.size() <= limit) {
            const qsizetype left = input.size() - pos;
            switch (m_state) {
            case State::Identity:
            case State::Done:
                return true;
            case State::Sniffing:
                if (left < 2) {
                    m_held = input.mid(pos);
                    return true;
                }
                // Some servers send "deflate" without the zlib wrapper; browsers take both.
                if (!init(isZlibHeader(bytes[pos], bytes[pos + 1]) ? 15 : -15))
                    return false;
                break;
            case State::BetweenMembers:
                // Concatenated gzip members are one body; anything else after one is ignored.
                if (left == 0 || (left == 1 && bytes[pos] == 0x1f)) {
                    m_held = input.mid(pos);
                    return true;
                }
                if (bytes[pos] != 0x1f || bytes[pos + 1] != 0x8b) {
                    m_state = State::Done;
                    return true;
                }
                if (inflateReset(&m_zs) != Z_OK)
                    return false;
                m_state = State::Inflating;
                break;
            case State::Inflating: {
                char chunk[16384];
                const qint64 room = std::min<qint64>(sizeof chunk, limit + 1 - out.size());
                m_zs.next_in = const_cast<Bytef *>(bytes + pos);
                m_zs.avail_in = static_cast<uInt>(left);
                m_zs.next_out = reinterpret_cast<Bytef *>(chunk);
                m_zs.avail_out = static_cast<uInt>(room);
                const int rc = inflate(&m_zs, Z_NO_FLUSH);
                out.append(chunk, room - m_zs.avail_out);
                pos = input.size() - m_zs.avail_in;
                if (rc == Z_STREAM_END) {
                    m_state = m_gzip ? State::BetweenMembers : State::Done;
                    break;
                }
                if (rc != Z_OK && rc != Z_BUF_ERROR)
                    return false;
                if (m_zs.avail_in == 0 && m_zs.avail_out != 0)
                    return true;
                break;
            }
            }
        }
        return true;
    }

private:
    enum class State
    {
        Identity,
        Sniffing, // deflate: waiting for the two bytes that tell the wrapper
        Inflating,
        BetweenMembers, // gzip: a member ended; the next bytes may start another
        Done,           // the stream ended; the rest is ignored
    };

    // RFC 1950's header. A raw stream could only pass with a stored block's padding bits set
    // in its first byte, which encoders leave clear.
    static bool isZlibHeader(unsigned char cmf, unsigned char flg)
    {
        return (cmf & 0x0f) == Z_DEFLATED && (cmf >> 4) <= 7 && ((cmf << 8) | flg) % 31 == 0;
    }

    bool init(int windowBits)
    {
        std::memset(&m_zs, 0, sizeof m_zs);
        m_zlib = inflateInit2(&m_zs, windowBits) == Z_OK;
        m_state = m_zlib ? State::Inflating : State::Done;
        return m_zlib;
    }
    void end()
    {
        if (m_zlib)
            inflateEnd(&m_zs);
        m_zlib = false;
        m_gzip = false;
        m_state = State::Identity;
        m_held.clear();
    }

    z_stream m_zs{};
    State m_state = State::Identity;
    bool m_zlib = false; // m_zs is initialised
    bool m_gzip = false;
    QByteArray m_held;
};

int failureFor(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return CHtmlCtrl::FailureConnectionRefused;
    case QNetworkReply::HostNotFoundError:
        return CHtmlCtrl::FailureHostNotFound;
    case QNetworkReply::TimeoutError:
        return CHtmlCtrl::FailureTimeout;
    case QNetworkReply::SslHandshakeFailedError:
        return CHtmlCtrl::FailureTls;
    case QNetworkReply::TooManyRedirectsError:
        return CHtmlCtrl::FailureTooManyRedirects;
    case QNetworkReply::RemoteHostClosedError:
        return CHtmlCtrl::FailureConnectionClosed;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::UnknownProxyError:
        return CHtmlCtrl::FailureProxy;
    case QNetworkReply::ProtocolUnknownError:
    case QNetworkReply::ProtocolInvalidOperationError:
        return CHtmlCtrl::FailureBadAddress;
    default:
        return CHtmlCtrl::FailureOther;
    }
}

QByteArray errorPage(const QUrl &url, int code)
{
    const QString address = url.toString(QUrl::FullyEncoded).toHtmlEscaped();
    return QByteArrayLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                             "<title>페이지를 표시할 수 없습니다</title></head>\n"
                             "<body><h1>페이지를 표시할 수 없습니다</h1>\n<p>주소: ") +
           address.toUtf8() + QByteArrayLiteral("</p>\n<p>오류 코드: ") + QByteArray::number(code) +
           QByteArrayLiteral("</p>\n</body></html>\n");
}

// Workers whose control went while they still had a job (see ~ParseWorker).
std::atomic<int> g_orphanedWorkers{0};

// One thread that builds documents and frees old ones, a job at a time, so the event loop
// never waits for either and no two trees are alive or being built at once. The thread
// keeps its own share of what it works with, so it can finish a job its owner no longer
// waits for.
class ParseWorker
{
public:
    ParseWorker() : m_state(std::make_shared<State>()), m_thread([state = m_state] { run(*state); })
    {
    }
    // Jobs not yet started are dropped. One under way is waited for a moment (an idle thread
    // ends at once and is joined); after that it is left to end on its own.
    ~ParseWorker()
    {
        std::unique_lock lock(m_state->mutex);
        m_state->stopping = true;
        m_state->wake.notify_one();
        if (m_state->ended.wait_for(lock, kStopWait, [this] { return m_state->done; })) {
            lock.unlock();
            m_thread.join();
            return;
        }
        m_state->orphaned = true;
        ++g_orphanedWorkers;
        lock.unlock();
        m_thread.detach();
    }
    ParseWorker(const ParseWorker &) = delete;
    ParseWorker &operator=(const ParseWorker &) = delete;

    void submit(std::function<void()> job)
    {
        {
            const std::lock_guard lock(m_state->mutex);
            m_state->jobs.push_back(std::move(job));
        }
        m_state->wake.notify_one();
    }

private:
    static constexpr std::chrono::milliseconds kStopWait{250};

    struct State
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable ended;
        std::deque<std::function<void()>> jobs;
        bool stopping = false;
        bool done = false;
        bool orphaned = false;
    };

    static void run(State &state)
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(state.mutex);
                state.wake.wait(lock, [&state] { return state.stopping || !state.jobs.empty(); });
                if (state.stopping)
                    break;
                job = std::move(state.jobs.front());
                state.jobs.pop_front();
            }
            job();
        }
        // What the dropped jobs hold (pages, old trees) is freed here, not by the owner.
        std::deque<std::function<void()>> dropped;
        {
            const std::lock_guard lock(state.mutex);
            dropped.swap(state.jobs);
        }
        dropped.clear();
        const std::lock_guard lock(state.mutex);
        state.done = true;
        if (state.orphaned)
            --g_orphanedWorkers;
        state.ended.notify_all();
    }

    std::shared_ptr<State> m_state;
    std::thread m_thread; // last: starts once the rest exists
};

// A document built for a navigation, waiting to be taken by the control.
struct Parsed
{
    quint64 generation = 0;
    QUrl url;
    std::unique_ptr<HtmlDocument> document;
};

// What a parse shares with the control that asked for it: the parse may outlive it.
struct Handback
{
    // The generation as the worker sees it, to drop a parse whose navigation was replaced.
    std::atomic<quint64> liveGeneration{0};
    std::mutex mutex;
    CHtmlCtrl *control = nullptr; // null once the control is going
    std::optional<Parsed> parsed;
};

} // namespace

struct CHtmlCtrl::Private
{
    explicit Private(CHtmlCtrl *owner) : q(owner) {}

    void start(const QUrl &url, QByteArray method, QByteArray body,
               QList<std::pair<QByteArray, QByteArray>> headers);
    void sendHop(const QUrl &url);
    void onHeaders();
    void onReadyRead();
    void onFinished();
    // True when the answer's status decided the navigation's course (redirect or error).
    bool handleStatus();
    void followRedirect(int status, const QByteArray &location);
    void fail(int code, const QUrl &url);
    void succeed();
    void dropReply();
    // The form body is no longer needed once its post was answered or given up.
    void forgetBody();

    // Runs the delivery from the event loop, never from inside a reply's signal.
    void post(std::function<void()> delivery);
    void deliverSuccess(quint64 generation, const QUrl &url, const QByteArray &body,
                        const QByteArray &charset);
    void deliverFailure(quint64 generation, const QUrl &url, int code);
    // Runs on the worker: builds the page's document and hands it back, if anyone is left.
    static void parseJob(const std::shared_ptr<Handback> &back, quint64 generation, const QUrl &url,
                         const QByteArray &page, const QByteArray &charset,
                         const std::vector<std::string> &ids, const std::function<void()> &hook);
    void takeParsed();
    void disposeDocument();

    CHtmlCtrl *q;
    IHtmlkSink *sink = nullptr;
    std::unique_ptr<QNetworkAccessManager> nam;
    std::unique_ptr<HtmlDocument> document;
    QUrl location;
    int timeoutMs = DefaultTimeoutMs;
    int headerTimeoutMs = DefaultHeaderTimeoutMs;
    qint64 maxBodyBytes = DefaultMaxBodyBytes;

    // The navigation under way. generation changes with every new one, so events still
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

    std::vector<std::string> documentIds;
    std::function<void()> parseHook;
    const std::shared_ptr<Handback> handback = std::make_shared<Handback>();
    // Declared last, so it stops before the members above go; a parse it leaves running
    // holds the handback only.
    ParseWorker worker;
};

const std::optional<QSslConfiguration> &CHtmlCtrl::Private::tlsConfiguration()
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

void CHtmlCtrl::Private::dropReply()
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

void CHtmlCtrl::Private::forgetBody()
{
    wipeShared(body);
}

void CHtmlCtrl::Private::start(const QUrl &url, QByteArray newMethod, QByteArray newBody,
                               QList<std::pair<QByteArray, QByteArray>> newHeaders)
{
    dropReply();
    forgetBody();
    deliveryTimer.stop();
    pending = nullptr;
    ++generation;
    handback->liveGeneration = generation;
    busy = true;
    redirects = 0;
    method = std::move(newMethod);
    body = std::move(newBody);
    headers = std::move(newHeaders);
    deadline.start(timeoutMs);
    if (!isWebAddress(url)) {
        fail(FailureBadAddress, url);
        return;
    }
    sendHop(url);
}

void CHtmlCtrl::Private::sendHop(const QUrl &url)
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

bool CHtmlCtrl::Private::handleStatus()
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
            fail(FailureBadReply, hopUrl);
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
        fail(FailureBodyTooLarge, hopUrl);
        return true;
    }
    if (!decoder.begin(reply->rawHeader("Content-Encoding"))) {
        fail(FailureBadReply, hopUrl);
        return true;
    }
    return false;
}

void CHtmlCtrl::Private::onHeaders()
{
    handleStatus();
}

void CHtmlCtrl::Private::onReadyRead()
{
    if (!statusHandled && handleStatus())
        return;
    while (reply && reply->bytesAvailable() > 0) {
        const qint64 room = maxBodyBytes - buffer.size();
        const QByteArray raw = reply->read(decoder.active() ? 65536 : room + 1);
        if (!decoder.decode(raw, buffer, maxBodyBytes)) {
            fail(FailureBadReply, hopUrl);
            return;
        }
        if (buffer.size() > maxBodyBytes) {
            fail(FailureBodyTooLarge, hopUrl);
            return;
        }
    }
}

void CHtmlCtrl::Private::onFinished()
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
            fail(FailureProxy, hopUrl); // Qt reports an unreachable HTTP proxy as the host
        else
            fail(failureFor(error), hopUrl);
        return;
    }
    onReadyRead();
    if (reply)
        succeed();
}

void CHtmlCtrl::Private::followRedirect(int status, const QByteArray &location)
{
    const QUrl from = hopUrl;
    if (++redirects > MaxRedirects) {
        fail(FailureTooManyRedirects, from);
        return;
    }
    QUrl target = from.resolved(QUrl::fromEncoded(location));
    if (!isWebAddress(target)) {
        fail(FailureBadAddress, target.isValid() ? target : from);
        return;
    }
    // Leaving https would send the cookies, and a kept form body, in clear text.
    if (from.scheme() == QLatin1String("https") && target.scheme() != QLatin1String("https")) {
        fail(FailureUnsafeRedirect, target);
        return;
    }
    // 307 and 308 send the body again; a login form goes to its own origin, or its own host
    // over https, only.
    if ((status == 307 || status == 308) && !body.isEmpty() && !sameOrigin(from, target) &&
        !isUpgrade(from, target)) {
        fail(FailureUnsafeRedirect, target);
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

void CHtmlCtrl::Private::fail(int code, const QUrl &url)
{
    dropReply();
    forgetBody();
    deadline.stop();
    headerDeadline.stop();
    post([this, gen = generation, url, code] { deliverFailure(gen, url, code); });
}

void CHtmlCtrl::Private::succeed()
{
    const QByteArray charset = charsetOf(reply->rawHeader("Content-Type"));
    QByteArray page = std::move(buffer);
    buffer.clear();
    dropReply();
    forgetBody();
    deadline.stop();
    headerDeadline.stop();
    post([this, gen = generation, url = hopUrl, page = std::move(page), charset] {
        deliverSuccess(gen, url, page, charset);
    });
}

void CHtmlCtrl::Private::post(std::function<void()> delivery)
{
    // One navigation runs at a time, so one delivery at most waits for the event loop.
    pending = std::move(delivery);
    deliveryTimer.start(0);
}

void CHtmlCtrl::Private::deliverSuccess(quint64 gen, const QUrl &url, const QByteArray &page,
                                        const QByteArray &charset)
{
    if (gen != generation)
        return;
    disposeDocument();
    worker.submit([back = handback, gen, url, page, charset, ids = documentIds, hook = parseHook] {
        parseJob(back, gen, url, page, charset, ids, hook);
    });
}

void CHtmlCtrl::Private::disposeDocument()
{
    // One tree at a time, and a large one is not freed on the event loop either.
    if (document)
        worker.submit(
            [old = std::shared_ptr<HtmlDocument>(std::move(document))]() mutable { old.reset(); });
}

void CHtmlCtrl::Private::parseJob(const std::shared_ptr<Handback> &back, quint64 gen,
                                  const QUrl &url, const QByteArray &page,
                                  const QByteArray &charset, const std::vector<std::string> &ids,
                                  const std::function<void()> &hook)
{
    if (gen != back->liveGeneration)
        return; // replaced before it started
    if (hook)
        hook();
    std::unique_ptr<HtmlDocument> built = HtmlDocument::parse(page, charset, url, ids);
    // The lookups the reader starts with, done here: the id table and their text.
    for (const std::string &id : ids)
        if (const HtmlElement *element = built->getElementById(id))
            (void)element->innerText();
    {
        // The control clears its pointer under this lock before it goes.
        const std::lock_guard lock(back->mutex);
        if (back->control && gen == back->liveGeneration) {
            back->parsed = Parsed{gen, url, std::move(built)};
            emit back->control->documentParsed(QPrivateSignal());
        }
    }
    built.reset(); // a late result is freed here, not on the event loop
}

void CHtmlCtrl::Private::takeParsed()
{
    std::optional<Parsed> result;
    {
        const std::lock_guard lock(handback->mutex);
        result.swap(handback->parsed);
    }
    if (!result)
        return;
    const quint64 gen = result->generation;
    if (gen != generation) {
        // Replaced after the worker looked.
        worker.submit([old = std::shared_ptr<HtmlDocument>(std::move(result->document))]() mutable {
            old.reset();
        });
        return;
    }
    busy = false;
    location = result->url;
    document = std::move(result->document);
    // The document layer does not log; the page reads as empty and this says why.
    if (const std::string why = document->refusal(); !why.empty())
        qCWarning(lcNetwork).noquote()
            << "the page at"
            << logging::safeAddress(location.toString(QUrl::FullyEncoded).toStdString())
            << "was not parsed:" << QString::fromStdString(why);
    if (!sink)
        return;
    sink->OnDownloadComplete();
    if (gen == generation)
        sink->OnDocumentComplete();
}

void CHtmlCtrl::Private::deliverFailure(quint64 gen, const QUrl &url, int code)
{
    if (gen != generation)
        return;
    busy = false;
    location = url;
    bool cancel = false;
    if (sink) {
        sink->OnNavigateError(url.toString(QUrl::FullyEncoded).toStdString(), std::string(), code,
                              cancel);
        // The handler may have started another navigation (or a nested loop did).
        if (gen != generation)
            return;
        sink->OnDownloadComplete();
        if (gen != generation)
            return;
    }
    if (cancel)
        return;
    disposeDocument();
    document = HtmlDocument::parse(errorPage(url, code), QByteArrayLiteral("UTF-8"), url);
    if (sink)
        sink->OnDocumentComplete();
}

CHtmlCtrl::CHtmlCtrl(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this))
{
#if defined(__GLIBC__)
    // A page of several MiB passes through a few buffers that large on every load. glibc
    // raises its mmap threshold once such a buffer is freed and then keeps later ones in
    // its heaps, where they stay resident between polls; a fixed threshold hands them back.
    static const bool fixedThreshold = mallopt(M_MMAP_THRESHOLD, 256 * 1024) == 1;
    Q_UNUSED(fixedThreshold);
#endif
    d->handback->control = this;
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
    // Queued: the signal comes from the parsing thread.
    connect(
        this, &CHtmlCtrl::documentParsed, this, [this] { d->takeParsed(); }, Qt::QueuedConnection);
    d->deadline.setSingleShot(true);
    connect(&d->deadline, &QTimer::timeout, this, [this] {
        if (d->busy && d->reply)
            d->fail(FailureTimeout, d->hopUrl);
    });
    d->headerDeadline.setSingleShot(true);
    connect(&d->headerDeadline, &QTimer::timeout, this, [this] {
        if (d->busy && d->reply && !d->statusHandled)
            d->fail(FailureTimeout, d->hopUrl);
    });
}

CHtmlCtrl::~CHtmlCtrl()
{
    d->deadline.stop();
    d->headerDeadline.stop();
    d->dropReply();
    d->forgetBody();
    // A parse under way is not waited for (see ParseWorker): it finishes on its own, finds
    // the control gone and frees its result itself. Trees still here go to the worker too.
    std::optional<Parsed> untaken;
    {
        const std::lock_guard lock(d->handback->mutex);
        d->handback->control = nullptr;
        d->handback->liveGeneration = 0;
        untaken.swap(d->handback->parsed);
    }
    if (untaken)
        d->worker.submit([old = std::shared_ptr<HtmlDocument>(
                              std::move(untaken->document))]() mutable { old.reset(); });
    d->disposeDocument();
}

int CHtmlCtrl::orphanedParses()
{
    return g_orphanedWorkers;
}

bool CHtmlCtrl::CreateFromStatic(IHtmlkSink *sink)
{
    d->sink = sink;
    return true;
}

void CHtmlCtrl::Navigate(const std::string &url)
{
    d->start(toUrl(url), QByteArrayLiteral("GET"), {}, {});
}

void CHtmlCtrl::Navigate2(const std::string &url, const QByteArray &postData,
                          const std::string &headers)
{
    // A copy of our own, so wiping it never touches the caller's bytes.
    QByteArray body =
        postData.isNull() ? QByteArray() : QByteArray(postData.constData(), postData.size());
    QByteArray method = postData.isNull() ? QByteArrayLiteral("GET") : QByteArrayLiteral("POST");
    d->start(toUrl(url), std::move(method), std::move(body), parseHeaderLines(headers));
}

void CHtmlCtrl::DeleteUrlCacheEntry(const std::string &url)
{
    if (QAbstractNetworkCache *cache = d->nam->cache())
        cache->remove(toUrl(url));
}

std::string CHtmlCtrl::GetLocationURL() const
{
    if (d->location.isEmpty())
        return {};
    return d->location.toString(QUrl::FullyEncoded).toStdString();
}

const HtmlDocument *CHtmlCtrl::GetHtmlDocument() const
{
    return d->document.get();
}

bool CHtmlCtrl::IsBusy() const
{
    return d->busy;
}

void CHtmlCtrl::SetDocumentIds(std::vector<std::string> ids)
{
    d->documentIds = std::move(ids);
}

void CHtmlCtrl::setTimeoutMs(int ms)
{
    d->timeoutMs = qMax(1, ms);
}

void CHtmlCtrl::setHeaderTimeoutMs(int ms)
{
    d->headerTimeoutMs = qMax(1, ms);
}

void CHtmlCtrl::setParseHook(std::function<void()> hook)
{
    d->parseHook = std::move(hook);
}

void CHtmlCtrl::setMaxBodyBytes(qint64 bytes)
{
    d->maxBodyBytes = qMax<qint64>(0, bytes);
}

QNetworkAccessManager *CHtmlCtrl::networkAccessManager() const
{
    return d->nam.get();
}
