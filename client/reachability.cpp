#include "reachability.h"

#include "base/logging.h"

#include <QNetworkInformation>

NetworkReachability::NetworkReachability(QObject *parent) : ReachabilitySource(parent)
{
    using Info = QNetworkInformation;
    if (!Info::loadBackendByFeatures(Info::Feature::Reachability) || !Info::instance()) {
        qCInfo(lcNetwork) << "no network information backend; reachability is not watched";
        return;
    }
    m_hasBackend = true;
    qCInfo(lcNetwork) << "watching reachability through" << Info::instance()->backendName();
    connect(Info::instance(), &Info::reachabilityChanged, this, [this](Info::Reachability r) {
        qCInfo(lcNetwork) << "reachability:" << r;
        // Unknown says nothing either way; local or site-only counts as down.
        if (r != Info::Reachability::Unknown)
            emit reachabilityChanged(r == Info::Reachability::Online);
    });
}
