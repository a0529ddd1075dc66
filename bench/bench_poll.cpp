// The cost of one poll through the real client (fetch, document, scrape, store, status
// window), side by side with its floor: the same fetch with a bare network manager plus
// a bare gumbo parse. Then memory after 20 and after 2,000 polls.
#include "bench/benchhost.h"
#include "bench/benchsupport.h"
#include "client/ormixview.h"
#include "state/tinfo.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QNetworkAccessManager>

#include <gumbo.h>

#include <cstdio>

namespace {

// Runs one poll through the view's own path and returns when its page is handled.
void pollOnce(COrmixView &view)
{
    view.pollNow();
    while (view.htmlCtrl().IsBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

long long g_sink = 0;
qsizetype g_floorBytes = 0;

void floorOnce(QNetworkAccessManager &nam, DemoHost &host)
{
    const QByteArray page = bench::fetchBare(nam, host);
    g_floorBytes = page.size();
    GumboOutput *out = gumbo_parse_with_options(&kGumboDefaultOptions, page.constData(),
                                                static_cast<size_t>(page.size()));
    g_sink += out->root->v.element.children.length;
    gumbo_destroy_output(&kGumboDefaultOptions, out);
}

void printMemory(const char *when)
{
    const bench::Memory m = bench::memory();
    std::printf("%-44s RSS %7.2f MiB  PSS %7.2f MiB\n", when, m.rssKiB / 1024.0, m.pssKiB / 1024.0);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int measured = argc > 1 ? std::atoi(argv[1]) : 500;
    const int total = argc > 2 ? std::atoi(argv[2]) : 2000;

    TempConfigHome home;
    DemoHost host({QStringLiteral("--page-size"), QStringLiteral("150000")});
    if (!host.isRunning()) {
        std::fprintf(stderr, "demo host: %s\n", qPrintable(host.errorString()));
        return 1;
    }
    host.enterAccount(3600); // polls are driven by hand
    lTInfo *store = GetTInfo();

    BenchHost frame;
    COrmixView view(&frame);
    view.OnInitialUpdate();
    while (store->GetLoginState() != LoggedIn || view.htmlCtrl().IsBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!frame.status() || !frame.status()->noticeWindow() || !frame.status()->isVisible()) {
        std::fprintf(stderr, "the status window is missing\n");
        return 1;
    }

    QNetworkAccessManager nam;
    if (!bench::loginBare(nam, host)) {
        std::fprintf(stderr, "bare login failed\n");
        return 1;
    }

    std::printf("== poll: real COrmixView + offscreen COrmixWnd, 150 KB dashboard, %d polls "
                "measured (interleaved with the floor)\n",
                measured);
    int polls = 0;
    for (int i = 0; i < 20; ++i, ++polls) {
        pollOnce(view);
        floorOnce(nam, host);
    }
    printMemory("memory after 20 polls");
    const bench::Memory early = bench::memory();

    std::vector<long long> wall, cpu, thread, floorWall, floorCpu, floorThread;
    for (int i = 0; i < measured; ++i, ++polls) {
        long long w = bench::wallNs(), c = bench::processCpuNs(), t = bench::threadCpuNs();
        pollOnce(view);
        wall.push_back(bench::wallNs() - w);
        cpu.push_back(bench::processCpuNs() - c);
        thread.push_back(bench::threadCpuNs() - t);

        w = bench::wallNs(), c = bench::processCpuNs(), t = bench::threadCpuNs();
        floorOnce(nam, host);
        floorWall.push_back(bench::wallNs() - w);
        floorCpu.push_back(bench::processCpuNs() - c);
        floorThread.push_back(bench::threadCpuNs() - t);
    }
    const double cpuMs = bench::medianMs(cpu);
    const double floorCpuMs = bench::medianMs(floorCpu);
    bench::report("client poll wall (median)", bench::medianMs(wall), "ms");
    bench::report("client poll CPU, all threads (median)", cpuMs, "ms");
    bench::report("client poll CPU, main thread (median)", bench::medianMs(thread), "ms");
    bench::report("floor wall (median)", bench::medianMs(floorWall), "ms");
    bench::report("floor CPU, all threads (median)", floorCpuMs, "ms");
    bench::report("floor CPU, main thread (median)", bench::medianMs(floorThread), "ms");
    bench::report("client CPU / floor CPU", cpuMs / floorCpuMs, "x", QStringLiteral("<= 1.25x"),
                  cpuMs / floorCpuMs <= 1.25);

    // The floor's manager goes, so what stays is the client's own.
    while (polls < total) {
        pollOnce(view);
        ++polls;
    }
    printMemory(qPrintable(QStringLiteral("memory after %1 polls").arg(polls)));
    const bench::Memory late = bench::memory();
    const double growthMiB = (late.rssKiB - early.rssKiB) / 1024.0;
    bench::report(qPrintable(QStringLiteral("RSS growth, 20 -> %1 polls").arg(polls)), growthMiB,
                  "MiB", QStringLiteral("< 1 MiB"), growthMiB < 1.0);
    bench::report(qPrintable(QStringLiteral("PSS growth, 20 -> %1 polls").arg(polls)),
                  (late.pssKiB - early.pssKiB) / 1024.0, "MiB");
    bench::report("steady RSS", late.rssKiB / 1024.0, "MiB", QStringLiteral("< 60 MiB"),
                  late.rssKiB < 60 * 1024);
    std::printf("login dialogs %d, error boxes %d, today's count %d, floor page %lld bytes\n",
                frame.loginDialogs, frame.errors, store->GetTodayCount(),
                static_cast<long long>(g_floorBytes));
    view.OnDestroy();
    return g_sink == 42 ? 2 : 0;
}
