#pragma once

#include "client/poller.h"
#include "model/account.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"
#include "tests/support/demohost.h"
#include "ui/statusstrip.h"
#include "ui/windowlook.h"

#include <QRect>

// The poller and the real status strip (with its notice and list) over one model, as the
// program runs them, logged in to the demo host. No dialogs: a login dialog or an error
// box would spoil the figures, so they are counted instead.
class BenchSession
{
public:
    BenchSession(const DemoHost &host, int intervalSeconds)
        : poller(account, model, settings), strip(model, settings)
    {
        host.enterAccount(account, settings, intervalSeconds);
        strip.showAt(QRect(100, 100, 150, 23));
        QObject::connect(&poller, &Poller::loginNeeded, &poller, [this] { ++loginDialogs; });
        QObject::connect(&poller, &Poller::loadFailed, &poller, [this] { ++errors; });
    }

    // First, as the program does before it makes a window: NanumGothic stands for 돋움.
    struct KoreanFace
    {
        KoreanFace() { WindowLook::installKoreanFontSubstitution(); }
    } koreanFace;
    Settings settings;
    Account account;
    DashboardModel model;
    Poller poller;
    StatusStrip strip;
    int loginDialogs = 0;
    int errors = 0;
};
