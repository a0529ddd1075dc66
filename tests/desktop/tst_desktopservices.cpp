// The two desktop services, each against a real one on the private session bus that the
// test runs on: the password in GNOME Keyring, and notices sent to a notification server
// (a recording one of ours on its own connection) whose action opens the item.
#include "app/application.h"
#include "app/controller.h"
#include "app/windowprompter.h"
#include "client/poller.h"
#include "desktop/desktopnotifier.h"
#include "desktop/passwordkeyring.h"
#include "dialogs/logindialog.h"
#include "model/account.h"
#include "model/dashboardmodel.h"
#include "model/outagewatch.h"
#include "settings/settings.h"
#include "tests/desktop/notificationrecorder.h"
#include "tests/support/controllerharness.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"
#include "ui/noticepopup.h"
#include "ui/statusstrip.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <optional>

#include <csignal>
#include <sys/types.h>

namespace {

// The stored password of an entry as the keyring gives it back, nothing when there is none.
std::optional<std::string> readKeyring(const QString &key)
{
    std::optional<std::optional<std::string>> answer;
    QObject context;
    passwordkeyring::readPassword(&context, key, [&](bool ok, std::string &password) {
        answer = ok ? std::optional<std::string>(password) : std::nullopt;
    });
    if (!QTest::qWaitFor([&] { return answer.has_value(); }, 20000))
        return std::string("(no answer from the keyring)");
    return *answer;
}

bool writeKeyring(const QString &key, const std::string &password)
{
    std::optional<bool> done;
    QObject context;
    passwordkeyring::writePassword(&context, key, password, [&](bool ok) { done = ok; });
    return QTest::qWaitFor([&] { return done.has_value(); }, 20000) && *done;
}

// The same entry through another Secret Service client, so it really is in the keyring.
QByteArray lookUpWithSecretTool(const QString &key)
{
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("server"), QStringLiteral("Ormix"),
                QStringLiteral("user"), key});
    if (!tool.waitForFinished(20000))
        return "(secret-tool hung)";
    return tool.readAllStandardOutput();
}

template<typename T> T *child(QWidget *dialog, const char *name)
{
    return dialog->findChild<T *>(QString::fromLatin1(name));
}

// Runs action on each modal dialog that opens while the object lives.
class ModalWatcher
{
public:
    explicit ModalWatcher(std::function<void(QWidget *)> action) : m_action(std::move(action))
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            // Marked, not compared by address: the next dialog may take the last one's place.
            QWidget *w = QApplication::activeModalWidget();
            if (w && !w->property("ormixTestSeen").toBool()) {
                w->setProperty("ormixTestSeen", true);
                ++m_seen;
                m_action(w);
            }
        });
        m_timer.start(10);
    }
    int seen() const { return m_seen; }

private:
    std::function<void(QWidget *)> m_action;
    QTimer m_timer;
    int m_seen = 0;
};

} // namespace

class TestDesktopServices final : public QObject
{
    Q_OBJECT

    std::unique_ptr<Application> m_app;
    int m_argc = 1;
    char m_arg0[24] = "tst_desktopservices";
    char *m_argv[2] = {m_arg0, nullptr};

private slots:
    void initTestCase()
    {
        m_app = std::make_unique<Application>(m_argc, m_argv);
        QVERIFY2(QDBusConnection::sessionBus().isConnected(),
                 "no session bus: run under dbus-run-session with with-keyring.sh");
    }
    void cleanupTestCase()
    {
        if (m_app->controller())
            m_app->controller()->end();
        QTest::qWait(50);
        m_app.reset();
    }

    void keyringStoresReadsAndDeletes()
    {
        std::optional<bool> available;
        QObject context;
        passwordkeyring::probe(&context, [&](bool ok, const QString &) { available = ok; });
        QVERIFY(QTest::qWaitFor([&] { return available.has_value(); }, 10000));
        QVERIFY(*available);

        const QString key = passwordkeyring::entryKey("http://blog.example", "owner");
        const std::string password = "비밀 pw &=+ 4417";
        QVERIFY(writeKeyring(key, password));
        QCOMPARE(readKeyring(key), std::optional<std::string>(password));
        QCOMPARE(lookUpWithSecretTool(key), QByteArray::fromStdString(password));
        // Another ID on the same blog is another entry.
        QCOMPARE(readKeyring(passwordkeyring::entryKey("http://blog.example", "guest")),
                 std::nullopt);

        std::optional<bool> deleted;
        passwordkeyring::deletePassword(&context, key, [&](bool ok) { deleted = ok; });
        QVERIFY(QTest::qWaitFor([&] { return deleted.has_value(); }, 20000));
        QVERIFY(*deleted);
        QCOMPARE(readKeyring(key), std::nullopt);
        QCOMPARE(lookUpWithSecretTool(key), QByteArray());
        // Removing what is not there is no failure.
        deleted.reset();
        passwordkeyring::deletePassword(&context, key, [&](bool ok) { deleted = ok; });
        QVERIFY(QTest::qWaitFor([&] { return deleted.has_value(); }, 20000));
        QVERIFY(*deleted);
    }

