#pragma once

#include <string>

// Events of the browser control, delivered from the event loop (never from inside
// a network callback), so a handler may open a modal dialog.
class IHtmlkSink
{
public:
    virtual ~IHtmlkSink() = default;
    // A page finished loading; its document is the control's current document.
    virtual void OnDocumentComplete() = 0;
    // A download finished (every navigation, successful or not).
    virtual void OnDownloadComplete() = 0;
    // A navigation failed. statusCode is the HTTP status (>= 400) or a negative
    // network failure code of CHtmlCtrl. The control then shows its own error page.
    virtual void OnNavigateError(const std::string &url, const std::string &frameName,
                                 int statusCode, bool &cancel) = 0;
};
