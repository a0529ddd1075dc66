#pragma once

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <functional>

class DashboardModel;
class Settings;

// A pause of the notices and desktop notifications, for a meeting or a presentation: it puts
// the model into its quiet state until a time, keeps that time in the settings ("PauseUntil",
// UTC) so that it outlives a restart, and ends it by itself: on a timer, and at the first check
// after a resume from suspend, during which no timer runs.
class NoticePause final : public QObject
{
    Q_OBJECT
public:
    // The longest pause a stored time may ask for; a later one is damaged or from a clock that
    // was set back, and is not taken.
    static constexpr qint64 LongestMs = qint64(25) * 60 * 60 * 1000;

    NoticePause(DashboardModel &model, Settings &settings, QObject *parent = nullptr);
    ~NoticePause() override;
    NoticePause(const NoticePause &) = delete;
    NoticePause &operator=(const NoticePause &) = delete;

    // The wall clock the pause is measured on; tests replace it.
    using Clock = std::function<QDateTime()>;
    void setClock(Clock clock);

    // Takes up a pause stored by an earlier run, if it has not ended yet.
    void restore();
    // Pauses for a while from now, or until the next local midnight.
    void pauseFor(qint64 ms);
    void pauseUntilMidnight();
    // Resumes at once.
    void resume();
    // Ends the pause if its time has come (the machine may have slept through its timer).
    void check();

    // The first local midnight after now.
    static QDateTime nextLocalMidnight(const QDateTime &now);

private:
    void pauseUntil(const QDateTime &end);
    void store(const QDateTime &end);
    void startTimer();

    DashboardModel &m_model;
    Settings &m_settings;
    Clock m_clock;
    QTimer m_end;
};