    // What is typed into the login dialog reaches the settings and the keyring only once the
    // host accepted it. Refused and then cancelled, a change of ID leaves the settings file
    // byte for byte and the working entry as they were.
    void typedLoginIsStoredOnlyOnceAccepted()
    {
        TempConfigHome home;
        // The host knows "other" only, so the remembered "owner" is refused.
        DemoHost host({QStringLiteral("--user"), QStringLiteral("other")});
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        const std::string url = host.blogUrl().toStdString();
        const QString owner = passwordkeyring::entryKey(url, "owner");
        const QString other = passwordkeyring::entryKey(url, "other");
        {
            Settings settings;
            QVERIFY(settings.set(Settings::SaveId, true));
            QVERIFY(settings.set(Settings::Interval, 3600));
            QVERIFY(settings.set(Settings::KeyringPassword, true));
            QVERIFY(settings.set(Settings::Id, QStringLiteral("owner")));
            QVERIFY(settings.set(Settings::BlogUrl, QString::fromStdString(url)));
        }
        QVERIFY(writeKeyring(owner, "owner-pw"));
        const auto fileBytes = [&] {
            QFile file(home.settingsFile());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
        };
        const QByteArray before = fileBytes();

        // One answer per login dialog: the ID and password typed, the keyring box, OK or not.
        struct Answer
        {
            QString id;
            QString password;
            bool keyring = false;
            bool saveId = true;
        };
        QList<std::optional<Answer>> answers;
        QStringList shown;
        ModalWatcher watcher([&](QWidget *dialog) {
            auto *keyringBox = child<QCheckBox>(dialog, "keyringCheck");
            shown << child<QLineEdit>(dialog, "idEdit")->text() +
                         (keyringBox->isChecked() ? QStringLiteral(" +keyring") : QString());
            const std::optional<Answer> answer =
                answers.isEmpty() ? std::nullopt : answers.takeFirst();
            if (!answer || !QTest::qWaitFor([&] { return keyringBox->isEnabled(); }, 10000)) {
                child<QPushButton>(dialog, "cancelButton")->click();
                return;
            }
            child<QLineEdit>(dialog, "idEdit")->setText(answer->id);
            child<QLineEdit>(dialog, "passwordEdit")->setText(answer->password);
            keyringBox->setChecked(answer->keyring);
            child<QCheckBox>(dialog, "saveIdCheck")->setChecked(answer->saveId);
            child<QPushButton>(dialog, "okButton")->click();
        });
        // One run that starts from the keyring's login; true once logged in, false once ended.
        const auto run = [&](const std::string &id, const std::string &password) {
            Account account;
            account.blogUrl = url;
            account.id = id;
            account.setPassword(password);
            DashboardModel model;
            Settings settings;
            settings.set(Settings::PollInterval, 3600);
            WindowPrompter prompter;
            Controller controller(account, model, settings, prompter);
            bool ended = false;
            connect(&controller, &Controller::ended, this, [&] { ended = true; });
            controller.start(std::nullopt);
            // Ended or logged in; which one is the answer.
            std::ignore = QTest::qWaitFor(
                [&] { return ended || controller.poller()->loginState() == LoginState::LoggedIn; },
                15000);
            return !ended;
        };

        // Another ID with the option unticked is refused too; then Cancel.
        answers = {Answer{QStringLiteral("stranger"), QStringLiteral("nope"), false}, {}};
        QVERIFY(!run("owner", "owner-pw"));
        // The second dialog shows what was typed into the first, not the settings.
        QCOMPARE(shown,
                 QStringList({QStringLiteral("owner +keyring"), QStringLiteral("stranger")}));
        QCOMPARE(fileBytes(), before);
        QCOMPARE(readKeyring(owner), std::optional<std::string>("owner-pw"));
        QCOMPARE(readKeyring(passwordkeyring::entryKey(url, "stranger")), std::nullopt);

        // Accepted, another ID replaces the remembered one and its entry.
        const std::string right = host.password().toStdString();
        answers = {Answer{QStringLiteral("other"), host.password(), true}};
        QVERIFY(run("owner", "owner-pw"));
        QCOMPARE(Settings().value(Settings::Id), QStringLiteral("other"));
        QVERIFY(QTest::qWaitFor([&] { return readKeyring(other) == right; }, 20000));
        QVERIFY(QTest::qWaitFor([&] { return !readKeyring(owner); }, 20000));

        // Accepted with "아이디 저장" unticked: the settings forget by overwriting, and the
        // password leaves the keyring.
        answers = {Answer{QStringLiteral("other"), host.password(), true, false}};
        QVERIFY(run("other", "stale"));
        const Settings stored;
        QCOMPARE(stored.value(Settings::SaveId), false);
        QCOMPARE(stored.value(Settings::Interval), 30);
        QCOMPARE(stored.value(Settings::Id) + stored.value(Settings::BlogUrl), QString());
        QVERIFY(stored.isStored(Settings::KeyringPassword));
        QCOMPARE(stored.value(Settings::KeyringPassword), false);
        QVERIFY(QTest::qWaitFor([&] { return !readKeyring(other); }, 20000));
    }

