#pragma once

#include <QRect>
#include <QString>

class IStatusWindow;

// What the polling driver needs of the application around it: windows and dialogs
// live above the client layer, so the view reaches them through this interface.
class IViewHost
{
public:
    virtual ~IViewHost() = default;
    // Hides the main frame (the view's private hide-frame message).
    virtual void HideFrame() = 0;
    // Creates and shows the status window at rect; the host owns it.
    virtual IStatusWindow *CreateStatusWindow(const QRect &rect) = 0;
    // Runs the login dialog modally; true when the user confirmed. keepTyped: the dialog
    // shows what the store holds (what was typed last, password included) instead of the
    // remembered values.
    virtual bool RunLoginDialog(bool keepTyped) = 0;
    // Shows the navigation error box (not blocking); IsNavigationErrorShowing is
    // true until the user or CloseNavigationError closes it.
    virtual void ShowNavigationError(const QString &message) = 0;
    virtual bool IsNavigationErrorShowing() const = 0;
    // Closes the box, if one is open: the failure it reports no longer holds.
    virtual void CloseNavigationError() = 0;
    // Asks the main frame to close (queued); the run ends when it is handled.
    virtual void CloseMainFrame() = 0;
    // A posted login reached the dashboard: the store's credentials are good.
    virtual void LoginSucceeded() {}
};
