// The controller between the poller and the person: what it asks, when, what a login it
// passes on does to what is known, and how the run ends while the person is in the middle of
// something. The real controller against the demo host, with the dialogs answered in-process.
#include "app/aboutdialog.h"
#include "app/controller.h"
#include "client/poller.h"
#include "model/noticepause.h"
#include "tests/support/animationclock.h"
#include "tests/support/controllerharness.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"
#include "ui/commandactions.h"
#include "ui/noticepopup.h"
#include "ui/statusstrip.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

int statInt(DemoHost &host, const char *name)
{
    return host.stats().value(QLatin1String(name)).toInt(-1);
}

// As a modal dialog does: the person's answer comes from a loop of its own.
void waitInANestedLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

class TestController final : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempConfigHome> m_home;

private slots:
    void init() { m_home = std::make_unique<TempConfigHome>(); }
    void cleanup() { m_home.reset(); }

    // The password was changed on the web while the strip's menu is open: the silent login
    // is refused, the dialog comes up over the menu, and Cancel ends the run. Every loop
    // returns into objects that still exist, and the run ends at once.
    void cancelledLoginWhileTheMenuIsOpenEndsTheRun()
    {
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        ControllerHarness frame;
        host.enterAccount(frame.account, frame.settings, 3600);
        frame.start(false);
        QTRY_COMPARE(frame.poller.loginState(), LoginState::LoggedIn);
        QTRY_VERIFY(!frame.poller.isBusy());
        QVERIFY(host.setPassword("changed on the web"));
        QVERIFY(host.expireSessions());

        QPointer<StatusStrip> strip = frame.controller.strip();
        QPointer<QMenu> menu;
        bool menuOpen = false;
        // As the application does; this loop stands for its main loop.
        connect(&frame.controller, &Controller::ended, qApp, &QCoreApplication::quit);
        frame.prompter.answerLogin = [](Account &) -> std::optional<LoginChoice> {
            waitInANestedLoop(50);
            return std::nullopt;
        };
        // The log says why the dialog came and why the run ended.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^login refused")));
        QTest::ignoreMessage(QtWarningMsg, "the login dialog was cancelled; Ormix ends");
        QTimer::singleShot(0, strip, [&] {
            // Runs inside the menu's loop: the next poll finds the session gone.
            QTimer::singleShot(0, strip, [&] {
                menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
                menuOpen = menu && menu->isVisible();
                frame.poller.pollNow();
            });
            QTest::mouseClick(strip, Qt::RightButton, {}, QPoint(60, 11));
        });
        // Never left hanging if the run does not end.
        QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(2); });
        QCOMPARE(QCoreApplication::exec(), 0);

        QVERIFY(menuOpen);
        QCOMPARE(frame.prompter.loginDialogs, 1);
        QCOMPARE(frame.ended, 1);
        // Gone once the loops that ran on them returned.
        QVERIFY(!strip);
        QVERIFY(!menu);
        QCOMPARE(statInt(host, "loginPosts"), 2);
    }

    // A typed login that cannot reach the host: the box that says so closes as the dialog
    // comes back, so it covers none of the fields the person is to correct.
    void errorBoxClosesWhenTheLoginDialogReturns()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString blogUrl = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        ControllerHarness frame;
        frame.account.blogUrl = blogUrl.toStdString();
        frame.account.id = "owner";
        frame.account.setPassword("pw");
        frame.start(true);
        QTRY_COMPARE(frame.prompter.loginDialogs, 1);
        QCOMPARE(frame.prompter.errors.size(), 1);
        QCOMPARE(frame.prompter.errorOpenAtLogin, QList<bool>{false});
        QCOMPARE(frame.ended, 1);
    }

    // The password stopped working mid-run and the person logs into another blog in the
    // dialog that comes back: that blog starts afresh. The first blog's lit boxes go dark,
    // its waiting notice goes, and the new blog's first reading announces nothing, though
    // its lists differ from the first blog's in every link and at the top.
    void loginIntoAnotherBlogStartsAfresh()
    {
        DemoHost first;
        DemoHost second;
        QVERIFY2(first.isRunning(), qPrintable(first.errorString()));
        QVERIFY2(second.isRunning(), qPrintable(second.errorString()));
        ControllerHarness frame;
        first.enterAccount(frame.account, frame.settings, 3600);
        frame.start(false);
        QTRY_COMPARE(frame.poller.loginState(), LoginState::LoggedIn);
        StatusStrip *strip = frame.controller.strip();
        QVERIFY(strip);
        // The notice holds its first announcement, so the next one of another kind waits.
        AnimationClock clock;
        QList<ItemKind> announced;
        connect(&frame.model, &DashboardModel::announced, this,
                [&](ItemKind kind, const RecentItem &) { announced << kind; });

        first.addItem(DemoHost::Comment, QStringLiteral("첫 블로그 댓글"), QStringLiteral("/1"));
        first.addItem(DemoHost::Guestbook, QStringLiteral("첫 블로그 방명록"),
                      QStringLiteral("/g"));
        QTRY_VERIFY(!frame.poller.isBusy());
        frame.poller.pollNow();
        QTRY_COMPARE(announced, QList<ItemKind>({ItemKind::Comment, ItemKind::Guestbook}));
        QVERIFY(frame.model.isNew(ItemKind::Comment) && frame.model.isNew(ItemKind::Guestbook));
        QCOMPARE(strip->notice()->accessibleName(), NoticePopup::heading(ItemKind::Comment));

        second.addItem(DemoHost::Comment, QStringLiteral("둘째 블로그 댓글"), QStringLiteral("/2"));
        frame.prompter.answerLogin = [&](Account &account) -> std::optional<LoginChoice> {
            second.enterAccount(account, frame.settings, 3600);
            return LoginChoice{};
        };
        QVERIFY(first.setPassword("changed on the web"));
        QVERIFY(first.expireSessions());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^login refused")));
        frame.poller.pollNow();
        QTRY_VERIFY(frame.poller.loginState() == LoginState::LoggedIn &&
                    frame.model.items(ItemKind::Comment).front().text == "둘째 블로그 댓글");
        QCOMPARE(frame.prompter.loginDialogs, 1);
        QVERIFY(!frame.model.isNew(ItemKind::Comment) && !frame.model.isNew(ItemKind::Guestbook));
        // The first blog's guestbook entry waits no more: once the comment's notice is
        // gone, nothing rises.
        clock.advanceBy(10000);
        QVERIFY(!strip->notice()->isVisible());
        // The next reading of the new blog is compared with its first.
        QTRY_VERIFY(!frame.poller.isBusy());
        second.addItem(DemoHost::Guestbook, QStringLiteral("둘째 블로그 방명록"),
                       QStringLiteral("/h"));
        frame.poller.pollNow();
        QTRY_COMPARE(announced.size(), 3);
        QCOMPARE(announced.last(), ItemKind::Guestbook);
        QVERIFY(!frame.model.isNew(ItemKind::Comment));
    }

    // The menus' commands as the person uses them on a running program: check now polls at
    // once but not again within a few seconds; a pause keeps what arrives on the boxes, is
    // there after a restart, and announces nothing of it once resumed; mark all read unlights
    // everything; the dashboard opens in the browser.
    void commandsOfTheMenus()
    {
        UrlRecorder browser;
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        auto frame = std::make_unique<ControllerHarness>();
        host.enterAccount(frame->account, frame->settings, 3600);
        qint64 clockMs = 1000000;
        frame->poller.resumeDetector().setClocks([&] { return clockMs; }, [&] { return clockMs; });
        frame->start(false);
        QTRY_VERIFY(frame->poller.loginState() == LoginState::LoggedIn && !frame->poller.isBusy());
        CommandActions *commands = frame->controller.commands();
        QVERIFY(commands);
        QList<ItemKind> announced;
        connect(&frame->model, &DashboardModel::announced, this,
                [&](ItemKind kind, const RecentItem &) { announced << kind; });

        const int before = statInt(host, "dashboardRequests");
        commands->checkNow->trigger();
        QTRY_VERIFY(statInt(host, "dashboardRequests") == before + 1 && !frame->poller.isBusy());
        clockMs += Poller::CheckNowGapMs - 1;
        commands->checkNow->trigger();
        QTest::qWait(200);
        QCOMPARE(statInt(host, "dashboardRequests"), before + 1);
        clockMs += 1;
        commands->checkNow->trigger();
        QTRY_VERIFY(statInt(host, "dashboardRequests") == before + 2 && !frame->poller.isBusy());

        // Paused: the comment lights R and says nothing.
        QVERIFY(!commands->resume->isEnabled());
        commands->pauseHour->trigger();
        QVERIFY(frame->model.isPaused());
        QVERIFY(commands->resume->isEnabled());
        const QString stored = frame->settings.value(Settings::PauseUntil);
        QVERIFY(!stored.isEmpty());
        host.addItem(DemoHost::Comment, QStringLiteral("회의 중 댓글"), QStringLiteral("/m"));
        frame->poller.pollNow();
        QTRY_VERIFY(frame->model.isNew(ItemKind::Comment));
        QVERIFY(announced.isEmpty());
        QVERIFY(!frame->controller.strip()->notice()->isVisible());

        // A restart in the middle of it: still paused, until the same time.
        frame->controller.end();
        frame = std::make_unique<ControllerHarness>();
        host.enterAccount(frame->account, frame->settings, 3600);
        connect(&frame->model, &DashboardModel::announced, this,
                [&](ItemKind kind, const RecentItem &) { announced << kind; });
        frame->start(false);
        QVERIFY(frame->model.isPaused());
        QCOMPARE(frame->settings.value(Settings::PauseUntil), stored);
        commands = frame->controller.commands();
        QVERIFY(commands->resume->isEnabled());
        QTRY_VERIFY(frame->poller.loginState() == LoginState::LoggedIn && !frame->poller.isBusy());
        host.addItem(DemoHost::Guestbook, QStringLiteral("방명록"), QStringLiteral("/g"));
        commands->resume->trigger();
        QVERIFY(!frame->model.isPaused());
        QCOMPARE(frame->settings.value(Settings::PauseUntil), QString());
        frame->poller.pollNow();
        QTRY_COMPARE(announced, QList<ItemKind>{ItemKind::Guestbook});

        commands->markAllRead->trigger();
        for (const ItemKind kind : AllItemKinds)
            QVERIFY(!frame->model.isNew(kind));
        QVERIFY(!frame->controller.strip()->notice()->isVisible());

        commands->openDashboard->trigger();
        QCOMPARE(browser.opened(), QStringList{host.dashboardUrl().toString()});

        // No browser takes the page: said in the log and the strip's tooltip, until a poll
        // reads.
        const QString failed = QStringLiteral("웹 브라우저를 시작하지 못했습니다");
        StatusStrip *strip = frame->controller.strip();
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("openUrl")));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral(
                                 "^the web browser could not be started for .*/dashboard")));
        commands->openDashboard->trigger();
        QVERIFY2(strip->toolTip().contains(failed), qPrintable(strip->toolTip()));
        QVERIFY(!frame->poller.isBusy());
        frame->poller.pollNow();
        QTRY_VERIFY(!strip->toolTip().contains(failed));
        QCOMPARE(browser.opened().size(), 1);
    }

    // The about box names the version that --version and the package name.
    void aboutBoxNamesTheBuildsVersion()
    {
        AboutDialog about;
        QStringList texts;
        for (const QLabel *label : about.findChildren<QLabel *>())
            texts << label->text();
        QVERIFY2(texts.contains(QStringLiteral("Ormix 버전 " ORMIX_VERSION_TEXT)),
                 qPrintable(texts.join(QLatin1Char('|'))));
    }
};

QTEST_MAIN(TestController)
#include "tst_controller.moc"