    void startUpUsesTheStoredPassword_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("dialogExpected");
        QTest::newRow("right password: no dialog") << QByteArray("right") << false;
        QTest::newRow("changed password: the dialog returns") << QByteArray("wrong") << true;
        QTest::newRow("nothing stored: the dialog as before") << QByteArray() << true;
        QTest::newRow("a keyring that does not answer: the dialog")
            << QByteArray("stopped") << true;
    }
    void startUpUsesTheStoredPassword()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, dialogExpected);
        TempConfigHome home;
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        const std::string url = host.blogUrl().toStdString();
        const QString key = passwordkeyring::entryKey(url, "owner");
        const std::string right = host.password().toStdString();
        {
            Settings settings;
            QVERIFY(settings.set(Settings::SaveId, true));
            QVERIFY(settings.set(Settings::Interval, 10));
            QVERIFY(settings.set(Settings::KeyringPassword, true));
            QVERIFY(settings.set(Settings::Id, QStringLiteral("owner")));
            QVERIFY(settings.set(Settings::BlogUrl, QString::fromStdString(url)));
        }
        if (stored.isEmpty()) {
            QObject context;
            bool gone = false;
            passwordkeyring::deletePassword(&context, key, [&](bool) { gone = true; });
            QVERIFY(QTest::qWaitFor([&] { return gone; }, 20000));
        } else {
            QVERIFY(writeKeyring(key, stored == "wrong" ? "wrong" : right));
        }
        // A keyring that never answers, as one locked behind a prompt nobody sees: its
        // process is stopped until the dialog shows.
        const uint keyringPid = QDBusConnection::sessionBus().interface()->servicePid(
            QStringLiteral("org.freedesktop.secrets"));
        const bool stopKeyring = stored == "stopped";
        if (stopKeyring)
            QVERIFY(keyringPid > 0 && ::kill(pid_t(keyringPid), SIGSTOP) == 0);
        // Never left stopped for the tests that follow, whatever fails here.
        const auto resume = qScopeGuard([&] {
            if (stopKeyring)
                ::kill(pid_t(keyringPid), SIGCONT);
        });
        QElapsedTimer sinceStart;
        sinceStart.start();
        qint64 dialogAfterMs = -1;

        QStringList problems;
        ModalWatcher watcher([&](QWidget *dialog) {
            if (stopKeyring && dialogAfterMs < 0) {
                dialogAfterMs = sinceStart.elapsed();
                ::kill(pid_t(keyringPid), SIGCONT);
            }
            // Filled in as at any start, with the password left empty.
            if (child<QLineEdit>(dialog, "blogUrlEdit")->text() != QString::fromStdString(url) ||
                child<QLineEdit>(dialog, "idEdit")->text() != QStringLiteral("owner") ||
                !child<QLineEdit>(dialog, "passwordEdit")->text().isEmpty() ||
                !child<QCheckBox>(dialog, "keyringCheck")->isChecked())
                problems << QStringLiteral("the dialog was not filled in as remembered");
            child<QLineEdit>(dialog, "passwordEdit")->setText(QString::fromStdString(right));
            child<QPushButton>(dialog, "okButton")->click();
        });
        QVERIFY(m_app->start());
        QVERIFY(QTest::qWaitFor(
            [this] { return m_app->controller()->poller()->loginState() == LoginState::LoggedIn; },
            15000));
        QCOMPARE(watcher.seen() > 0, dialogExpected);
        QCOMPARE(problems, QStringList());
        // Well before the keyring library's own time-out of 25 s.
        if (stopKeyring)
            QVERIFY2(dialogAfterMs < 15000, qPrintable(QString::number(dialogAfterMs)));
        QCOMPARE(m_app->settings().value(Settings::PollInterval), 10);
        // Whatever was stored before, the password that worked is stored now.
        QVERIFY(QTest::qWaitFor([&] { return readKeyring(key) == right; }, 20000));
        m_app->controller()->end();
        QTest::qWait(50);
    }

    void notificationsCarryTheNotice_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QStringList>("actions");
        const QString text = QStringLiteral("<b>굵게</b> & <a href=\"x\">링크</a>");
        const QStringList withRead{QStringLiteral("default"), QStringLiteral("열기"),
                                   QStringLiteral("read"), QStringLiteral("읽음")};
        QTest::newRow("markup server: escaped")
            << QStringList{QStringLiteral("body"), QStringLiteral("body-markup"),
                           QStringLiteral("actions")}
            << QStringLiteral("&lt;b&gt;굵게&lt;/b&gt; &amp; &lt;a href=\"x\"&gt;링크&lt;/a&gt;")
            << withRead;
        QTest::newRow("plain server: as it is")
            << QStringList{QStringLiteral("body"), QStringLiteral("actions")} << text << withRead;
        // Without buttons only the click (the default action) is left.
        QTest::newRow("a server without actions")
            << QStringList{QStringLiteral("body")} << text
            << QStringList{QStringLiteral("default"), QStringLiteral("열기")};
    }
    void notificationsCarryTheNotice()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, body);
        QFETCH(QStringList, actions);
        NotificationRecorder server(capabilities);
        QVERIFY(server.start());
        DesktopNotifier notifier;
        QList<std::pair<ItemKind, RecentItem>> requested;
        connect(&notifier, &DesktopNotifier::itemRequested, this,
                [&](ItemKind kind, const RecentItem &item) {
                    requested.append({kind, item});
                });

        // Off: nothing goes out.
        notifier.notify(ItemKind::Comment, QStringLiteral("off"), QStringLiteral("off"),
                        {"off", "http://x/0"});
        QTest::qWait(200);
        QCOMPARE(server.capabilityQuestions, 0);

        notifier.setEnabled(true);
        const QString text = QStringLiteral("<b>굵게</b> & <a href=\"x\">링크</a>");
        notifier.notify(ItemKind::Trackback, NoticePopup::heading(ItemKind::Trackback), text,
                        {text.toStdString(), "http://blog.example/1#tb"});
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 1; }, 10000));
        const NotificationRecorder::Received got = server.received.at(0);
        QCOMPARE(got.appName, QStringLiteral("Ormix"));
        QCOMPARE(got.appIcon, QStringLiteral("ormix"));
        QCOMPARE(got.summary, QStringLiteral("[새로운 트랙백 도착]"));
        QCOMPARE(got.body, body);
        QCOMPARE(got.actions, actions);
        QCOMPARE(got.hints.value(QStringLiteral("desktop-entry")).toString(),
                 QStringLiteral("ormix"));
        QCOMPARE(server.capabilityQuestions, 1);

        // Another program's notification is none of ours; ours asks for its item.
        QVERIFY(QTest::qWaitFor(
            [&] { return notifier.notificationId(ItemKind::Trackback) == got.id; }, 10000));
        server.invokeDefault(got.id + 100);
        server.invokeDefault(got.id);
        QVERIFY(QTest::qWaitFor([&] { return !requested.isEmpty(); }, 5000));
        QTest::qWait(100);
        QCOMPARE(requested.size(), 1);
        QCOMPARE(requested.at(0).first, ItemKind::Trackback);
        QCOMPARE(requested.at(0).second.link, std::string("http://blog.example/1#tb"));
        // Closed by the server: the next one of its kind replaces nothing.
        QVERIFY(QTest::qWaitFor([&] { return notifier.notificationId(ItemKind::Trackback) == 0; },
                                5000));
    }

    // Each kind keeps a notification of its own, which only its next one replaces; what comes
    // while the server has not answered yet is sent once it has, none lost.
    void eachKindHasItsOwnNotification()
    {
        NotificationRecorder server({QStringLiteral("body"), QStringLiteral("actions")});
        QVERIFY(server.start());
        DesktopNotifier notifier;
        notifier.setEnabled(true);
        const auto notify = [&](ItemKind kind, const char *text) {
            notifier.notify(kind, NoticePopup::heading(kind), QString::fromUtf8(text),
                            {text, std::string("http://x/") + text});
        };
        const auto sent = [&](const char *text) -> std::optional<NotificationRecorder::Received> {
            for (const NotificationRecorder::Received &r : std::as_const(server.received)) {
                if (r.body == QString::fromUtf8(text))
                    return r;
            }
            return std::nullopt;
        };
        // Before the server's first answer: both kinds wait, neither is dropped.
        notify(ItemKind::Comment, "댓글 1");
        notify(ItemKind::Guestbook, "방명록 1");
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 2; }, 10000));
        QCOMPARE(sent("댓글 1")->replacesId, 0u);
        QCOMPARE(sent("방명록 1")->replacesId, 0u);
        QVERIFY(sent("댓글 1")->id != sent("방명록 1")->id);
        QVERIFY(QTest::qWaitFor([&] { return notifier.notificationId(ItemKind::Guestbook) != 0; },
                                10000));

        // Two comments before the server told the first one's id: the second replaces it.
        notify(ItemKind::Comment, "댓글 2");
        notify(ItemKind::Comment, "댓글 3");
        notify(ItemKind::Trackback, "트랙백 1");
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 5; }, 10000));
        QCOMPARE(sent("댓글 2")->replacesId, sent("댓글 1")->id);
        QCOMPARE(sent("댓글 3")->replacesId, sent("댓글 1")->id);
        QCOMPARE(sent("트랙백 1")->replacesId, 0u);
        QCOMPARE(server.received.last().body, QStringLiteral("댓글 3"));
        // The guestbook's notification was left alone.
        QVERIFY(QTest::qWaitFor([&] { return notifier.notificationId(ItemKind::Comment) != 0; },
                                10000));
        notify(ItemKind::Guestbook, "방명록 2");
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 6; }, 10000));
        QCOMPARE(sent("방명록 2")->replacesId, sent("방명록 1")->id);
        QCOMPARE(server.capabilityQuestions, 1);
    }

    void withoutAServerNothingBreaks()
    {
        DesktopNotifier notifier;
        notifier.setEnabled(true);
        const QString heading = NoticePopup::heading(ItemKind::Comment);
        notifier.notify(ItemKind::Comment, heading, QStringLiteral("아무도 없음"),
                        {"아무도 없음", "http://x/1"});
        QVERIFY(notifier.isAskingServer());
        QVERIFY(QTest::qWaitFor([&] { return !notifier.isAskingServer(); }, 10000));
        // A server that comes later gets the next notice, asked for once.
        NotificationRecorder server({QStringLiteral("body")});
        QVERIFY(server.start());
        QTest::qWait(200);
        QCOMPARE(server.capabilityQuestions, 0);
        notifier.notify(ItemKind::Comment, heading, QStringLiteral("이제 있음"),
                        {"이제 있음", "http://x/2"});
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 1; }, 10000));
        QCOMPARE(server.received.at(0).body, QStringLiteral("이제 있음"));
        QCOMPARE(server.capabilityQuestions, 1);
    }

    void activatingTheNotificationOpensTheItem()
    {
        TempConfigHome home;
        UrlRecorder browser;
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        NotificationRecorder server({QStringLiteral("body"), QStringLiteral("actions")});
        QVERIFY(server.start());
        Settings settings;
        QVERIFY(settings.set(Settings::DesktopNotify, true));
        Account account;
        DashboardModel model;
        host.enterAccount(account, settings, 3600);

        RecordingPrompter prompter;
        Controller frame(account, model, settings, prompter);
        frame.start(LoginChoice{});
        QVERIFY(QTest::qWaitFor(
            [&] {
                return frame.poller()->loginState() == LoginState::LoggedIn &&
                       !frame.poller()->isBusy();
            },
            10000));
        StatusStrip *status = frame.strip();
        host.addItem(DemoHost::Comment, QStringLiteral("바탕화면 알림 <i>댓글</i>"),
                     QStringLiteral("/7#comment9"));
        frame.poller()->pollNow();
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 1; }, 10000));
        QCOMPARE(server.received.at(0).summary, QStringLiteral("[새로운 댓글 도착]"));
        QCOMPARE(server.received.at(0).body, QStringLiteral("바탕화면 알림 <i>댓글</i>"));
        QCOMPARE(status->notice()->accessibleDescription(), server.received.at(0).body);
        QVERIFY(model.isNew(ItemKind::Comment));
        QVERIFY(browser.opened().isEmpty());

        server.invokeDefault(server.received.at(0).id);
        QTRY_COMPARE(browser.opened().size(), 1);
        QCOMPARE(browser.opened(), QStringList{host.url(QStringLiteral("/7#comment9")).toString()});
        QVERIFY(!model.isNew(ItemKind::Comment));
        // R went dark on the strip.
        const QImage strip = status->grab().toImage();
        const QRect r = status->boxRect(StatusStrip::Box::Comments);
        QCOMPARE(strip.pixelColor(r.left() + 1, r.top() + 1), QColor(Qt::white));

        // R lit and not clicked, a guestbook entry arrives: a notification of its own.
        host.addItem(DemoHost::Comment, QStringLiteral("두 번째 댓글"), QStringLiteral("/9"));
        frame.poller()->pollNow();
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 2; }, 10000));
        host.addItem(DemoHost::Guestbook, QStringLiteral("방명록 글"), QStringLiteral("/g"));
        frame.poller()->pollNow();
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 3; }, 10000));
        QVERIFY(model.isNew(ItemKind::Comment));
        QCOMPARE(server.received.at(2).summary, QStringLiteral("[새로운 방명록 도착]"));
        QCOMPARE(server.received.at(2).body, QStringLiteral("방명록 글"));
        QCOMPARE(server.received.at(2).replacesId, 0u);

        // "읽음" on the guestbook's notification: its box goes dark, nothing opens.
        server.invoke(server.received.at(2).id, QStringLiteral("read"));
        QVERIFY(QTest::qWaitFor([&] { return !model.isNew(ItemKind::Guestbook); }, 5000));
        QVERIFY(model.isNew(ItemKind::Comment));
        QTest::qWait(100);
        QCOMPARE(browser.opened().size(), 1);

        // Half an hour of failed polls: one notification, none per poll; one more when the
        // dashboard reads again.
        qint64 steadyMs = 0;
        frame.outageWatch()->setClock([&] { return steadyMs; });
        QVERIFY(host.injectFault(QStringLiteral("status"), -1, 503));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^outage: load failed")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("has not read for")));
        int polls = 0;
        connect(&model, &DashboardModel::pollStatusChanged, this, [&] { ++polls; });
        for (const qint64 minute : {0, 29, 30}) {
            steadyMs = minute * 60000;
            QVERIFY(QTest::qWaitFor([&] { return !frame.poller()->isBusy(); }, 10000));
            const int before = polls;
            frame.poller()->pollNow();
            QVERIFY(QTest::qWaitFor([&] { return polls > before; }, 10000));
        }
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 4; }, 10000));
        QCOMPARE(server.received.at(3).summary, QStringLiteral("블로그를 읽지 못하고 있습니다"));
        QVERIFY(server.received.at(3).body.contains(QStringLiteral("503")));
        QCOMPARE(server.received.at(3).actions, QStringList());
        QVERIFY(host.clearFaults());
        QVERIFY(QTest::qWaitFor([&] { return !frame.poller()->isBusy(); }, 10000));
        QTest::ignoreMessage(QtWarningMsg,
                             "the dashboard reads again after 30 min 0 s of failed polls");
        frame.poller()->pollNow();
        QVERIFY(QTest::qWaitFor([&] { return server.received.size() == 5; }, 10000));
        QCOMPARE(server.received.at(4).summary, QStringLiteral("블로그를 다시 읽습니다"));
        QCOMPARE(server.received.at(4).replacesId, server.received.at(3).id);
        frame.poller()->pollNow();
        QTest::qWait(300);
        QCOMPARE(server.received.size(), 5);

        // Unticked in the settings dialog: the next notice stays on the screen only.
        QVERIFY(settings.set(Settings::DesktopNotify, false));
        QVERIFY(!frame.desktopNotifier()->isEnabled());
        host.addItem(DemoHost::Comment, QStringLiteral("화면에만"), QStringLiteral("/8"));
        frame.poller()->pollNow();
        QVERIFY(QTest::qWaitFor(
            [&] { return status->notice()->accessibleDescription() == QStringLiteral("화면에만"); },
            10000));
        QTest::qWait(300);
        QCOMPARE(server.received.size(), 5);
        frame.end();
    }
};

QTEST_APPLESS_MAIN(TestDesktopServices)
#include "tst_desktopservices.moc"
