#pragma once

#include "client/iviewhost.h"
#include "ui/statuswindow.h"

#include <memory>

// The view's host for benchmarks: the real status window (with its notice and list),
// no dialogs; a login dialog or an error box would spoil the figures, so they count.
class BenchHost final : public IViewHost
{
public:
    void HideFrame() override {}
    IStatusWindow *CreateStatusWindow(const QRect &rect) override
    {
        m_status = std::make_unique<COrmixWnd>();
        m_status->Create(rect);
        return m_status.get();
    }
    bool RunLoginDialog(bool) override
    {
        ++loginDialogs;
        return false;
    }
    void ShowNavigationError(const QString &) override { ++errors; }
    bool IsNavigationErrorShowing() const override { return false; }
    void CloseNavigationError() override {}
    void CloseMainFrame() override {}

    COrmixWnd *status() const { return m_status.get(); }
    int loginDialogs = 0;
    int errors = 0;

private:
    std::unique_ptr<COrmixWnd> m_status;
};
