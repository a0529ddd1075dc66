// The cost of one poll through the real client (fetch, the page reader's process, model,
// status window) against floors polling the same page from the same host: a bare window (a process
// of its own with a 150x23 window that fetches the page with Qt Network and looks for the
// counter with one indexOf, no parse), Qt Network plus a bare gumbo parse, and libcurl plus a
// gumbo parse and the two id look-ups (the C floor). Polls run back to back and at a real
// interval on real timers (the bare window at the same interval over the same minutes, half
// an interval out of step); memory after the first reading and when steady; the longest wait
// of the event loop while the client polls.
//
//   bench_poll PAGE [BACK_TO_BACK] [AT_INTERVAL] [INTERVAL_MS]
// PAGE is a dashboard size in bytes, or deep:N for a 150 KB page whose body opens with N
// nested elements. The bare window runs as
//   bench_poll --floor LOGIN_URL LOGIN_BODY DASHBOARD_URL TIMES INTERVAL_MS
#include "bench/benchhost.h"
#include "bench/benchsupport.h"
#include "client/poller.h"
#include "tests/support/demohost.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <gumbo.h>

#ifdef ORMIX_HAVE_CURL
#include <curl/curl.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

long long g_sink = 0;

// Finds the first elements with these ids, as the reader's look-ups would.
int findIds(const GumboNode *root)
{
    bool counter = false, area = false;
    std::vector<const GumboNode *> stack{root};
    while (!stack.empty() && !(counter && area)) {
        const GumboNode *n = stack.back();
        stack.pop_back();
        if (n->type != GUMBO_NODE_ELEMENT)
            continue;
        if (const GumboAttribute *id = gumbo_get_attribute(&n->v.element.attributes, "id")) {
            counter = counter || std::strcmp(id->value, "counter") == 0;
            area = area || std::strcmp(id->value, "new") == 0;
        }
        const GumboVector &kids = n->v.element.children;
        for (unsigned i = kids.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode *>(kids.data[i]));
    }
    return int(counter) + int(area);
}

void parseFully(const char *data, std::size_t size)
{
    GumboOutput *out = gumbo_parse_with_options(&kGumboDefaultOptions, data, size);
    g_sink += findIds(out->root);
    gumbo_destroy_output(&kGumboDefaultOptions, out);
}

#ifdef ORMIX_HAVE_CURL
// libcurl with its cookie engine: the login's session cookie is kept for the fetches.
class CurlFloor
{
public:
    CurlFloor() : m_handle(curl_easy_init())
    {
        curl_easy_setopt(m_handle, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(m_handle, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(m_handle, CURLOPT_WRITEFUNCTION, &CurlFloor::write);
        curl_easy_setopt(m_handle, CURLOPT_WRITEDATA, &m_body);
        curl_easy_setopt(m_handle, CURLOPT_NOPROXY, "*");
    }
    ~CurlFloor() { curl_easy_cleanup(m_handle); }
    CurlFloor(const CurlFloor &) = delete;
    CurlFloor &operator=(const CurlFloor &) = delete;

    bool login(const QByteArray &url, const QByteArray &body)
    {
        curl_easy_setopt(m_handle, CURLOPT_URL, url.constData());
        curl_easy_setopt(m_handle, CURLOPT_POSTFIELDSIZE, long(body.size()));
        curl_easy_setopt(m_handle, CURLOPT_COPYPOSTFIELDS, body.constData());
        m_body.clear();
        return curl_easy_perform(m_handle) == CURLE_OK &&
               m_body.find("id=\"counter\"") != std::string::npos;
    }
    // Fetches the dashboard, parses it whole and looks up the two elements.
    std::size_t poll(const QByteArray &url)
    {
        curl_easy_setopt(m_handle, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(m_handle, CURLOPT_URL, url.constData());
        m_body.clear();
        if (curl_easy_perform(m_handle) != CURLE_OK)
            return 0;
        parseFully(m_body.data(), m_body.size());
        return m_body.size();
    }

private:
    static size_t write(char *data, size_t size, size_t n, void *body)
    {
        static_cast<std::string *>(body)->append(data, size * n);
        return size * n;
    }
    CURL *m_handle;
    std::string m_body;
};
#endif

// Times every event the main thread handles: the longest one, while armed, is the longest
// the user interface had to wait. (A timer ticking to find gaps would cost more CPU than a
// poll at a real interval.)
class TimedApplication final : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!armed)
            return QApplication::notify(receiver, event);
        const long long start = bench::wallNs();
        const long long cpu = bench::threadCpuNs();
        const bool result = QApplication::notify(receiver, event);
        longestNs = std::max(longestNs, bench::wallNs() - start);
        longestCpuNs = std::max(longestCpuNs, bench::threadCpuNs() - cpu);
        return result;
    }
    bool armed = false;
    long long longestNs = 0;
    long long longestCpuNs = 0; // the same on the thread's CPU clock: without preemption
};

