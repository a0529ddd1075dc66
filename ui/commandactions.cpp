#include "commandactions.h"

#include <QAction>
#include <QMenu>

CommandActions::CommandActions(QObject *parent)
    : QObject(parent), checkNow(new QAction(QStringLiteral("지금 확인"), this)),
      markAllRead(new QAction(QStringLiteral("모두 읽음으로 표시"), this)),
      pauseHour(new QAction(QStringLiteral("1시간"), this)),
      pauseTomorrow(new QAction(QStringLiteral("내일까지"), this)),
      resume(new QAction(QStringLiteral("다시 알리기"), this)),
      openDashboard(new QAction(QStringLiteral("관리 페이지 열기"), this))
{
    checkNow->setObjectName(QStringLiteral("checkNow"));
    markAllRead->setObjectName(QStringLiteral("markAllRead"));
    pauseHour->setObjectName(QStringLiteral("pauseHour"));
    pauseTomorrow->setObjectName(QStringLiteral("pauseTomorrow"));
    resume->setObjectName(QStringLiteral("resume"));
    openDashboard->setObjectName(QStringLiteral("openDashboard"));
    setPaused(false);
}

CommandActions::~CommandActions() = default;

QString CommandActions::pauseMenuTitle()
{
    return QStringLiteral("알림 일시 중지");
}

void CommandActions::addTopRows(QMenu *menu) const
{
    menu->addAction(checkNow);
    menu->addAction(markAllRead);
    QMenu *pause = menu->addMenu(pauseMenuTitle());
    pause->addAction(pauseHour);
    pause->addAction(pauseTomorrow);
    pause->addSeparator();
    pause->addAction(resume);
}

void CommandActions::setPaused(bool paused)
{
    resume->setEnabled(paused);
}
