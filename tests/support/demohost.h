#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QUrl>

#include <memory>

class Account;
class Settings;
class QNetworkAccessManager;

// Runs the demo blog host ($ORMIX_DEMOHOST) on a free loopback port for one test and
// drives its control channel. Control calls are synchronous: each spins a local event
// loop until the answer arrives. The process is killed when the object goes.
class DemoHost
{
public:
    enum Kind
    {
        Comment = 0,
        Trackback = 1,
        Guestbook = 2
    };

    // Extra arguments go to the host (for example "--page-size", "150000").
    explicit DemoHost(const QStringList &extraArgs = {});
    ~DemoHost();
    DemoHost(const DemoHost &) = delete;
    DemoHost &operator=(const DemoHost &) = delete;

    // True once the host printed its port and token; errorString() says why not.
    bool isRunning() const;
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    QByteArray token() const { return m_token; }
    QString user() const { return QStringLiteral("owner"); }
    QString password() const { return m_password; }
    // "http://127.0.0.1:PORT", the blog address the program is given.
    QString blogUrl() const;
    // Puts this host's account into account and the interval given into settings as the one
    // in use: what the login dialog leaves there.
    void enterAccount(Account &account, Settings &settings, int intervalSeconds) const;
    QUrl baseUrl() const;
    QUrl dashboardUrl() const;
    QUrl url(const QString &pathAndQuery) const;

    // The login address and form body exactly as the program builds them.
    QUrl loginUrl() const;
    QByteArray loginBody(const QByteArray &id, const QByteArray &password) const;

    // Control calls; each returns the host's JSON answer (empty on failure).
    QJsonObject addItem(Kind kind, const QString &text = {}, const QString &link = {});
    bool removeItem(Kind kind, qint64 id);
    bool removeAll(Kind kind);
    QJsonObject items();
    bool setCount(int today, int yesterday = -1, int total = -1);
    bool expireSessions();
    bool setPassword(const QByteArray &password);
    // kind: delay, status, close, endless, trickle, oversize, redirectloop, euckr,
    // garbage, truncated, nocounter, nonew. count < 0 means until cleared.
    bool injectFault(const QString &kind, int count = 1, qint64 value = 0,
                     const QString &option = {});
    bool clearFaults();
    QJsonObject stats();
    bool resetStats();

    // A raw control request, for tests of the channel itself.
    struct Reply
    {
        int status = 0;
        QByteArray body;
    };
    Reply request(const QByteArray &method, const QString &pathAndQuery,
                  const QByteArray &formBody = {}, bool withToken = true);

private:
    QJsonObject post(const QString &path, const QList<QPair<QString, QByteArray>> &fields);

    QProcess m_process;
    std::unique_ptr<QNetworkAccessManager> m_nam;
    quint16 m_port = 0;
    QByteArray m_token;
    QString m_password;
    QString m_error;
};
