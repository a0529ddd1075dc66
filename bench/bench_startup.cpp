// Start-up, in process: from the process's start (and from main) to the status window
// shown with the first reading, through the real application object, the real login
// dialog (filled in and confirmed as soon as it appears) and the demo host.
#include "app/application.h"
#include "app/controller.h"
#include "bench/benchsupport.h"
#include "client/poller.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"
#include "ui/statusstrip.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

// Milliseconds since the kernel started this process (clock-tick resolution).
double msSinceProcessStart()
{
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble();
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char **argv)
{
    const long long mainEntry = bench::wallNs();
    TempConfigHome home;
    // The host starts before the clock that matters here: it stands for a server that runs.
    std::unique_ptr<DemoHost> host;
    long long loginShown = 0;
    long long hostReady = 0;

    Application app(argc, argv);
    const long long appBuilt = bench::wallNs();
    host = std::make_unique<DemoHost>(
        QStringList{QStringLiteral("--page-size"), QStringLiteral("150000")});
    if (!host->isRunning()) {
        std::fprintf(stderr, "demo host: %s\n", qPrintable(host->errorString()));
        return 1;
    }
    hostReady = bench::wallNs();

    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, timer, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        timer->stop();
        loginShown = bench::wallNs();
        dialog->findChild<QLineEdit *>(QStringLiteral("blogUrlEdit"))->setText(host->blogUrl());
        dialog->findChild<QLineEdit *>(QStringLiteral("idEdit"))->setText(QStringLiteral("owner"));
        dialog->findChild<QLineEdit *>(QStringLiteral("passwordEdit"))->setText(host->password());
        dialog->findChild<QLineEdit *>(QStringLiteral("intervalEdit"))
            ->setText(QStringLiteral("30"));
        dialog->findChild<QPushButton *>(QStringLiteral("okButton"))->click();
    });
    timer->start(1);
    const long long confirmStart = bench::wallNs();
    if (!app.start()) {
        std::fprintf(stderr, "the login was not accepted\n");
        return 1;
    }
    const long long confirmed = bench::wallNs();
    StatusStrip *status = app.controller()->strip();
    while (!(status && status->isVisible() &&
             app.controller()->poller()->loginState() == LoginState::LoggedIn &&
             app.model().todayCount() == 15))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    const long long shown = bench::wallNs();
    const double sinceStart = msSinceProcessStart();
    const double hostMs = (hostReady - appBuilt) / 1e6;

    std::printf("== start-up, in process (%s platform); the demo host's own start (%.1f ms) "
                "is taken out\n",
                qPrintable(QGuiApplication::platformName()), hostMs);
    bench::report("main -> application object built", (appBuilt - mainEntry) / 1e6, "ms");
    bench::report("login dialog up (after InitInstance call)", (loginShown - confirmStart) / 1e6,
                  "ms");
    bench::report("OK -> status window shown, logged in, read", (shown - loginShown) / 1e6, "ms");
    bench::report("  of which InitInstance returning", (confirmed - loginShown) / 1e6, "ms");
    bench::report("main -> status window with first reading", (shown - mainEntry) / 1e6 - hostMs,
                  "ms");
    bench::report("process start -> status window (10 ms ticks)", sinceStart - hostMs, "ms");
    app.controller()->end();
    return 0;
}
