#include "outagewatch.h"

#include "state/dashboardmodel.h"

#include <QElapsedTimer>

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

void OutageWatch::onPollStatus()
{
    if (m_model.lastFailure().isEmpty()) {
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
