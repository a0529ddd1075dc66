#pragma once

#include <QObject>
#include <QString>

#include <functional>

class DashboardModel;

// Tells when the dashboard has not read for a long time, for a person who may not look at the
// strip: once when the polls have failed for LongMs (counted from the first failed poll after a
// good one, on the clock the timers run on, so a night asleep is no outage), and once more at
// the next good reading after that. Never once per poll. The log is told of every outage's end,
// however short, with how long it lasted; its start is the poller's first failure line.
class OutageWatch final : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 LongMs = qint64(30) * 60 * 1000;

    explicit OutageWatch(DashboardModel &model, QObject *parent = nullptr);
    ~OutageWatch() override;
    OutageWatch(const OutageWatch &) = delete;
    OutageWatch &operator=(const OutageWatch &) = delete;

    // Milliseconds on a steady clock; tests replace it.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { m_clock = std::move(clock); }

    bool isLong() const { return m_told; }

    // A span as the log gives it: "45 s", "3 min 12 s", "2 h 5 min".
    static QString durationText(qint64 ms);

signals:
    // The polls have failed for LongMs; failure is the latest one's text.
    void outageBegan(const QString &failure);
    // The dashboard reads again after an outage that outageBegan told of.
    void outageEnded();

private:
    void onPollStatus();

    DashboardModel &m_model;
    Clock m_clock;
    qint64 m_failingSince = -1;
    bool m_told = false;
};
