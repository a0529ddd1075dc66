#pragma once

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;

// Loads pages over HTTP(S) as a browser does: an in-memory cookie jar, redirects followed by
// hand, bodies inflated within a size limit. Each load ends in finished(), from the event
// loop, with the page's bytes, the charset its reply declared and its final address, or the
// reason there is none; a load started while another runs replaces it, and the older one
// says nothing more. What a page means is not the loader's business: it parses nothing.
//
// Bodies come in gzip (one member or several; what follows the last is ignored) or deflate
// (with or without the zlib wrapper), inflated as they arrive within the size limit.
//
// TLS certificates are verified against the system's roots and those in the file that
// SSL_CERT_FILE names; an unverified certificate fails the load, never ignored.
//
// A failed load's error is the HTTP status for answers of 400 and above, and otherwise a
// negative Failure. From QNetworkReply::NetworkError:
//   ConnectionRefusedError                          -> ConnectionRefused (-1)
//   HostNotFoundError                               -> HostNotFound (-2)
//   TimeoutError; the whole load over time;
//   a reply header not ended within HeaderTimeoutMs -> Timeout (-3)
//   SslHandshakeFailedError (certificate refused)   -> Tls (-4)
//   more than MaxRedirects redirects                -> TooManyRedirects (-5)
//   a body over the size limit                      -> BodyTooLarge (-6)
//   RemoteHostClosedError (also a cut-off body)     -> ConnectionClosed (-7)
//   Proxy*Error, UnknownProxyError                  -> Proxy (-8)
//   not http(s) or no host (also a redirect there);
//   ProtocolUnknownError, ProtocolInvalidOperation  -> BadAddress (-9)
//   anything else                                   -> Other (-10)
//   a redirect that leaves https, or a 307/308 that
//   would send the form body to another origin
//   (the same host over https is followed)          -> UnsafeRedirect (-11)
//   a redirect without a Location (Qt drops all the
//   headers of a reply with more than 100), or a body
//   that cannot be decoded                          -> BadReply (-12)
// Nothing is sent to the address of an unsafe redirect.
class PageLoader final : public QObject
{
    Q_OBJECT
public:
    enum Failure : int
    {
        ConnectionRefused = -1,
        HostNotFound = -2,
        Timeout = -3,
        Tls = -4,
        TooManyRedirects = -5,
        BodyTooLarge = -6,
        ConnectionClosed = -7,
        Proxy = -8,
        BadAddress = -9,
        Other = -10,
        UnsafeRedirect = -11,
        BadReply = -12,
    };

    // How a load ended: the page, or why there is none.
    struct Result
    {
        // The final address after redirects; for a failure, the address that failed (for an
        // unsafe redirect, its target).
        QUrl address;
        // 0 for a page; an HTTP status of 400 and above, or a negative Failure.
        int error = 0;
        // The page's body, inflated; empty on failure (and for an empty page).
        QByteArray body;
        // The charset parameter of the reply's Content-Type, without quotes; may be empty.
        QByteArray charset;

        bool ok() const { return error == 0; }
    };

    static constexpr int DefaultTimeoutMs = 30000;
    static constexpr int DefaultHeaderTimeoutMs = 10000;
    static constexpr qint64 DefaultMaxBodyBytes = qint64(8) * 1024 * 1024;
    static constexpr int MaxRedirects = 20;

    explicit PageLoader(QObject *parent = nullptr);
    ~PageLoader() override;
    PageLoader(const PageLoader &) = delete;
    PageLoader &operator=(const PageLoader &) = delete;

    // Loads an address with GET.
    void get(const QUrl &url);
    // Loads an address with a POST of body. The loader keeps a copy of the body and
    // overwrites it once the post was answered or given up.
    void post(const QUrl &url, const QByteArray &body, const QByteArray &contentType);

    // True from get() or post() until finished().
    bool isBusy() const;

    // For tests and benchmarks.
    void setTimeoutMs(int ms);
    void setHeaderTimeoutMs(int ms);
    void setMaxBodyBytes(qint64 bytes);
    QNetworkAccessManager *networkAccessManager() const;

signals:
    // A load ended.
    void finished(const PageLoader::Result &result);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
