#pragma once

#include <QtGlobal>

#include <functional>

// Notices that the machine slept: the wall clock goes on during a suspend while the steady
// clock, which drives every timer, stands still.
class ResumeDetector
{
public:
    using Clock = std::function<qint64()>; // milliseconds

    ResumeDetector();
    // Replaces the system clocks (tests); starts measuring anew.
    void setClocks(Clock wallMs, Clock steadyMs);
    // How far the wall clock ran ahead of the steady clock since the last call, when that
    // is more than gapMs; 0 otherwise. A clock set back is no resume.
    qint64 check(qint64 gapMs);
    // The steady clock's reading, for whoever measures time the way the timers run.
    qint64 steadyMs() const { return m_steady(); }

private:
    Clock m_wall;
    Clock m_steady;
    qint64 m_lastWall = 0;
    qint64 m_lastSteady = 0;
};
