#include "logging.h"

#include <QUrl>

Q_LOGGING_CATEGORY(lcLogin, "ormix.login", QtWarningMsg)
Q_LOGGING_CATEGORY(lcPoll, "ormix.poll", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNetwork, "ormix.network", QtWarningMsg)
Q_LOGGING_CATEGORY(lcInstance, "ormix.instance", QtWarningMsg)
Q_LOGGING_CATEGORY(lcState, "ormix.state", QtWarningMsg)
Q_LOGGING_CATEGORY(lcReader, "ormix.reader", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNotice, "ormix.notice", QtInfoMsg)

namespace logging {

QString safeAddress(const std::string &url)
{
    const QUrl parsed(QString::fromStdString(url));
    if (!parsed.isValid())
        return QStringLiteral("(invalid address)");
    QString text = parsed.toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment |
                                   QUrl::FullyEncoded);
    if (parsed.hasQuery())
        text += QStringLiteral("?...");
    if (parsed.hasFragment())
        text += QStringLiteral("#...");
    return text;
}

} // namespace logging
