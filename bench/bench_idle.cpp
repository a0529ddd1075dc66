// Wake-ups of an idle client: logged in, polling on its real timer, no notice moving.
// Counts timer events in the main thread (the poll's own apart) and voluntary context
// switches of all threads over a while (60 s unless given).
#include "bench/benchhost.h"
#include "bench/benchsupport.h"
#include "client/poller.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"
#include "ui/noticepopup.h"

#include <QApplication>
#include <QEventLoop>
#include <QHash>
#include <QTimer>
#include <QTimerEvent>

#include <cstdio>

namespace {

// A timer's class, and its parent's, so a stray timer can be traced to its owner.
QString describe(const QObject *object)
{
    QString text = QString::fromLatin1(object->metaObject()->className());
    if (!object->objectName().isEmpty())
        text += QLatin1Char('"') + object->objectName() + QLatin1Char('"');
    if (const QObject *parent = object->parent())
        text += QStringLiteral(" in ") + QString::fromLatin1(parent->metaObject()->className());
    return text;
}

class TimerCounter final : public QObject
{
public:
    explicit TimerCounter(QObject *view) : m_view(view) {}
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer) {
            if (watched == m_view)
                ++pollTimer;
            else
                ++others[describe(watched)];
        }
        return false;
    }
    QObject *m_view;
    int pollTimer = 0;
    QHash<QString, int> others;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 10;

    TempConfigHome home;
    DemoHost host({QStringLiteral("--page-size"), QStringLiteral("150000")});
    if (!host.isRunning()) {
        std::fprintf(stderr, "demo host: %s\n", qPrintable(host.errorString()));
        return 1;
    }
    BenchSession frame(host, interval);
    Poller &view = frame.poller;
    view.start();
    while (view.loginState() != LoginState::LoggedIn || view.isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (frame.strip.notice()->isVisible()) {
        std::fprintf(stderr, "a notice is moving\n");
        return 1;
    }

    TimerCounter counter(&view);
    app.installEventFilter(&counter);
    const int requests = host.stats().value(QLatin1String("dashboardRequests")).toInt();
    const long switches = bench::voluntarySwitches();
    const long long cpu = bench::processCpuNs();
    // A plain event loop: it sleeps until something is due, as the application's does.
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const long switchCount = bench::voluntarySwitches() - switches;
    const double cpuMs = static_cast<double>(bench::processCpuNs() - cpu) / 1e6;
    app.removeEventFilter(&counter);
    const int polls = host.stats().value(QLatin1String("dashboardRequests")).toInt() - requests;

    int others = 0;
    for (auto it = counter.others.cbegin(); it != counter.others.cend(); ++it)
        others += it.value();
    std::printf("== idle: %d s, poll interval %d s, real timer\n", seconds, interval);
    bench::report("polls sent", polls, "");
    bench::report("poll timer events", counter.pollTimer, "");
    const double intervals = static_cast<double>(seconds) / interval;
    bench::report("other timer events (main thread)", others, "");
    bench::report("other timer events per poll interval", others / intervals, "",
                  QStringLiteral("<= 1"), others / intervals <= 1.0);
    for (auto it = counter.others.cbegin(); it != counter.others.cend(); ++it)
        std::printf("    %s: %d\n", qPrintable(it.key()), it.value());
    bench::report("voluntary context switches, all threads", switchCount, "");
    bench::report("switches per poll interval", switchCount / intervals, "");
    bench::report("CPU over the whole time", cpuMs, "ms");
    std::printf("login dialogs %d, error boxes %d\n", frame.loginDialogs, frame.errors);
    return 0;
}