void waitWhileBusy(Poller &view)
{
    while (view.isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Runs action every intervalMs on a real timer, times times; the process CPU per run, with
// what otherCpuNs counts of other processes (the client's reader) added.
double cpuPerRunAtInterval(int times, int intervalMs, const std::function<void()> &action,
                           const std::function<bool()> &idle,
                           const std::function<long long()> &otherCpuNs = {})
{
    int done = 0;
    QTimer timer;
    timer.setInterval(intervalMs);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (done < times && idle()) {
            action();
            ++done;
        }
    });
    const long long other0 = otherCpuNs ? otherCpuNs() : 0;
    const long long cpu0 = bench::processCpuNs();
    timer.start();
    while (done < times)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // The last poll's work ends when the loop is idle again.
    while (!idle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    timer.stop();
    const long long other = otherCpuNs ? otherCpuNs() - other0 : 0;
    return (bench::processCpuNs() - cpu0 + other) / 1e6 / times;
}

double mib(long kib)
{
    return kib / 1024.0;
}

// The bare-window floor, in a process of its own: what any Qt program with a window spends
// to fetch the page at the interval. Prints its CPU per poll and its private memory.
int runFloor(char **argv)
{
    const QUrl loginUrl(QString::fromLocal8Bit(argv[2]));
    const QByteArray loginBody(argv[3]);
    const QUrl dashboard(QString::fromLocal8Bit(argv[4]));
    const int times = std::atoi(argv[5]);
    const int intervalMs = std::atoi(argv[6]);

    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool);
    window.setGeometry(100, 100, 150, 23);
    window.show();
    QNetworkAccessManager nam;
    QNetworkRequest login(loginUrl);
    login.setHeader(QNetworkRequest::ContentTypeHeader,
                    QByteArrayLiteral("application/x-www-form-urlencoded"));
    QNetworkReply *posted = nam.post(login, loginBody);
    while (!posted->isFinished())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    posted->deleteLater();

    int found = 0;
    bool busy = false;
    const auto poll = [&] {
        busy = true;
        QNetworkRequest request(dashboard);
        request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                             QNetworkRequest::AlwaysNetwork);
        QNetworkReply *reply = nam.get(request);
        QObject::connect(reply, &QNetworkReply::finished, reply, [&, reply] {
            if (reply->readAll().indexOf("id=\"counter\"") >= 0)
                ++found;
            window.update();
            reply->deleteLater();
            busy = false;
        });
    };
    // One poll first, so the connection and the window's first paint are not counted.
    poll();
    while (busy)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    // Then the same minutes as the client's polls: whatever else the machine does then
    // weighs on both figures alike.
    std::printf("floor-ready\n");
    std::fflush(stdout);
    char go = 0;
    if (std::fread(&go, 1, 1, stdin) != 1)
        return 1;
    const double cpuMs = cpuPerRunAtInterval(times, intervalMs, poll, [&] { return !busy; });
    std::printf("floor-cpu-ms %.4f\nfloor-rssanon-kib %ld\nfloor-found %d\n", cpuMs,
                bench::memory().anonKiB, found);
    return found == times + 1 ? 0 : 1;
}

