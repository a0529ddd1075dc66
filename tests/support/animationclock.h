#pragma once

#include <QAnimationDriver>
#include <QCoreApplication>

// While it lives, every animation of this thread runs on this clock, which moves only when
// advanced: slides are stepped by hand, or held still by never advancing.
class AnimationClock final : public QAnimationDriver
{
public:
    AnimationClock() { install(); }
    ~AnimationClock() override { uninstall(); }
    AnimationClock(const AnimationClock &) = delete;
    AnimationClock &operator=(const AnimationClock &) = delete;

    void advanceBy(qint64 ms)
    {
        // Animations begin from queued calls; they must have begun before time moves.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        m_now += ms;
        advance();
    }
    qint64 elapsed() const override { return m_now - m_startedAt; }

protected:
    void start() override
    {
        m_startedAt = m_now;
        QAnimationDriver::start();
    }

private:
    qint64 m_now = 0;
    qint64 m_startedAt = 0;
};
