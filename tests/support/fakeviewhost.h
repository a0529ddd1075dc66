#pragma once

// Stand-ins for the frame and status window the polling driver talks to, for tests that run
// the driver without widgets. Header only: only tests that link the client include it.
#include "client/istatuswindow.h"
#include "client/iviewhost.h"

#include <QDateTime>
#include <QList>
#include <QRect>
#include <QStringList>
#include <QTimer>

#include <functional>

class FakeStatus final : public IStatusWindow
{
public:
    void Refresh() override { ++refreshes; }
    void SetTransparency(int percent) override { transparency = percent; }
    void SetPollStatus(const QDateTime &success, const QString &failure) override
    {
        lastSuccess = success;
        lastFailure = failure;
    }
    int refreshes = 0;
    int transparency = -1;
    QDateTime lastSuccess;
    QString lastFailure;
};

class FakeViewHost final : public IViewHost
{
public:
    void HideFrame() override { ++hides; }
    IStatusWindow *CreateStatusWindow(const QRect &rect) override
    {
        statusRect = rect;
        return &status;
    }
    bool RunLoginDialog(bool keepTyped) override
    {
        ++loginDialogs;
        keptTyped << keepTyped;
        return answerLogin ? answerLogin() : false;
    }
    // Counts a box that would stack on an open one; with closeErrorsAfterMs set, each box
    // is dismissed that long after it opens, as a user would.
    void ShowNavigationError(const QString &message) override
    {
        if (errorOpen)
            ++stackedBoxes;
        errors << message;
        errorOpen = true;
        if (closeErrorsAfterMs >= 0)
            QTimer::singleShot(closeErrorsAfterMs, [this] { errorOpen = false; });
    }
    bool IsNavigationErrorShowing() const override { return errorOpen; }
    void CloseNavigationError() override
    {
        if (errorOpen)
            ++closedByRecovery;
        errorOpen = false;
    }
    void CloseMainFrame() override { ++closes; }

    FakeStatus status;
    QRect statusRect;
    int hides = 0;
    int loginDialogs = 0;
    int closes = 0;
    int stackedBoxes = 0;
    int closedByRecovery = 0;
    QStringList errors;
    QList<bool> keptTyped;
    bool errorOpen = false;
    int closeErrorsAfterMs = -1;
    std::function<bool()> answerLogin;
};