struct FloorFigures
{
    double cpuMs = -1;
    long anonKiB = -1;
};

// The floor polls at the same interval as the client and over the same minutes, half an
// interval out of step so that their polls do not meet at the host.
class FloorRun
{
public:
    FloorRun(DemoHost &host, int times, int intervalMs) : m_times(times), m_intervalMs(intervalMs)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--floor"), host.loginUrl().toString(QUrl::FullyEncoded),
                         QString::fromLatin1(host.loginBody("owner", host.password().toUtf8())),
                         host.dashboardUrl().toString(QUrl::FullyEncoded), QString::number(times),
                         QString::number(intervalMs)});
        while (m_process.state() != QProcess::NotRunning &&
               !m_process.peek(64).startsWith("floor-ready\n"))
            m_process.waitForReadyRead(1000);
        m_ready = m_process.state() == QProcess::Running;
    }

    // Starts the floor's polls, then lets half an interval pass.
    void go()
    {
        if (!m_ready)
            return;
        m_process.write("g");
        QEventLoop wait;
        QTimer::singleShot(m_intervalMs / 2, &wait, &QEventLoop::quit);
        wait.exec();
    }

    FloorFigures finish()
    {
        FloorFigures figures;
        if (!m_ready)
            return figures;
        // It may have ended already, which waitForFinished reports as a failure.
        if (m_process.state() != QProcess::NotRunning)
            m_process.waitForFinished(m_times * m_intervalMs + 60000);
        if (m_process.state() != QProcess::NotRunning ||
            m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
            return figures;
        for (const QByteArray &line : m_process.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 2)
                continue;
            if (parts[0] == "floor-cpu-ms")
                figures.cpuMs = parts[1].toDouble();
            else if (parts[0] == "floor-rssanon-kib")
                figures.anonKiB = parts[1].toLong();
        }
        return figures;
    }

private:
    QProcess m_process;
    int m_times;
    int m_intervalMs;
    bool m_ready = false;
};

} // namespace

int main(int argc, char **argv)
{
    TimedApplication app(argc, argv);
    if (argc == 7 && std::strcmp(argv[1], "--floor") == 0)
        return runFloor(argv);
    const QString pageSpec = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("150000");
    const int backToBack = argc > 2 ? std::atoi(argv[2]) : 100;
    const int atInterval = argc > 3 ? std::atoi(argv[3]) : 30;
    const int intervalMs = argc > 4 ? std::atoi(argv[4]) : 2000;

    QStringList hostArgs;
    if (pageSpec.startsWith(QLatin1String("deep:")))
        hostArgs << QStringLiteral("--page-size") << QStringLiteral("150000")
                 << QStringLiteral("--nest") << pageSpec.mid(5);
    else
        hostArgs << QStringLiteral("--page-size") << pageSpec;

    TempConfigHome home;
    DemoHost host(hostArgs);
    if (!host.isRunning()) {
        std::fprintf(stderr, "demo host: %s\n", qPrintable(host.errorString()));
        return 1;
    }
    BenchSession frame(host, 3600 /* polls are driven by the benchmark's own timers */);
    Poller &view = frame.poller;
    view.start();
    while (view.loginState() != LoginState::LoggedIn || view.isBusy())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!frame.strip.isVisible() || frame.model.todayCount() == 0) {
        std::fprintf(stderr, "the status window is missing or the page did not read\n");
        return 1;
    }
    const bench::Memory first = bench::memory();

    std::printf("== poll: page %s, real Poller + offscreen StatusStrip; %d polls at %d ms on "
                "real timers, %d back to back interleaved with the floors\n",
                qPrintable(pageSpec), atInterval, intervalMs, backToBack);
    std::printf("%-44s RSS %7.2f MiB  PSS %7.2f MiB\n", "memory after the first reading",
                mib(first.rssKiB), mib(first.pssKiB));

    // The client at a real interval, alone in the process, while the bare window polls.
    FloorRun floorRun(host, atInterval, intervalMs);
    floorRun.go();
    app.armed = true;
    const auto clientPoll = [&] { view.pollNow(); };
    const auto clientIdle = [&] { return !view.isBusy(); };
    // The client's page reader, a process of its own, counts with it.
    const auto readerCpuNs = [&]() -> long long {
        return std::max(0LL, bench::processCpuNs(view.reader().readerProcessId()));
    };
    const auto readerAnonKiB = [&]() -> long {
        return std::max(0L, bench::rssAnonKiB(view.reader().readerProcessId()));
    };
    const long long readerCpu0 = readerCpuNs();
    const double clientAtInterval =
        cpuPerRunAtInterval(atInterval, intervalMs, clientPoll, clientIdle, readerCpuNs);
    const double readerAtInterval = (readerCpuNs() - readerCpu0) / 1e6 / atInterval;
    const bench::Memory steady = bench::memory();
    const long steadyAnonKiB = steady.anonKiB + readerAnonKiB();
    app.armed = false;
    const FloorFigures floor = floorRun.finish();

    // Back to back, each client poll followed by both floors.
    QNetworkAccessManager nam;
    if (!bench::loginBare(nam, host)) {
        std::fprintf(stderr, "bare login failed\n");
        return 1;
    }
