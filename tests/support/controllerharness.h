#pragma once

// The real controller over its own account, model and settings, with the person at the
// screen played by the test: the login dialog answered by answerLogin, the other dialogs
// cancelled at once, the error box recorded. Header only: only tests that link the app
// include it, and they run with a QApplication (the strip is a window).
#include "app/controller.h"
#include "app/prompter.h"
#include "client/poller.h"
#include "model/account.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"

#include <QAbstractEventDispatcher>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

class RecordingPrompter final : public Prompter
{
public:
    std::optional<LoginChoice> askLogin(Account &account, Settings &,
                                        const std::optional<LoginAgain> &again) override
    {
        ++loginDialogs;
        if (again)
            asked << *again;
        errorOpenAtLogin << errorOpen;
        return answerLogin ? answerLogin(account) : std::nullopt;
    }
    void askSettings(Settings &) override {}
    void showAbout() override {}

    // With closeErrorsAfterMs set, each box is dismissed that long after it opens, as a user
    // would.
    void openErrorBox(const QString &text) override
    {
        errors << text;
        errorOpen = true;
        if (closeErrorsAfterMs >= 0)
            QTimer::singleShot(closeErrorsAfterMs, &m_context, [this] { errorOpen = false; });
    }
    void closeErrorBox() override
    {
        if (errorOpen)
            ++closedByProgram;
        errorOpen = false;
    }
    bool isErrorBoxOpen() const override { return errorOpen; }

    // Fills the account as the dialog would and gives the choice; nothing cancels.
    std::function<std::optional<LoginChoice>(Account &)> answerLogin;
    int loginDialogs = 0;
    // What each login dialog after a failed login was to show.
    QList<LoginAgain> asked;
    // Whether the error box was open as each login dialog came up.
    QList<bool> errorOpenAtLogin;
    QStringList errors;
    bool errorOpen = false;
    int closeErrorsAfterMs = -1;
    int closedByProgram = 0;

private:
    QObject m_context;
};

class ControllerHarness
{
public:
    ControllerHarness()
        : controller(account, model, settings, prompter), poller(*controller.poller())
    {
        QObject::connect(&controller, &Controller::ended, &controller, [this] { ++ended; });
        QObject::connect(&model, &DashboardModel::pollStatusChanged, &controller,
                         [this] { ++pollsReported; });
    }

    // Shows the strip and sends the first login, typed into the dialog a moment ago or not.
    void start(bool typed = true)
    {
        controller.start(typed ? std::optional<LoginChoice>(LoginChoice{}) : std::nullopt);
    }

    // The poll timer's period as the event loop holds it, or none while nothing polls: the
    // poller's only timer of its own.
    std::optional<int> pollTimerMs() const
    {
        const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&poller);
        if (timers.isEmpty())
            return std::nullopt;
        return timers.first().interval;
    }

    Account account;
    DashboardModel model;
    Settings settings;
    RecordingPrompter prompter;
    Controller controller;
    // Gone once the controller ended.
    Poller &poller;
    int ended = 0;
    int pollsReported = 0;
};
