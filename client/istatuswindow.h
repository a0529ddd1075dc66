#pragma once

#include <QDateTime>
#include <QString>

// What the view needs of the status window; the presentation layer implements it.
class IStatusWindow
{
public:
    virtual ~IStatusWindow() = default;
    // Brings the window up to date with the store; nothing before the window exists.
    virtual void Refresh() = 0;
    // Applies a transparency in percent (capped at 95).
    virtual void SetTransparency(int percent) = 0;
    // Tells the window how polling goes, for its tooltip: the time of the last good
    // reading (invalid when none yet) and what failed last (empty when the last poll was fine).
    virtual void SetPollStatus(const QDateTime &lastSuccess, const QString &lastFailure) = 0;
};