#ifdef ORMIX_HAVE_CURL
    curl_global_init(CURL_GLOBAL_DEFAULT);
    CurlFloor curl;
    const QByteArray dashboard = host.dashboardUrl().toEncoded();
    if (!curl.login(host.loginUrl().toEncoded(),
                    host.loginBody("owner", host.password().toUtf8()))) {
        std::fprintf(stderr, "libcurl login failed\n");
        return 1;
    }
#endif
    std::vector<long long> clientCpu, clientMain, qtCpu, cCpu;
    qsizetype pageBytes = 0;
    for (int i = 0; i < backToBack; ++i) {
        long long c = bench::processCpuNs();
        const long long t = bench::threadCpuNs();
        app.armed = true;
        view.pollNow();
        waitWhileBusy(view);
        app.armed = false;
        clientCpu.push_back(bench::processCpuNs() - c);
        clientMain.push_back(bench::threadCpuNs() - t);

        c = bench::processCpuNs();
        const QByteArray page = bench::fetchBare(nam, host);
        pageBytes = page.size();
        parseFully(page.constData(), static_cast<std::size_t>(page.size()));
        qtCpu.push_back(bench::processCpuNs() - c);
#ifdef ORMIX_HAVE_CURL
        c = bench::processCpuNs();
        curl.poll(dashboard);
        cCpu.push_back(bench::processCpuNs() - c);
#endif
    }

    double cAtInterval = 0;
#ifdef ORMIX_HAVE_CURL
    cAtInterval = cpuPerRunAtInterval(
        atInterval, intervalMs, [&] { curl.poll(dashboard); }, [] { return true; });
