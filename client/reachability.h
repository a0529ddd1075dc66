#pragma once

#include <QObject>

// Tells whether the wider network can be reached, so that polling can resume the moment
// it comes back instead of up to a whole interval later.
class ReachabilitySource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    // online: the internet is reachable; false when the network is down or local only.
    void reachabilityChanged(bool online);
};

// Qt's network information backend (NetworkManager, GLib...) where the platform has one;
// without one it never reports anything.
class NetworkReachability final : public ReachabilitySource
{
    Q_OBJECT
public:
    explicit NetworkReachability(QObject *parent = nullptr);
    bool hasBackend() const { return m_hasBackend; }

private:
    bool m_hasBackend = false;
};
