#pragma once

// The view's callback interface, registered with the store so that windows and
// dialogs can reach back to the polling driver.
class ITHViewer
{
public:
    virtual ~ITHViewer() = default;
    // Restarts the poll timer with the store's interval; does nothing before the first login.
    virtual void RestartTimer() = 0;
    // Brings the status window up to date with the store.
    virtual void RefreshStatus() = 0;
};
