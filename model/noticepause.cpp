#include "noticepause.h"

#include "base/logging.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"

#include <algorithm>
#include <climits>
#include <utility>

NoticePause::NoticePause(DashboardModel &model, Settings &settings, QObject *parent)
    : QObject(parent), m_model(model), m_settings(settings),
      m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
    m_end.setSingleShot(true);
    connect(&m_end, &QTimer::timeout, this, &NoticePause::check);
}

NoticePause::~NoticePause() = default;

void NoticePause::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

QDateTime NoticePause::nextLocalMidnight(const QDateTime &now)
{
    const QDateTime local = now.toLocalTime();
    // The start of the next day, also where a time-zone change skips the midnight itself.
    return local.date().addDays(1).startOfDay().toUTC();
}

void NoticePause::restore()
{
    const QString stored = m_settings.value(Settings::PauseUntil);
    if (stored.isEmpty())
        return;
    // Written in UTC; a time without a zone would be read as local time.
    const QDateTime end = QDateTime::fromString(stored, Qt::ISODate).toUTC();
    const QDateTime now = m_clock();
    if (!end.isValid() || now.msecsTo(end) > LongestMs) {
        qCWarning(lcState) << "the stored end of a pause" << stored
                           << "is not taken; notices go on";
        store({});
        return;
    }
    if (end <= now) {
        store({});
        return;
    }
    m_model.pauseNotices(end);
    startTimer();
}

void NoticePause::pauseFor(qint64 ms)
{
    pauseUntil(m_clock().addMSecs(ms));
}

void NoticePause::pauseUntilMidnight()
{
    pauseUntil(nextLocalMidnight(m_clock()));
}

void NoticePause::pauseUntil(const QDateTime &end)
{
    store(end);
    m_model.pauseNotices(end);
    qCInfo(lcState) << "notices paused until" << end.toLocalTime().toString(Qt::ISODate);
    startTimer();
}

void NoticePause::resume()
{
    m_end.stop();
    if (!m_model.isPaused())
        return;
    store({});
    m_model.pauseNotices({});
    qCInfo(lcState) << "notices resumed";
}

void NoticePause::check()
{
    if (!m_model.isPaused())
        return;
    if (m_clock() >= m_model.pausedUntil())
        resume();
    else
        startTimer();
}

void NoticePause::startTimer()
{
    // The timers' clock stands still while the machine sleeps: check() after a resume catches
    // an end that passed meanwhile. A millisecond late rather than early.
    const qint64 left = m_clock().msecsTo(m_model.pausedUntil());
    m_end.start(int(std::clamp<qint64>(left + 1, 0, INT_MAX)));
}

void NoticePause::store(const QDateTime &end)
{
    // Settings writes nothing for a program that never paused.
    m_settings.set(Settings::PauseUntil,
                   end.isValid() ? end.toUTC().toString(Qt::ISODate) : QString());
}
