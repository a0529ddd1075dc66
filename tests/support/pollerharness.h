#pragma once

// The poller over its own account and model, with what the application does for it played
// by the test: a login dialog answered by answerLogin, and the one error box, recorded.
// Header only: only tests that link the client include it.
#include "client/poller.h"
#include "state/account.h"
#include "state/dashboardmodel.h"

#include <QList>
#include <QStringList>
#include <QTimer>

#include <functional>

class PollerHarness
{
public:
    PollerHarness() : poller(account, model)
    {
        // Queued, as the application runs the dialog from the event loop.
        QObject::connect(
            &poller, &Poller::loginNeeded, &poller,
            [this](bool keepTyped) {
                ++loginDialogs;
                keptTyped << keepTyped;
                if (answerLogin && answerLogin()) {
                    poller.setCredentialsTyped(true);
                    poller.logIn();
                } else {
                    ++closes;
                }
            },
            Qt::QueuedConnection);
        QObject::connect(&poller, &Poller::loadFailed, &poller, [this](const QString &text) {
            // One box at a time; with closeErrorsAfterMs set, each is dismissed that long
            // after it opens, as a user would.
            if (errorOpen)
                return;
            errors << text;
            errorOpen = true;
            if (closeErrorsAfterMs >= 0)
                QTimer::singleShot(closeErrorsAfterMs, &poller, [this] { errorOpen = false; });
        });
        QObject::connect(&model, &DashboardModel::readingChanged, &poller, [this] {
            if (errorOpen)
                ++closedByRecovery;
            errorOpen = false;
        });
        QObject::connect(&model, &DashboardModel::pollStatusChanged, &poller,
                         [this] { ++pollsReported; });
    }

    Account account;
    DashboardModel model;
    Poller poller;

    // Fills the account as the dialog would; false cancels, which ends the run.
    std::function<bool()> answerLogin;
    int loginDialogs = 0;
    QList<bool> keptTyped;
    int closes = 0;
    QStringList errors;
    bool errorOpen = false;
    int closeErrorsAfterMs = -1;
    int closedByRecovery = 0;
    int pollsReported = 0;
};
