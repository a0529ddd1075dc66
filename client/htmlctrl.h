#pragma once

#include "document/htmldocument.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class IHtmlkSink;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// The program's browser control: loads pages over HTTP(S) with an in-memory cookie jar,
// follows redirects as a browser does and keeps the loaded page as an HtmlDocument.
// Events reach the sink from the event loop, one document-complete per loaded page.
//
// A successful load reports OnDownloadComplete, then OnDocumentComplete. A failed one reports
// OnNavigateError (the failed hop's address, status), OnDownloadComplete, and then, unless the
// sink set cancel, loads a small built-in error page (no "counter" or "new") and reports
// OnDocumentComplete for it; GetLocationURL then gives the failed address. A navigation
// started while another runs cancels it: the older one reports nothing more.
//
// Pages are parsed on a worker thread, so the event loop never waits for a large or deeply
// nested page. The previous document is released (on that thread) before the next is built,
// and GetHtmlDocument gives null in between; a parse whose navigation was replaced meanwhile
// is dropped. A page that would cost too much to parse (HtmlDocument::parse) is logged with
// the reason and delivered as an empty document. Destroying the control waits a moment at
// most: a parse still under way finishes on its own thread and is then dropped.
//
// Bodies come in gzip (one member or several; what follows the last is ignored) or deflate
// (with or without the zlib wrapper), inflated as they arrive within the size limit.
//
// TLS certificates are verified against the system's roots and those in the file that
// SSL_CERT_FILE names; an unverified certificate fails the navigation, never ignored.
//
// The status passed to OnNavigateError is the HTTP status for answers of 400 and above, and
// otherwise a negative NavigationFailure. From QNetworkReply::NetworkError:
//   ConnectionRefusedError                          -> FailureConnectionRefused (-1)
//   HostNotFoundError                               -> FailureHostNotFound (-2)
//   TimeoutError; the whole navigation over time;
//   a reply header not ended within HeaderTimeoutMs -> FailureTimeout (-3)
//   SslHandshakeFailedError (certificate refused)   -> FailureTls (-4)
//   more than MaxRedirects redirects                -> FailureTooManyRedirects (-5)
//   a body over the size limit                      -> FailureBodyTooLarge (-6)
//   RemoteHostClosedError (also a cut-off body)     -> FailureConnectionClosed (-7)
//   Proxy*Error, UnknownProxyError                  -> FailureProxy (-8)
//   not http(s) or no host (also a redirect there);
//   ProtocolUnknownError, ProtocolInvalidOperation  -> FailureBadAddress (-9)
//   anything else                                   -> FailureOther (-10)
//   a redirect that leaves https, or a 307/308 that
//   would send the form body to another origin
//   (the same host over https is followed)          -> FailureUnsafeRedirect (-11)
//   a redirect without a Location (Qt drops all the
//   headers of a reply with more than 100), or a body
//   that cannot be decoded                          -> FailureBadReply (-12)
// Nothing is sent to the address of an unsafe redirect. The address passed on for -11 is
// the redirect's target.
class CHtmlCtrl : public QObject
{
    Q_OBJECT
public:
    enum NavigationFailure : int
    {
        FailureConnectionRefused = -1,
        FailureHostNotFound = -2,
        FailureTimeout = -3,
        FailureTls = -4,
        FailureTooManyRedirects = -5,
        FailureBodyTooLarge = -6,
        FailureConnectionClosed = -7,
        FailureProxy = -8,
        FailureBadAddress = -9,
        FailureOther = -10,
        FailureUnsafeRedirect = -11,
        FailureBadReply = -12,
    };

    static constexpr int DefaultTimeoutMs = 30000;
    static constexpr int DefaultHeaderTimeoutMs = 10000;
    static constexpr qint64 DefaultMaxBodyBytes = qint64(8) * 1024 * 1024;
    static constexpr int MaxRedirects = 20;

    explicit CHtmlCtrl(QObject *parent = nullptr);
    ~CHtmlCtrl() override;
    CHtmlCtrl(const CHtmlCtrl &) = delete;
    CHtmlCtrl &operator=(const CHtmlCtrl &) = delete;

    // Prepares the control and remembers the sink (not owned).
    bool CreateFromStatic(IHtmlkSink *sink);

    // Loads an address with GET. A navigation still running is cancelled.
    void Navigate(const std::string &url);
    // Loads an address with POST data and extra headers ("Name: value\n" lines). The control
    // keeps a copy of the data and overwrites it once the post was answered or given up.
    void Navigate2(const std::string &url, const QByteArray &postData, const std::string &headers);
    // Forgets any cached copy of the address, so the next load reaches the server.
    void DeleteUrlCacheEntry(const std::string &url);

    // The final address after redirects; after a failed navigation, the address that failed.
    std::string GetLocationURL() const;
    // The current document; null before the first completed load.
    const HtmlDocument *GetHtmlDocument() const;
    // True from a Navigate call until its events are delivered.
    bool IsBusy() const;
    // The ids of the elements the reader of the pages looks up; the pages are then parsed
    // only as far as reading those needs (HtmlDocument::parse). Empty: whole pages.
    void SetDocumentIds(std::vector<std::string> ids);

    // Parses left running by controls destroyed meanwhile. While there are any, the end of
    // the program should not tear down what they may still use (statics, the heap).
    static int orphanedParses();

    // For tests and benchmarks.
    void setTimeoutMs(int ms);
    void setHeaderTimeoutMs(int ms);
    void setMaxBodyBytes(qint64 bytes);
    // Runs on the parsing thread before each parse.
    void setParseHook(std::function<void()> hook);
    QNetworkAccessManager *networkAccessManager() const;

signals:
    // Emitted by the parsing thread when a document is ready to be taken.
    void documentParsed(QPrivateSignal);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
