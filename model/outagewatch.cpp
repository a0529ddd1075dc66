#include "outagewatch.h"

#include "base/logging.h"
#include "model/dashboardmodel.h"

#include <QElapsedTimer>

#include <algorithm>

OutageWatch::OutageWatch(DashboardModel &model, QObject *parent)
    : QObject(parent), m_model(model), m_clock([] {
          QElapsedTimer now;
          now.start();
          return now.msecsSinceReference();
      })
{
    connect(&model, &DashboardModel::pollStatusChanged, this, &OutageWatch::onPollStatus);
}

OutageWatch::~OutageWatch() = default;

QString OutageWatch::durationText(qint64 ms)
{
    const qint64 seconds = std::max<qint64>(ms, 0) / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
}

void OutageWatch::onPollStatus()
{
    if (m_model.lastFailure().isEmpty()) {
        if (m_failingSince >= 0)
            qCWarning(lcPoll).noquote()
                << "the dashboard reads again after" << durationText(m_clock() - m_failingSince)
                << "of failed polls";
        m_failingSince = -1;
        if (m_told) {
            m_told = false;
            emit outageEnded();
        }
        return;
    }
    const qint64 now = m_clock();
    if (m_failingSince < 0)
        m_failingSince = now;
    if (!m_told && now - m_failingSince >= LongMs) {
        m_told = true;
        emit outageBegan(m_model.lastFailure());
    }
}
