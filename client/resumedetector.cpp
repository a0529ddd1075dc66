#include "resumedetector.h"

#include <QDateTime>
#include <QElapsedTimer>

ResumeDetector::ResumeDetector()
{
    setClocks([] { return QDateTime::currentMSecsSinceEpoch(); },
              [] {
                  QElapsedTimer now;
                  now.start();
                  return now.msecsSinceReference();
              });
}

void ResumeDetector::setClocks(Clock wallMs, Clock steadyMs)
{
    m_wall = std::move(wallMs);
    m_steady = std::move(steadyMs);
    m_lastWall = m_wall();
    m_lastSteady = m_steady();
}

qint64 ResumeDetector::check(qint64 gapMs)
{
    const qint64 wall = m_wall();
    const qint64 steady = m_steady();
    const qint64 gained = (wall - m_lastWall) - (steady - m_lastSteady);
    m_lastWall = wall;
    m_lastSteady = steady;
    return gained > gapMs ? gained : 0;
}
