#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

class DemoHost;
class QNetworkAccessManager;

namespace bench {

// Nanoseconds on the monotonic clock, the process CPU clock and this thread's CPU clock.
long long wallNs();
long long processCpuNs();
long long threadCpuNs();

double medianMs(std::vector<long long> samplesNs);

// Resident and proportional set size in KiB, from /proc/self/smaps_rollup, and the private
// (anonymous) resident memory from /proc/PID/status.
struct Memory
{
    long rssKiB = -1;
    long pssKiB = -1;
    long anonKiB = -1;
};
Memory memory();
// RssAnon of another process of ours; -1 when it is gone.
long rssAnonKiB(qint64 pid);
// CPU time of every thread of another process; -1 when it is gone.
long long processCpuNs(qint64 pid);

// Voluntary context switches of every thread of this process.
long voluntarySwitches();

// Logs in with a bare network manager (its cookie jar keeps the session) and
// gives the dashboard's bytes; empty on failure.
bool loginBare(QNetworkAccessManager &nam, DemoHost &host);
QByteArray fetchBare(QNetworkAccessManager &nam, DemoHost &host);

// Prints one figure line: "name: value unit  (target ...: met/MISSED)".
void report(const char *name, double value, const char *unit, const QString &target = {},
            bool met = true);

} // namespace bench
