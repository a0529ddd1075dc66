#include "state/browserlaunch.h"

#include <QProcess>
#include <QString>
#include <QStringList>

bool launchWebBrowser(const std::string &url)
{
    if (!isOpenableWebAddress(url))
        return false;
    // An argument list, never a shell: the address is one argv entry.
    return QProcess::startDetached(QStringLiteral("xdg-open"),
                                   QStringList{QString::fromStdString(url)});
}
