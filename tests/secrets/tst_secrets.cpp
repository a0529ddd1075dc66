// The password lives in memory only, and what strangers write on the dashboard cannot
// make the program fetch anything or open anything but a web address.
#include "app/application.h"
#include "app/controller.h"
#include "base/secret.h"
#include "blog/blogaddress.h"
#include "client/poller.h"
#include "desktop/autostart.h"
#include "desktop/browser.h"
#include "desktop/passwordkeyring.h"
#include "model/account.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"
#include "tests/support/controllerharness.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"
#include "ui/noticepopup.h"
#include "ui/recentitemspopup.h"
#include "ui/statusstrip.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <new>
#include <optional>
#include <sys/prctl.h>
#include <unistd.h>
#include <vector>

// Freed blocks are searched for a marker while armed: a password released unwiped
// would be found here.
namespace {

std::atomic<bool> g_scanFrees{false};
std::atomic<int> g_markerFrees{0};
const char g_marker[] = "Zq7-marker-password-long-enough-for-the-heap";

// Encoded passwords to look for as well, kept scrambled so that looking for them does not
// put them in memory. Set only while the scan is off.
constexpr char g_scramble = 0x5a;
std::vector<std::vector<char>> g_needles;
std::array<std::atomic<int>, 4> g_needleFrees{};

bool containsScrambled(const char *bytes, std::size_t size, const std::vector<char> &needle)
{
    const std::size_t n = needle.size();
    for (std::size_t i = 0; n > 0 && i + n <= size; ++i) {
        std::size_t k = 0;
        while (k < n && bytes[i + k] == char(needle[k] ^ g_scramble))
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

[[maybe_unused]] void scanFreed(void *p, std::size_t size)
{
    if (!p || !g_scanFrees.load(std::memory_order_relaxed))
        return;
    if (size == 0)
        size = malloc_usable_size(p);
    const std::size_t m = sizeof g_marker - 1;
    if (size >= m && memmem(p, size, g_marker, m))
        g_markerFrees.fetch_add(1);
    for (std::size_t i = 0; i < g_needles.size() && i < g_needleFrees.size(); ++i) {
        if (containsScrambled(static_cast<const char *>(p), size, g_needles[i]))
            g_needleFrees[i].fetch_add(1);
    }
}

void addScrambledNeedle(std::string plain)
{
    std::vector<char> scrambled;
    for (const char c : plain)
        scrambled.push_back(char(c ^ g_scramble));
    wipeString(plain);
    g_needleFrees[g_needles.size()] = 0;
    g_needles.push_back(std::move(scrambled));
}
} // namespace

#ifndef ORMIX_UNDER_ASAN
void operator delete(void *p) noexcept
{
    scanFreed(p, 0);
    std::free(p);
}

void operator delete(void *p, std::size_t size) noexcept
{
    scanFreed(p, size);
    std::free(p);
}
#endif

namespace {

QList<QByteArray> secretForms(const QByteArray &password)
{
    return {password, QByteArray::fromStdString(blogaddress::formEncode(password.toStdString())),
            password.toPercentEncoding(), password.toBase64(), password.toHex()};
}

QByteArray readProcFile(const char *path)
{
    QFile f(QString::fromLatin1(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int dumpable()
{
    return prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
}

// Runs action on the first modal dialog that opens.
void onNextModal(std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        if (QWidget *w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            action(w);
        }
    });
    timer->start(10);
}

// Output written to stdout and stderr while the object lives, kept in a file.
class OutputCapture
{
public:
    OutputCapture()
    {
        m_file.open();
        std::fflush(stdout);
        std::fflush(stderr);
        m_out = dup(1);
        m_err = dup(2);
        dup2(m_file.handle(), 1);
        dup2(m_file.handle(), 2);
    }
    ~OutputCapture() { restore(); }
    QByteArray finish()
    {
        restore();
        QFile f(m_file.fileName());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    void restore()
    {
        if (m_out < 0)
            return;
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(m_out, 1);
        dup2(m_err, 2);
        close(m_out);
        close(m_err);
        m_out = m_err = -1;
    }
    QTemporaryFile m_file;
    int m_out = -1;
    int m_err = -1;
};

QStringList g_messages;
void recordMessage(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    g_messages << QString::fromLatin1(context.category ? context.category : "") +
                      QStringLiteral(": ") + text;
}

} // namespace

class TestSecrets final : public QObject
{
    Q_OBJECT

    std::unique_ptr<Application> m_app;
    int m_argc = 1;
    char m_arg0[16] = "tst_secrets";
    char *m_argv[2] = {m_arg0, nullptr};

private slots:
    void initTestCase() { m_app = std::make_unique<Application>(m_argc, m_argv); }
    void cleanupTestCase()
    {
        if (m_app->controller())
            m_app->controller()->end();
        m_app.reset();
    }

    void processIsNotDumpableBeforeTheLoginOpens()
    {
        TempConfigHome home;
        QCOMPARE(prctl(PR_SET_DUMPABLE, 1, 0, 0, 0), 0);
        QCOMPARE(dumpable(), 1);
        int duringLogin = -1;
        onNextModal([&duringLogin](QWidget *dialog) {
            duringLogin = dumpable();
            qobject_cast<QDialog *>(dialog)->reject();
        });
        QVERIFY(!m_app->start());
        QCOMPARE(duringLogin, 0);
        QCOMPARE(dumpable(), 0);
    }

    void passwordStaysInMemoryOnly_data()
    {
        QTest::addColumn<bool>("keyring");
        QTest::newRow("memory only") << false;
        // The keyring holds it then, and still no file, log or command line does.
        QTest::newRow("keyring option") << true;
    }
    void passwordStaysInMemoryOnly()
    {
        QFETCH(bool, keyring);
        TempConfigHome home;
        const QByteArray password = "Sk1-비밀 &=+%/pw-4417";
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        QVERIFY(host.setPassword(password));

        g_messages.clear();
        const QtMessageHandler old = qInstallMessageHandler(recordMessage);
        // Everything the program can log, on.
        QLoggingCategory::setFilterRules(QStringLiteral("ormix.*=true"));
        QByteArray output;
        QByteArray sessionCookie;
        {
            OutputCapture capture;
            onNextModal([&](QWidget *dialog) {
                dialog->findChild<QLineEdit *>(QStringLiteral("blogUrlEdit"))
                    ->setText(host.blogUrl());
                dialog->findChild<QLineEdit *>(QStringLiteral("idEdit"))
                    ->setText(QStringLiteral("owner"));
                dialog->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))
                    ->setText(QString::fromUtf8(password));
                dialog->findChild<QLineEdit *>(QStringLiteral("intervalEdit"))
                    ->setText(QStringLiteral("10"));
                auto *box = dialog->findChild<QCheckBox *>(QStringLiteral("keyringCheck"));
                if (keyring && QTest::qWaitFor([box] { return box->isEnabled(); }, 10000))
                    box->setChecked(true);
                dialog->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
            });
            const bool started = m_app->start();
            // Logged in, and a few polls on top.
            const bool loggedIn =
                started && QTest::qWaitFor(
                               [&] {
                                   const Poller *p = m_app->controller()->poller();
                                   return p->loginState() == LoginState::LoggedIn && !p->isBusy();
                               },
                               10000);
            Poller *poller = loggedIn ? m_app->controller()->poller() : nullptr;
            if (poller) {
                const QList<QNetworkCookie> cookies =
                    poller->loader().networkAccessManager()->cookieJar()->cookiesForUrl(
                        host.dashboardUrl());
                for (const QNetworkCookie &cookie : cookies)
                    sessionCookie += cookie.value();
            }
            // Polls on top, driven by hand rather than waiting for the timer: plain ones, one
            // after the host forgot the session (silent login), a failure and the recovery.
            const auto poll = [&] {
                const int before = host.stats().value(QLatin1String("dashboardRequests")).toInt();
                poller->pollNow();
                return QTest::qWaitFor(
                    [&] {
                        return host.stats().value(QLatin1String("dashboardRequests")).toInt() >
                                   before &&
                               !poller->isBusy() && poller->loginState() == LoginState::LoggedIn;
                    },
                    8000);
            };
            bool polls = poller && poll() && poll();
            polls = polls && host.expireSessions() && poll();
            polls = polls && host.injectFault(QStringLiteral("status"), 1, 503) && poll();
            polls = polls && poll();
            // A resume: the wall clock ran two hours ahead of the timers.
            // Shared: the poller outlives this block and keeps asking the clock.
            auto wall = std::make_shared<qint64>(1'700'000'000'000);
            if (polls) {
                poller->resumeDetector().setClocks([wall] { return *wall; }, [] { return 0; });
                const int before = host.stats().value(QLatin1String("dashboardRequests")).toInt();
                *wall += 7'200'000;
                polls = QTest::qWaitFor(
                    [&] {
                        return host.stats().value(QLatin1String("dashboardRequests")).toInt() >
                                   before &&
                               !poller->isBusy();
                    },
                    8000);
            }
            QVERIFY(writeAutostartEntry(QCoreApplication::applicationFilePath().toStdString()));
            std::optional<std::string> inKeyring;
            if (keyring && loggedIn) {
                const QString key =
                    passwordkeyring::entryKey(host.blogUrl().toStdString(), "owner");
                QObject context;
                bool answered = false;
                passwordkeyring::readPassword(&context, key, [&](bool ok, std::string &stored) {
                    answered = true;
                    if (ok)
                        inKeyring = stored;
                });
                // No answer leaves inKeyring empty, which the check below sees.
                std::ignore = QTest::qWaitFor([&] { return answered; }, 20000);
            }
            output = capture.finish();
            if (keyring)
                QCOMPARE(inKeyring, std::optional<std::string>(password.toStdString()));
            QVERIFY(started);
            QVERIFY(loggedIn);
            QVERIFY(polls);
        }
        qInstallMessageHandler(old);
        QLoggingCategory::setFilterRules(QString());
        // The host saw the right password, so the forms below are what leaking would look like.
        QCOMPARE(host.stats()
                     .value(QLatin1String("lastLogin"))
                     .toObject()
                     .value(QLatin1String("fields"))
                     .toObject()
                     .value(QLatin1String("password"))
                     .toString(),
                 QString::fromUtf8(password));
        QVERIFY(QFile::exists(QString::fromStdString(autostartEntryPath())));
        QVERIFY(!home.allFileContents().isEmpty());

        const QByteArray files = home.allFileContents();
        const QByteArray cmdline = readProcFile("/proc/self/cmdline");
        const QByteArray environ = readProcFile("/proc/self/environ");
        const QByteArray messages = g_messages.join(QLatin1Char('\n')).toUtf8();
        QVERIFY(files.contains("owner")); // the ID is remembered, so the files were written
        // The log told the story, so its silence on secrets below means something.
        for (const char *line :
             {"ormix.notice: logging in with the password typed in the login dialog",
              "ormix.login: posting the login form", "ormix.login: logged in",
              "ormix.login: session ended", "ormix.network: outage: load failed",
              "ormix.poll: the dashboard reads again after", "ormix.poll: resumed",
              "ormix.poll: polling at once"})
            QVERIFY2(messages.contains(line), line);
        QVERIFY(sessionCookie.size() >= 8);
        QVERIFY2(!messages.contains(sessionCookie), messages.constData());
        QVERIFY(!output.contains(sessionCookie));
        QVERIFY(!messages.contains("loginid=") && !messages.contains("password="));
        for (const QByteArray &form : secretForms(password)) {
            QVERIFY2(!files.contains(form), form.constData());
            QVERIFY2(!cmdline.contains(form), form.constData());
            QVERIFY2(!environ.contains(form), form.constData());
            QVERIFY2(!output.contains(form), form.constData());
            QVERIFY2(!messages.contains(form), form.constData());
        }
        QCOMPARE(dumpable(), 0);
        m_app->controller()->end();
        QTest::qWait(50);
    }

    void loginBodiesLeaveNoCopyBehind()
    {
#ifdef ORMIX_UNDER_ASAN
        QSKIP("AddressSanitizer owns operator delete; the plain build runs this check");
#endif
        TempConfigHome home;
        // The form encoding differs from every other form these take here (the store keeps
        // the plain text, the control channel percent-encodes), so what is found is a body.
        const std::string right = "Rg7 비번&*=pw-3318";
        std::string wrong = "Wr0ng 틀림&*=pw-5521";
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        QVERIFY(host.setPassword(QByteArray::fromStdString(right)));
        ControllerHarness harness;
        host.enterAccount(harness.account, harness.settings, 3600);
        harness.account.setPassword(wrong);
        harness.prompter.answerLogin = [&](Account &account) {
            account.setPassword(right);
            return LoginChoice{};
        };

        // Every buffer released while logging in is searched for an encoded password.
        g_needles.clear();
        addScrambledNeedle(blogaddress::formEncode(wrong));
        addScrambledNeedle(blogaddress::formEncode(right));
        g_scanFrees = true;
        {
            Poller &poller = harness.poller;
            harness.start();
            const auto settled = [&](int reports) {
                return QTest::qWaitFor(
                    [&] {
                        return harness.pollsReported > reports &&
                               poller.loginState() == LoginState::LoggedIn && !poller.isBusy();
                    },
                    10000);
            };
            // A wrong password, the dialog, the right one.
            QVERIFY(settled(0));
            QCOMPARE(harness.prompter.loginDialogs, 1);
            // Two silent logins after the host ended the session.
            for (int i = 0; i < 2; ++i) {
                const int before = harness.pollsReported;
                QVERIFY(host.expireSessions());
                poller.pollNow();
                QVERIFY(settled(before));
            }
            QCOMPARE(harness.prompter.loginDialogs, 1);
        }
        g_scanFrees = false;
        wipeString(wrong);
        QCOMPARE(g_needleFrees[0].load(), 0);
        QCOMPARE(g_needleFrees[1].load(), 0);

        // The check itself finds an unwiped release of an encoded password.
        g_scanFrees = true;
        delete new std::string(blogaddress::loginBody("http://b.example", "id", right));
        g_scanFrees = false;
        QCOMPARE(g_needleFrees[1].load(), 1);
        g_needles.clear();
    }

    void wipedStringsLeaveNoBytesBehind()
    {
        std::string secret(g_marker);
        const char *bytes = secret.data();
        const std::size_t size = secret.size();
        wipeString(secret);
        QVERIFY(secret.empty());
        // clear() keeps the buffer, so its old bytes can still be read here.
        for (std::size_t i = 0; i < size; ++i)
            QCOMPARE(bytes[i], '\0');
    }

    void accountWipesReplacedAndDestroyedPasswords()
    {
#ifdef ORMIX_UNDER_ASAN
        QSKIP("AddressSanitizer owns operator delete; the plain build runs this check");
#endif
        g_markerFrees = 0;
        g_scanFrees = true;
        {
            // The test's own copies are wiped too, so only the account's buffers can hit.
            std::string first(g_marker);
            std::string longer = first + std::string(200, 'x');
            const std::string shorter = "short";
            auto account = std::make_unique<Account>();
            account->setPassword(first);
            // A longer value needs a new buffer: the old one is released.
            account->setPassword(longer);
            account->setPassword(shorter);
            account->setPassword(first);
            wipeString(first);
            wipeString(longer);
        }
        g_scanFrees = false;
        QCOMPARE(g_markerFrees.load(), 0);

        // The check itself finds an unwiped release.
        g_scanFrees = true;
        {
            auto *unwiped = new std::string(g_marker);
            delete unwiped;
        }
        g_scanFrees = false;
        QVERIFY(g_markerFrees.load() >= 1);
    }

    void markupInItemTextsLoadsNothing()
    {
        TempConfigHome home;
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        int connections = 0;
        connect(&listener, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *s = listener.nextPendingConnection()) {
                ++connections;
                s->deleteLater();
            }
        });
        // The counter itself works.
        {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, listener.serverPort());
            QVERIFY(probe.waitForConnected(2000));
            QVERIFY(QTest::qWaitFor([&] { return connections == 1; }, 2000));
        }
        connections = 0;

