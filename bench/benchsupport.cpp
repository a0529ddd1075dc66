#include "benchsupport.h"

#include "tests/support/demohost.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace bench {

static long long clockNs(clockid_t id)
{
    timespec t{};
    clock_gettime(id, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

long long wallNs()
{
    return clockNs(CLOCK_MONOTONIC);
}

long long processCpuNs()
{
    return clockNs(CLOCK_PROCESS_CPUTIME_ID);
}

long long threadCpuNs()
{
    return clockNs(CLOCK_THREAD_CPUTIME_ID);
}

double medianMs(std::vector<long long> samplesNs)
{
    if (samplesNs.empty())
        return 0;
    const auto mid = samplesNs.begin() + static_cast<std::ptrdiff_t>(samplesNs.size() / 2);
    std::nth_element(samplesNs.begin(), mid, samplesNs.end());
    return static_cast<double>(*mid) / 1e6;
}

Memory memory()
{
    Memory m;
    QFile f(QStringLiteral("/proc/self/smaps_rollup"));
    if (!f.open(QIODevice::ReadOnly))
        return m;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == "Rss:")
            m.rssKiB = parts[1].toLong();
        else if (parts[0] == "Pss:")
            m.pssKiB = parts[1].toLong();
    }
    m.anonKiB = rssAnonKiB(QCoreApplication::applicationPid());
    return m;
}

long rssAnonKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

long long processCpuNs(qint64 pid)
{
    // schedstat counts nanoseconds on the CPU per thread; /proc/PID/stat only clock ticks.
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList ids = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (ids.isEmpty())
        return -1;
    long long total = 0;
    for (const QString &task : ids) {
        QFile f(tasks.filePath(task) + QStringLiteral("/schedstat"));
        if (f.open(QIODevice::ReadOnly))
            total += f.readAll().split(' ').value(0).toLongLong();
    }
    return total;
}

long voluntarySwitches()
{
    long total = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task) + QStringLiteral("/status"));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : f.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:"))
                total += line.mid(24).trimmed().toLong();
        }
    }
    return total;
}

static QByteArray waitFor(QNetworkReply *reply)
{
    if (!reply->isFinished()) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QByteArray body = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    reply->deleteLater();
    return body;
}

bool loginBare(QNetworkAccessManager &nam, DemoHost &host)
{
    QNetworkRequest request(host.loginUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    const QByteArray page =
        waitFor(nam.post(request, host.loginBody("owner", host.password().toUtf8())));
    return page.contains("id=\"counter\"");
}

QByteArray fetchBare(QNetworkAccessManager &nam, DemoHost &host)
{
    QNetworkRequest request(host.dashboardUrl());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    return waitFor(nam.get(request));
}

void report(const char *name, double value, const char *unit, const QString &target, bool met)
{
    if (target.isEmpty())
        std::printf("%-44s %10.3f %s\n", name, value, unit);
    else
        std::printf("%-44s %10.3f %-6s (target %s: %s)\n", name, value, unit, qPrintable(target),
                    met ? "met" : "MISSED");
    std::fflush(stdout);
}

} // namespace bench