#endif

    // Targets: CPU per real-interval poll against the C floor; memory; the longest stall.
    // The CPU targets hold at 15 KB (where Qt Network's own fixed cost dominates), 150 KB
    // and 1.5 MB; larger and deeply nested pages have the memory and stall targets only.
    const bool small = pageBytes < 50000;
    const bool targeted = !pageSpec.startsWith(QLatin1String("deep:")) && pageBytes <= 2000000;
    const double limit = small ? 1.25 : 0.6;
    bench::report("page bytes", double(pageBytes), "B");
    bench::report("client CPU per poll at interval", clientAtInterval, "ms");
    bench::report("  of which the page reader's process", readerAtInterval, "ms");
    // The goals against the bare window: 2x its CPU at 150 KB, 3x at 1.5 MB; 1.5x its
    // private memory at any size.
    if (floor.cpuMs > 0) {
        const double ratio = clientAtInterval / floor.cpuMs;
        const double goal = pageSpec == QLatin1String("150000")    ? 2.0
                            : pageSpec == QLatin1String("1500000") ? 3.0
                                                                   : 0.0;
        bench::report("bare window CPU per poll at interval", floor.cpuMs, "ms");
        if (goal > 0)
            bench::report("client / bare window at interval", ratio, "x",
                          QStringLiteral("<= %1x").arg(goal, 0, 'f', 1), ratio <= goal);
        else
            bench::report("client / bare window at interval", ratio, "x");
        const double anonRatio = double(steadyAnonKiB) / double(floor.anonKiB);
        bench::report("private memory when steady, client", mib(steadyAnonKiB), "MiB");
        bench::report("  of which the page reader's process", mib(readerAnonKiB()), "MiB");
        bench::report("private memory when steady, bare window", mib(floor.anonKiB), "MiB");
        bench::report("client / bare window private memory", anonRatio, "x",
                      QStringLiteral("<= 1.5x"), anonRatio <= 1.5);
    } else {
        std::printf("bare window: did not run\n");
    }
    if (!cCpu.empty()) {
        const double ratio = clientAtInterval / cAtInterval;
        bench::report("C floor CPU per poll at interval", cAtInterval, "ms");
        if (targeted)
            bench::report("client / C floor at interval", ratio, "x",
                          QStringLiteral("<= %1x").arg(limit, 0, 'f', 2), ratio <= limit);
        else
            bench::report("client / C floor at interval", ratio, "x");
    } else {
        std::printf("C floor: not built (libcurl4-openssl-dev was missing at configure time)\n");
    }
    const double clientB2b = bench::medianMs(clientCpu);
    bench::report("client CPU per poll back to back (median)", clientB2b, "ms");
    bench::report("client main thread CPU per poll (median)", bench::medianMs(clientMain), "ms");
    bench::report("Qt floor CPU per poll back to back (median)", bench::medianMs(qtCpu), "ms");
    bench::report("client / Qt floor back to back", clientB2b / bench::medianMs(qtCpu), "x");
    if (!cCpu.empty()) {
        bench::report("C floor CPU per poll back to back (median)", bench::medianMs(cCpu), "ms");
        bench::report("client / C floor back to back", clientB2b / bench::medianMs(cCpu), "x");
    }
    std::printf("%-44s RSS %7.2f MiB  PSS %7.2f MiB\n", "memory when steady (client polls only)",
                mib(steady.rssKiB), mib(steady.pssKiB));
    const double rssRatio = double(steady.rssKiB) / double(first.rssKiB);
    bench::report("steady RSS / RSS after the first reading", rssRatio, "x",
                  QStringLiteral("<= 1.10x"), rssRatio <= 1.10);
    if (pageSpec == QLatin1String("150000"))
        bench::report("steady RSS, all windows created", mib(steady.rssKiB), "MiB",
                      QStringLiteral("<= 45 MiB"), mib(steady.rssKiB) <= 45.0);
    const double stallMs = app.longestNs / 1e6;
    bench::report("longest main-thread event while polling", stallMs, "ms",
                  QStringLiteral("< 50 ms"), stallMs < 50.0);
    bench::report("longest main-thread event, thread CPU", app.longestCpuNs / 1e6, "ms");
    bench::report(
        "longest main-thread CPU of one poll, back to back",
        clientMain.empty() ? 0.0 : *std::max_element(clientMain.begin(), clientMain.end()) / 1e6,
        "ms");
    std::printf("login dialogs %d, error boxes %d, today's count %d\n", frame.loginDialogs,
                frame.errors, frame.model.todayCount());
    view.stop();
#ifdef ORMIX_HAVE_CURL
    curl_global_cleanup();
#endif
    return g_sink == 42 ? 2 : 0;
}
