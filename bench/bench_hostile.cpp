// What hostile input costs: the notice's slide with a 1 MiB item text and with a storm of
// combining marks against a normal one (main-thread CPU per slide), the time a poll takes to
// fail on a gzip bomb and on a 50 MiB header line, and the poll path's settings read.
#include "bench/benchsupport.h"
#include "client/pageloader.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"
#include "tests/support/animationclock.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"
#include "ui/noticepopup.h"

#include <QApplication>

#include <cstdio>
#include <string>

namespace {

// Main-thread CPU of one whole slide (70 steps up, the hold, 80 steps down), driven step by
// step on a clock that jumps over the hold. Every step repaints the shown window, as the
// animation timer's do; the events in between are handled as the loop would.
double slideCpuMs(NoticePopup &notice, const std::string &text, AnimationClock &clock)
{
    const long long start = bench::threadCpuNs();
    notice.announce(ItemKind::Comment, RecentItem{text, "http://127.0.0.1/"});
    for (int step = 0; notice.isVisible(); ++step) {
        QCoreApplication::processEvents();
        clock.advanceBy(step == NoticePopup::RiseSteps ? NoticePopup::HoldMs + 1
                                                       : NoticePopup::TickMs);
    }
    return (bench::threadCpuNs() - start) / 1e6;
}

// Wall time from the poll to its end, with the code it ended with.
double timeToFail(DemoHost &host, const QString &fault, qint64 value, int &code)
{
    PageLoader loader;
    bool done = false;
    QObject::connect(&loader, &PageLoader::finished, &loader,
                     [&](const PageLoader::Result &result) {
                         code = result.error;
                         done = true;
                     });
    host.injectFault(fault, 1, value);
    const long long start = bench::wallNs();
    loader.get(host.dashboardUrl());
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return (bench::wallNs() - start) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    std::printf("== notice slide with hostile texts: main-thread CPU per slide, best of %d\n",
                runs);
    DashboardModel model;
    NoticePopup notice(model);
    notice.setWorkArea(QRect(0, 0, 1280, 800));
    notice.prepare();
    AnimationClock clock;
    std::string storm = "a";
    for (int i = 0; i < 10000; ++i)
        storm += "\xcc\x81"; // U+0301
    const struct
    {
        const char *name;
        std::string text;
    } texts[] = {
        {"normal text", "새 댓글이 도착했습니다: 좋은 글 잘 읽었습니다"},
        {"1 MiB without spaces", std::string(1 << 20, 'W')},
        {"10,000 combining marks", storm},
    };
    double normal = 0;
    for (const auto &t : texts) {
        double best = 1e18;
        for (int run = 0; run < runs; ++run) {
            best = std::min(best, slideCpuMs(notice, t.text, clock));
        }
        if (normal == 0) {
            normal = best;
            bench::report(t.name, best, "ms");
        } else {
            const double ratio = 100.0 * best / normal;
            bench::report(t.name, best, "ms");
            bench::report("  against the normal slide", ratio, "%", QStringLiteral("<= 110 %"),
                          ratio <= 110.0);
        }
    }

    std::printf("== hostile replies: wall time until the poll fails\n");
    TempConfigHome home;
    DemoHost host;
    if (!host.isRunning()) {
        std::fprintf(stderr, "demo host: %s\n", qPrintable(host.errorString()));
        return 1;
    }
    int code = 0;
    // Once unmeasured: the host compresses the gigabyte on first use.
    timeToFail(host, QStringLiteral("gzipbomb"), 1024, code);
    const double bomb = timeToFail(host, QStringLiteral("gzipbomb"), 1024, code);
    bench::report(qPrintable(QStringLiteral("gzip bomb, 1 GiB inflated (code %1)").arg(code)), bomb,
                  "ms", QStringLiteral("< 1000 ms"), bomb < 1000);
    const double header = timeToFail(host, QStringLiteral("hugeheader"), 50L << 20, code);
    bench::report(qPrintable(QStringLiteral("50 MiB header line (code %1)").arg(code)), header,
                  "ms");

    std::printf("== the poll path's settings read (the transparency)\n");
    Settings written;
    written.set(Settings::LeftPos, 100);
    written.set(Settings::TopPos, 100);
    written.set(Settings::Id, QStringLiteral("owner"));
    written.set(Settings::BlogUrl, QStringLiteral("http://blog.example"));
    written.set(Settings::Transparency, 20);
    constexpr int reads = 2000;
    const long long start = bench::wallNs();
    int value = 0;
    // The first read of a fresh table reads the file; the rest are kept values.
    Settings settings;
    for (int i = 0; i < reads; ++i)
        value = settings.value(Settings::Transparency);
    bench::report("Settings::value(Transparency), file read once",
                  (bench::wallNs() - start) / 1e3 / reads, "us");
    return value == 20 ? 0 : 1;
}
