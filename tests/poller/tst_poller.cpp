#include "blog/blogaddress.h"
#include "client/poller.h"
#include "client/reachability.h"
#include "tests/support/controllerharness.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <functional>
#include <optional>

namespace {

int statInt(DemoHost &host, const char *name)
{
    return host.stats().value(QLatin1String(name)).toInt(-1);
}

// The program's own warnings while installed, "category: text"; the rest goes on.
QStringList g_warnings;
QtMessageHandler g_nextHandler = nullptr;
void recordWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QLatin1String category(context.category ? context.category : "");
    if (type == QtWarningMsg && category.startsWith(QLatin1String("ormix.")))
        g_warnings << category + QLatin1String(": ") + text;
    g_nextHandler(type, context, text);
}

} // namespace

class TestPoller final : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempConfigHome> m_home;

    // What the login dialog leaves in the account and, the interval, in the settings.
    static void credentials(ControllerHarness &frame, const QString &blogUrl, const QByteArray &id,
                            const QByteArray &pw, int interval = 1)
    {
        frame.account.blogUrl = blogUrl.toStdString();
        frame.account.id = id.toStdString();
        frame.account.setPassword(pw.toStdString());
        frame.settings.set(Settings::PollInterval, interval);
    }

private slots:
    void init() { m_home = std::make_unique<TempConfigHome>(); }
    void cleanup() { m_home.reset(); }

    void loginThenPollsReachTheServer()
    {
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        host.setCount(15);
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        {
            Poller &poller = frame.poller;
            frame.start();
            QCOMPARE(poller.loginState(), LoginState::LoginPosted);
            QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
            QCOMPARE(frame.pollTimerMs(), 1000);
            QTRY_COMPARE(frame.model.todayCount(), 15);
            QVERIFY(frame.model.lastSuccess().isValid());

            const int first = statInt(host, "dashboardRequests");
            host.setCount(16);
            QTRY_VERIFY_WITH_TIMEOUT(statInt(host, "dashboardRequests") >= first + 3, 6000);
            QTRY_COMPARE(frame.model.todayCount(), 16);
            QCOMPARE(statInt(host, "loginPosts"), 1);
            QCOMPARE(frame.prompter.loginDialogs, 0);
            QVERIFY(frame.prompter.errors.isEmpty());
        }
    }

    void passwordReachesTheHostIntact()
    {
        const QByteArray password = "a&b=c+d%e f한글%2B";
        DemoHost host;
        QVERIFY(host.setPassword(password));
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", password);
        Poller &poller = frame.poller;
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QCOMPARE(frame.prompter.loginDialogs, 0);
        const QJsonObject fields = host.stats()
                                       .value(QLatin1String("lastLogin"))
                                       .toObject()
                                       .value(QLatin1String("fields"))
                                       .toObject();
        QCOMPARE(fields.value(QLatin1String("password")).toString(), QString::fromUtf8(password));
        QCOMPARE(fields.value(QLatin1String("goPortal")).toString(), QStringLiteral("false"));
    }

    void wrongPasswordAsksAgain()
    {
        DemoHost host;
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", "wrong");
        const QString right = host.password();
        frame.prompter.answerLogin = [&](Account &account) {
            // The user corrects the password in the dialog, which fills the account.
            account.setPassword(right.toStdString());
            return LoginChoice{};
        };
        Poller &poller = frame.poller;
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QCOMPARE(frame.prompter.loginDialogs, 1);
        QCOMPARE(frame.prompter.asked.first().reason,
                 QStringLiteral("아이디 또는 비밀번호가 맞지 않습니다."));
        QCOMPARE(statInt(host, "loginPosts"), 2);
        QCOMPARE(frame.ended, 0);
    }

    void cancelInTheRepeatedLoginEndsWithoutPostingAgain()
    {
        DemoHost host;
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", "wrong");
        frame.start();
        QTRY_COMPARE(frame.prompter.loginDialogs, 1);
        QCOMPARE(frame.ended, 1);
        QVERIFY(!frame.controller.poller());
        QTest::qWait(300);
        QCOMPARE(statInt(host, "loginPosts"), 1);
    }

    void expiredSessionLogsInAgainSilently()
    {
        DemoHost host;
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        Poller &poller = frame.poller;
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QVERIFY(host.expireSessions());
        host.setCount(42);
        QTRY_VERIFY_WITH_TIMEOUT(statInt(host, "loginPosts") == 2, 5000);
        QTRY_COMPARE(frame.model.todayCount(), 42);
        QCOMPARE(poller.loginState(), LoginState::LoggedIn);
        QCOMPARE(frame.prompter.loginDialogs, 0);
        QVERIFY(frame.prompter.errors.isEmpty());
    }

    void passwordChangedOnTheHostBringsTheDialogBack()
    {
        DemoHost host;
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        Poller &poller = frame.poller;
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QVERIFY(host.setPassword("changed"));
        QVERIFY(host.expireSessions());
        frame.prompter.answerLogin = [](Account &account) {
            account.setPassword("changed");
            return LoginChoice{};
        };
        QTRY_COMPARE_WITH_TIMEOUT(frame.prompter.loginDialogs, 1, 5000);
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QCOMPARE(statInt(host, "loginPosts"), 3);
    }

    void blogUnderAPathLogsInAndPolls_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("capitals") << QStringLiteral("/MyBlog");
        QTest::newRow("characters of a query") << QStringLiteral("/My&Blog=1+2");
    }

    // A host that serves the blog under a path matches it case for case; the login's
    // requestURI must bring the login back there whatever the path holds.
    void blogUnderAPathLogsInAndPolls()
    {
        QFETCH(QString, path);
        DemoHost host({QStringLiteral("--blog-path"), path});
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        host.setCount(31);
        ControllerHarness frame;
        credentials(frame, host.blogUrl() + path, "owner", host.password().toUtf8(), 3600);
        Poller &poller = frame.poller;
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        // The first reading too: a poll asked for while it runs is skipped.
        QTRY_VERIFY(!poller.isBusy());
        host.setCount(32);
        QVERIFY(pollAndWait(poller, host));
        QTRY_COMPARE(frame.model.todayCount(), 32);
        QVERIFY(frame.model.lastFailure().isEmpty());
        QCOMPARE(frame.prompter.loginDialogs, 0);
        QVERIFY(frame.prompter.errors.isEmpty());
    }

    void euckrDashboardReadsTheSame()
    {
        DemoHost host;
        host.addItem(DemoHost::Comment, QStringLiteral("첫 댓글"), QStringLiteral("/1#c1"));
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        Poller &poller = frame.poller;
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QTRY_VERIFY(frame.model.newest(ItemKind::Comment));
        QCOMPARE(QString::fromStdString(frame.model.newest(ItemKind::Comment)->text),
                 QStringLiteral("첫 댓글"));

        host.addItem(DemoHost::Comment, QStringLiteral("똠방각하 댓글"), QStringLiteral("/2#c2"));
        const int before = statInt(host, "dashboardRequests");
        QVERIFY(host.injectFault(QStringLiteral("euckr"), -1));
        QTRY_VERIFY_WITH_TIMEOUT(statInt(host, "dashboardRequests") > before, 4000);
        QTRY_COMPARE(frame.model.newest(ItemKind::Comment)->text, std::string("똠방각하 댓글"));
        QCOMPARE(QString::fromStdString(frame.model.newest(ItemKind::Comment)->link),
                 host.url(QStringLiteral("/2#c2")).toString());
        QVERIFY(frame.prompter.errors.isEmpty());
    }

    void networkFailuresAreReported_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<int>("code");
        QTest::newRow("hung server") << QStringLiteral("delay") << qint64(5000) << -3;
        QTest::newRow("endless body") << QStringLiteral("endless") << qint64(0) << -6;
        QTest::newRow("redirect loop") << QStringLiteral("redirectloop") << qint64(0) << -5;
        QTest::newRow("server error") << QStringLiteral("status") << qint64(503) << 503;
    }

    void networkFailuresAreReported()
    {
        QFETCH(QString, fault);
        QFETCH(qint64, value);
        QFETCH(int, code);
        DemoHost host;
        host.setCount(7);
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        Poller &poller = frame.poller;
        poller.loader().setTimeoutMs(1500);
        poller.loader().setMaxBodyBytes(512 * 1024);
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QVERIFY(host.injectFault(fault, 1, value));
        QTRY_COMPARE_WITH_TIMEOUT(frame.prompter.errors.size(), 1, 8000);
        const QString expected = QStringLiteral("웹페이지 조회에 실패했습니다(%1), 오류 코드 (%2)")
                                     .arg(host.dashboardUrl().toString(), QString::number(code));
        if (fault != QLatin1String("redirectloop"))
            QCOMPARE(frame.prompter.errors.first(), expected);
        else
            QVERIFY(frame.prompter.errors.first().endsWith(QStringLiteral("오류 코드 (-5)")));
        QCOMPARE(frame.model.lastFailure(), frame.prompter.errors.first());
        // A failed poll has nothing to read: no new login, numbers kept.
        QCOMPARE(poller.loginState(), LoginState::LoggedIn);
        QCOMPARE(frame.model.todayCount(), 7);
        // Closing the box lets polling go on, and the next good page is read.
        host.setCount(8);
        frame.prompter.errorOpen = false;
        QTRY_COMPARE_WITH_TIMEOUT(frame.model.todayCount(), 8, 6000);
        QCOMPARE(statInt(host, "loginPosts"), 1);
    }

    // A page the reader cannot read in time is a failed reading: no box, the tooltip's
    // failure, the cause in the log, and the polls go on at their pace.
    void slowPageIsAFailedReading()
    {
        DemoHost host({QStringLiteral("--nest"), QStringLiteral("20000")});
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        QTest::ignoreMessage(
            QtWarningMsg,
            QRegularExpression(QStringLiteral(
                "^outage: the dashboard could not be read at .*: the page reader took "
                "longer than 50 ms$")));
        Poller &poller = frame.poller;
        poller.reader().setDeadlineMs(50);
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QTRY_COMPARE(frame.model.lastFailure(), QStringLiteral("대시보드를 읽지 못했습니다"));
        QVERIFY(!frame.model.lastSuccess().isValid());
        QVERIFY(frame.prompter.errors.isEmpty());
        const int first = statInt(host, "dashboardRequests");
        QTRY_VERIFY_WITH_TIMEOUT(statInt(host, "dashboardRequests") >= first + 2, 5000);
        // With time enough the same page reads, from a fresh reader.
        poller.reader().setDeadlineMs(60000);
        QTRY_VERIFY_WITH_TIMEOUT(frame.model.lastSuccess().isValid(), 60000);
    }

    void aLoginThatCannotReachTheHost_data()
    {
        QTest::addColumn<bool>("typed");
        QTest::addColumn<int>("status"); // the login post's answer; 0: the connection refused
        QTest::newRow("typed, refused") << true << 0;
        QTest::newRow("typed, server error") << true << 503;
        QTest::newRow("from the keyring, refused") << false << 0;
        QTest::newRow("from the keyring, server error") << false << 503;
        // Waiting, not refusing: too many requests, or the host timed out waiting for ours.
        QTest::newRow("from the keyring, too many requests") << false << 429;
        QTest::newRow("from the keyring, request timeout") << false << 408;
    }

    // A login that fails before the host answers with a page is an outage, not a refusal:
    // only someone who typed it a moment ago sees the dialog again, with what they typed.
    void aLoginThatCannotReachTheHost()
    {
        QFETCH(bool, typed);
        QFETCH(int, status);
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QStringList port = {QStringLiteral("--port"), QString::number(probe.serverPort())};
        probe.close();
        std::optional<DemoHost> host;
        if (status != 0) {
            host.emplace(port);
            QVERIFY(host->injectFault(QStringLiteral("loginstatus"), -1, status));
        }
        const QString blogUrl = QStringLiteral("http://127.0.0.1:") + port.last();
        ControllerHarness frame;
        credentials(frame, blogUrl, "owner", "demo");
        Poller &poller = frame.poller;
        frame.start(typed);
        QTRY_COMPARE(frame.prompter.errors.size(), 1);
        // The address as it is (the login's "%2F"s are no place for the code).
        QCOMPARE(frame.prompter.errors.first(),
                 QStringLiteral("웹페이지 조회에 실패했습니다(%1), 오류 코드 (%2)")
                     .arg(QString::fromStdString(blogaddress::loginAddress(blogUrl.toStdString())),
                          QString::number(status != 0 ? status : -1)));
        QCOMPARE(frame.model.lastFailure(), frame.prompter.errors.first());
        if (typed) {
            // Cancelled here, so the run ends; nothing is posted again.
            // The dialog comes back with what was typed and says what failed.
            QCOMPARE(frame.prompter.asked.size(), 1);
            QVERIFY(frame.prompter.asked.first().keepPassword);
            QCOMPARE(frame.prompter.asked.first().reason, frame.prompter.errors.first());
            QCOMPARE(frame.ended, 1);
            return;
        }
        // Retried at every poll with the same credentials, under the one box.
        QCOMPARE(poller.loginState(), LoginState::LoggedOut);
        QCOMPARE(frame.pollTimerMs(), 1000);
        QTRY_VERIFY_WITH_TIMEOUT(frame.pollsReported >= 3, 8000);
        QCOMPARE(frame.prompter.errors.size(), 1);
        QCOMPARE(frame.prompter.loginDialogs, 0);
        QCOMPARE(frame.account.password(), std::string("demo"));
        // The host is back: the next try logs in, reads, and the box goes by itself.
        if (host)
            QVERIFY(host->clearFaults());
        else
            host.emplace(port);
        QVERIFY2(host->isRunning(), qPrintable(host->errorString()));
        host->setCount(21);
        QTRY_COMPARE_WITH_TIMEOUT(poller.loginState(), LoginState::LoggedIn, 5000);
        QTRY_COMPARE(frame.model.todayCount(), 21);
        QVERIFY(!frame.prompter.errorOpen);
        QVERIFY(frame.model.lastFailure().isEmpty());
        QCOMPARE(frame.prompter.loginDialogs, 0);
        QCOMPARE(frame.ended, 0);
    }

    void dashboardFailingRightAfterTheLoginIsAFailedReading_data()
    {
        QTest::addColumn<bool>("typed");
        QTest::newRow("typed") << true;
        QTest::newRow("from the keyring") << false;
    }

    // The host took the login and sent it on to the dashboard, which failed: logged in, with
    // a failed reading. No dialog (the login was right), and the next polls read the
    // dashboard rather than log in again.
    void dashboardFailingRightAfterTheLoginIsAFailedReading()
    {
        QFETCH(bool, typed);
        DemoHost host;
        QVERIFY(host.injectFault(QStringLiteral("status"), -1, 503));
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        Poller &poller = frame.poller;
        frame.start(typed);
        QTRY_COMPARE(frame.prompter.errors.size(), 1);
        QCOMPARE(frame.prompter.errors.first(),
                 QStringLiteral("웹페이지 조회에 실패했습니다(%1), 오류 코드 (503)")
                     .arg(host.dashboardUrl().toString()));
        QCOMPARE(poller.loginState(), LoginState::LoggedIn);
        const int requests = statInt(host, "dashboardRequests");
        QTRY_VERIFY_WITH_TIMEOUT(statInt(host, "dashboardRequests") >= requests + 2, 5000);
        QCOMPARE(statInt(host, "loginPosts"), 1);
        QVERIFY(host.clearFaults());
        host.setCount(12);
        QTRY_COMPARE_WITH_TIMEOUT(frame.model.todayCount(), 12, 5000);
        QVERIFY(!frame.prompter.errorOpen);
        QCOMPARE(frame.prompter.loginDialogs, 0);
        QCOMPARE(statInt(host, "loginPosts"), 1);
    }

    // Polls driven by hand (interval of an hour), each waited for until its load is done.
    static bool pollAndWait(Poller &poller, DemoHost &host)
    {
        const int before = statInt(host, "dashboardRequests");
        poller.pollNow();
        return QTest::qWaitFor(
            [&] { return statInt(host, "dashboardRequests") > before && !poller.isBusy(); }, 8000);
    }

    void outageKeepsPollingUnderOneBoxThatClosesOnRecovery()
    {
        DemoHost host;
        host.setCount(3);
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8(), 3600);
        Poller &poller = frame.poller;
        frame.start();
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QTRY_VERIFY(!poller.isBusy());
        g_warnings.clear();
        g_nextHandler = qInstallMessageHandler(recordWarnings);
        QVERIFY(host.injectFault(QStringLiteral("status"), -1, 500));
        QVERIFY(pollAndWait(poller, host));
        QCOMPARE(frame.prompter.errors.size(), 1);
        QVERIFY(frame.prompter.errorOpen);
        // Three more polls with the box open all reach the host; none opens a second box.
        for (int i = 0; i < 3; ++i)
            QVERIFY2(pollAndWait(poller, host), "a poll was held back by the open box");
        QCOMPARE(frame.prompter.errors.size(), 1);
        QVERIFY(frame.prompter.errorOpen);
        QVERIFY(!frame.model.lastFailure().isEmpty());
        // The host is back: the next poll reads it and the box goes by itself.
        QVERIFY(host.clearFaults());
        host.setCount(4);
        QVERIFY(pollAndWait(poller, host));
        QTRY_COMPARE(frame.model.todayCount(), 4);
        QVERIFY(!frame.prompter.errorOpen);
        QCOMPARE(frame.prompter.closedByProgram, 1);
        QVERIFY(frame.model.lastFailure().isEmpty());
        QCOMPARE(frame.prompter.errors.size(), 1);
        QCOMPARE(statInt(host, "loginPosts"), 1);
        // Four failed polls and the recovery are two lines in the log: the start, with the
        // code and the address, and the end, with how long it lasted.
        qInstallMessageHandler(g_nextHandler);
        QCOMPARE(g_warnings.size(), 2);
        QVERIFY2(g_warnings.at(0).startsWith(QStringLiteral("ormix.network: outage: load failed "
                                                            "with code 500 at")),
                 qPrintable(g_warnings.at(0)));
        QVERIFY2(QRegularExpression(QStringLiteral("^ormix\\.poll: the dashboard reads again after "
                                                   "\\d+ s of failed polls$"))
                     .match(g_warnings.at(1))
                     .hasMatch(),
                 qPrintable(g_warnings.at(1)));
    }

    void extraPollWhenTheNetworkComesBackOrTheMachineWakes()
    {
        DemoHost host;
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8(), 3600);
        ReachabilitySource network;
        qint64 wall = 1'700'000'000'000;
        qint64 steady = 5'000;
        Poller &poller = frame.poller;
        poller.resumeDetector().setClocks([&wall] { return wall; }, [&steady] { return steady; });
        frame.start();
        poller.setReachabilitySource(&network);
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QTRY_VERIFY(!poller.isBusy());
        int requests = statInt(host, "dashboardRequests");
        const auto settled = [&] {
            return QTest::qWaitFor([&] { return !poller.isBusy(); }, 8000);
        };

        // The first report says nothing new; online again after offline polls at once (its
        // load is under way before the signal returns).
        emit network.reachabilityChanged(true);
        emit network.reachabilityChanged(false);
        QVERIFY(!poller.isBusy());
        emit network.reachabilityChanged(true);
        QVERIFY(poller.isBusy());
        QVERIFY(settled());
        QCOMPARE(statInt(host, "dashboardRequests"), ++requests);

        // A network that flaps within the poll period adds no second poll, however often.
        for (int i = 0; i < 10; ++i) {
            emit network.reachabilityChanged(false);
            emit network.reachabilityChanged(true);
            QVERIFY(settled());
        }
        QCOMPARE(statInt(host, "dashboardRequests"), requests);
        // A period later, coming back polls at once again.
        wall += 3'600'000;
        steady += 3'600'000;
        emit network.reachabilityChanged(false);
        emit network.reachabilityChanged(true);
        QVERIFY(poller.isBusy());
        QVERIFY(settled());
        QCOMPARE(statInt(host, "dashboardRequests"), ++requests);

        // Time passing on both clocks is no resume, however long. The check runs whenever
        // the event loop wakes.
        wall += 3'600'000;
        steady += 3'600'000;
        QCoreApplication::processEvents();
        QTest::qWait(20);
        QVERIFY(!poller.isBusy());
        QCOMPARE(statInt(host, "dashboardRequests"), requests);

        // Two hours asleep: the wall clock ran ahead of the timers. One poll, at once.
        wall += 7'200'000;
        steady += 1'000;
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        ++requests;
        QTRY_COMPARE(statInt(host, "dashboardRequests"), requests);
        QVERIFY(settled());
        QTest::qWait(20);
        QVERIFY(!poller.isBusy());
        QCOMPARE(statInt(host, "dashboardRequests"), requests);

        // While a login runs, nothing is sent out of turn: the login lands on the dashboard
        // once, and that is all the host sees.
        poller.logIn();
        emit network.reachabilityChanged(false);
        emit network.reachabilityChanged(true);
        QTRY_COMPARE(poller.loginState(), LoginState::LoggedIn);
        QVERIFY(settled());
        QTest::qWait(20);
        QCOMPARE(statInt(host, "dashboardRequests"), ++requests);
        QCOMPARE(statInt(host, "loginPosts"), 2);
        // Nor did it count as the network's poll of this period: the next return polls.
        emit network.reachabilityChanged(false);
        emit network.reachabilityChanged(true);
        QVERIFY(poller.isBusy());
        QVERIFY(settled());
        QCOMPARE(statInt(host, "dashboardRequests"), ++requests);
        QVERIFY(frame.prompter.errors.isEmpty());
    }

    void restartTimerOnlyWhilePolling()
    {
        DemoHost host;
        ControllerHarness frame;
        credentials(frame, host.blogUrl(), "owner", host.password().toUtf8());
        Poller &poller = frame.poller;
        frame.settings.set(Settings::PollInterval, 2); // before the login: nothing to restart
        QCOMPARE(frame.pollTimerMs(), std::nullopt);
        frame.start();
        QTRY_COMPARE(frame.pollTimerMs(), 2000);
        frame.settings.set(Settings::PollInterval, 60);
        QCOMPARE(frame.pollTimerMs(), 60000);
        // An interval whose milliseconds an int cannot hold still polls, as seldom as a
        // timer can (wrapped, they would be negative: no timer at all).
        frame.settings.set(Settings::PollInterval, 2147484);
        QVERIFY(frame.pollTimerMs().has_value());
        poller.stop();
        QCOMPARE(frame.pollTimerMs(), std::nullopt);
    }
};

QTEST_MAIN(TestPoller)
#include "tst_poller.moc"