        const QString port = QString::number(listener.serverPort());
        const auto text = [&](const char *pattern) {
            return QString::fromUtf8(pattern).arg(port).toStdString();
        };
        const std::string link = text("http://127.0.0.1:%1/link");
        DashboardModel model;
        model.takeReading({});
        Settings settings;
        StatusStrip status(model, settings);
        QVERIFY(status.showAt(QRect(100, 100, 150, 23)));
        DashboardReading hostile;
        hostile.todayCount = 1;
        hostile[ItemKind::Comment] = {
            {text("<img src=\"http://127.0.0.1:%1/img\">댓글"), link},
            {text("<b>굵게</b><link rel=stylesheet href=//127.0.0.1:%1/css>"), link}};
        hostile[ItemKind::Trackback] = {
            {text("<iframe src=http://127.0.0.1:%1/frame></iframe>"), link}};
        hostile[ItemKind::Guestbook] = {{text("<a href=http://127.0.0.1:%1/a>방명록</a>"), link}};
        model.takeReading(hostile);

        model.setPollStatus(QDateTime::currentDateTime(),
                            QString::fromStdString(text("<img src=http://127.0.0.1:%1/tip>")));
        QVERIFY(status.notice()->accessibleDescription().startsWith(QLatin1String("<img")));
        status.grab();
        status.notice()->grab();
        QVERIFY(status.recentItems()->showList(ItemKind::Comment, QPoint(120, 130)));
        status.recentItems()->grab();
        QVERIFY(status.recentItems()->showList(ItemKind::Trackback, QPoint(120, 130)));
        status.recentItems()->grab();
        status.pollStatusText();
        QTest::qWait(1000);
        QCOMPARE(connections, 0);
    }

    void onlyWebLinksReachTheBrowser()
    {
        TempConfigHome home;
        UrlRecorder browser;
        DemoHost host;
        QVERIFY2(host.isRunning(), qPrintable(host.errorString()));
        Account account;
        DashboardModel model;
        Settings settings;
        host.enterAccount(account, settings, 3600);

        RecordingPrompter prompter;
        Controller frame(account, model, settings, prompter);
        frame.start(LoginChoice{});
        Poller *poller = frame.poller();
        QVERIFY(QTest::qWaitFor(
            [&] { return poller->loginState() == LoginState::LoggedIn && !poller->isBusy(); },
            10000));
        StatusStrip *status = frame.strip();
        QVERIFY(status);

        const char *const hostile[] = {"javascript:alert(document.cookie)",
                                       "file:///etc/passwd",
                                       "data:text/html,<script>alert(1)</script>",
                                       "ftp://127.0.0.1/x",
                                       "JaVaScRiPt:alert(2)",
                                       " javascript:alert(3)"};
        for (const char *bad : hostile) {
            host.addItem(DemoHost::Comment, QStringLiteral("위험한 링크 ") + QLatin1String(bad),
                         QString::fromLatin1(bad));
            poller->pollNow();
            QVERIFY(QTest::qWaitFor(
                [&] {
                    const auto newest = model.newest(ItemKind::Comment);
                    return newest &&
                           QString::fromStdString(newest->text).endsWith(QLatin1String(bad)) &&
                           !poller->isBusy();
                },
                5000));
            QVERIFY(model.isNew(ItemKind::Comment));
            // The lit box asks for the newest link, the notice announced it and asks for its
            // own, and the list asks for the same link again; the controller opens none.
            QVERIFY(status->notice()->accessibleDescription().endsWith(QLatin1String(bad)));
            QTest::mouseClick(status, Qt::LeftButton, {},
                              status->boxRect(StatusStrip::Box::Comments).center());
            QVERIFY(!model.isNew(ItemKind::Comment));
            QTest::mouseClick(status->notice(), Qt::LeftButton, {}, QPoint(70, 5));
            QVERIFY(status->recentItems()->showList(ItemKind::Comment, QPoint(120, 130)));
            status->recentItems()->activateRow(0);
        }
        QTest::qWait(500);
        QCOMPARE(browser.opened(), QStringList());

        // A web link goes through the same paths, so the paths above were really taken.
        const QString good = host.url(QStringLiteral("/7#comment1")).toString();
        host.addItem(DemoHost::Comment, QStringLiteral("정상 링크"), QStringLiteral("/7#comment1"));
        poller->pollNow();
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto newest = model.newest(ItemKind::Comment);
                return newest && newest->text == "정상 링크";
            },
            5000));
        QTest::mouseClick(status->notice(), Qt::LeftButton, {}, QPoint(70, 5));
        QCOMPARE(browser.opened(), QStringList{good});
        frame.end();

        // A link longer than exec passes on is refused before it fails unseen.
        const std::string base = good.toStdString() + "x";
        QVERIFY(isOpenableWebAddress(base + std::string(MaxOpenableLinkBytes - base.size(), 'a')));
        QVERIFY(!isOpenableWebAddress(base + std::string(1 << 20, 'a')));
        QVERIFY(
            !isOpenableWebAddress(base + std::string(MaxOpenableLinkBytes + 1 - base.size(), 'a')));
    }
};

QTEST_APPLESS_MAIN(TestSecrets)
#include "tst_secrets.moc"
