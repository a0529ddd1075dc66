#include "demohost.h"

#include "model/account.h"
#include "settings/settings.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrlQuery>

namespace {

// The form encoding the program uses for the login ID and password.
QByteArray formEncode(const QByteArray &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '*') {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

QByteArray randomHex(int bytes)
{
    QByteArray raw(bytes, '\0');
    for (char &c : raw)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return raw.toHex();
}

} // namespace

DemoHost::DemoHost(const QStringList &extraArgs) : m_nam(std::make_unique<QNetworkAccessManager>())
{
    // Control traffic stays on loopback whatever proxy the environment names.
    m_nam->setProxy(QNetworkProxy::NoProxy);
    const QString program = qEnvironmentVariable("ORMIX_DEMOHOST");
    if (program.isEmpty()) {
        m_error = QStringLiteral("ORMIX_DEMOHOST is not set");
        return;
    }
    m_token = randomHex(16);
    m_process.setReadChannel(QProcess::StandardOutput);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(program, QStringList{QStringLiteral("--port"), QStringLiteral("0"),
                                         QStringLiteral("--token"), QString::fromLatin1(m_token),
                                         QStringLiteral("--exit-on-stdin-eof")} +
                                 extraArgs);
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("cannot start %1: %2").arg(program, m_process.errorString());
        return;
    }
    QDeadlineTimer deadline(10000);
    while (m_password.isNull() && !deadline.hasExpired()) {
        if (!m_process.canReadLine() &&
            !m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
            break;
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PORT "))
                m_port = static_cast<quint16>(line.mid(5).toUInt());
            else if (line.startsWith("PASSWORD "))
                m_password = QString::fromUtf8(line.mid(9));
        }
    }
    if (m_port == 0 || m_password.isNull())
        m_error = QStringLiteral("the demo host did not report its port");
}

DemoHost::~DemoHost()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

bool DemoHost::isRunning() const
{
    return m_error.isEmpty() && m_process.state() == QProcess::Running;
}

void DemoHost::enterAccount(Account &account, Settings &settings, int intervalSeconds) const
{
    account.blogUrl = blogUrl().toStdString();
    account.id = user().toStdString();
    account.setPassword(password().toStdString());
    settings.set(Settings::PollInterval, intervalSeconds);
}

QString DemoHost::blogUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

QUrl DemoHost::baseUrl() const
{
    return QUrl(blogUrl() + QLatin1Char('/'));
}

QUrl DemoHost::dashboardUrl() const
{
    return QUrl(blogUrl() + QStringLiteral("/owner/center/dashboard"));
}

QUrl DemoHost::url(const QString &pathAndQuery) const
{
    return QUrl(blogUrl() + pathAndQuery);
}

QUrl DemoHost::loginUrl() const
{
    return QUrl(blogUrl() +
                QStringLiteral("/login?requestURI=http%3A%2F%2F127.0.0.1%3A%1%2Fowner%2Fcenter%2F"
                               "dashboard&try=1")
                    .arg(m_port));
}

QByteArray DemoHost::loginBody(const QByteArray &id, const QByteArray &password) const
{
    // The host part goes in unchanged, as the program does.
    return "requestURI=http%3A%2F%2F127.0.0.1:" + QByteArray::number(m_port) +
           "%2Fowner%2Fcenter%2Fdashboard&goPortal=false&loginid=" + formEncode(id) +
           "&password=" + formEncode(password) + "&save=on";
}

DemoHost::Reply DemoHost::request(const QByteArray &method, const QString &pathAndQuery,
                                  const QByteArray &formBody, bool withToken)
{
    QNetworkRequest req(url(pathAndQuery));
    if (withToken)
        req.setRawHeader("X-Control-Token", m_token);
    QNetworkReply *reply = nullptr;
    if (method == "POST") {
        req.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
        reply = m_nam->post(req, formBody);
    } else {
        reply = m_nam->sendCustomRequest(req, method);
    }
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(15000);
    loop.exec();
    Reply r;
    if (reply->isFinished()) {
        r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        r.body = reply->readAll();
    } else {
        reply->abort();
    }
    reply->deleteLater();
    return r;
}

QJsonObject DemoHost::post(const QString &path, const QList<QPair<QString, QByteArray>> &fields)
{
    QByteArray body;
    for (const auto &[name, value] : fields) {
        if (!body.isEmpty())
            body += '&';
        body += name.toUtf8().toPercentEncoding() + '=' + value.toPercentEncoding();
    }
    const Reply r = request("POST", path, body);
    if (r.status != 200)
        return {};
    return QJsonDocument::fromJson(r.body).object();
}

static QByteArray kindName(DemoHost::Kind kind)
{
    return QByteArray::number(static_cast<int>(kind));
}

QJsonObject DemoHost::addItem(Kind kind, const QString &text, const QString &link)
{
    return post(QStringLiteral("/control/items"), {{QStringLiteral("kind"), kindName(kind)},
                                                   {QStringLiteral("text"), text.toUtf8()},
                                                   {QStringLiteral("link"), link.toUtf8()}})
        .value(QStringLiteral("item"))
        .toObject();
}

bool DemoHost::removeItem(Kind kind, qint64 id)
{
    return !post(QStringLiteral("/control/items/remove"),
                 {{QStringLiteral("kind"), kindName(kind)},
                  {QStringLiteral("id"), QByteArray::number(id)}})
                .isEmpty();
}

bool DemoHost::removeAll(Kind kind)
{
    return !post(QStringLiteral("/control/items/remove"),
                 {{QStringLiteral("kind"), kindName(kind)}, {QStringLiteral("all"), "1"}})
                .isEmpty();
}

QJsonObject DemoHost::items()
{
    const Reply r = request("GET", QStringLiteral("/control/items"));
    return r.status == 200 ? QJsonDocument::fromJson(r.body).object() : QJsonObject();
}

bool DemoHost::setCount(int today, int yesterday, int total)
{
    QList<QPair<QString, QByteArray>> fields{{QStringLiteral("today"), QByteArray::number(today)}};
    if (yesterday >= 0)
        fields.append({QStringLiteral("yesterday"), QByteArray::number(yesterday)});
    if (total >= 0)
        fields.append({QStringLiteral("total"), QByteArray::number(total)});
    return !post(QStringLiteral("/control/count"), fields).isEmpty();
}

bool DemoHost::expireSessions()
{
    return !post(QStringLiteral("/control/sessions/expire"), {}).isEmpty();
}

bool DemoHost::setPassword(const QByteArray &password)
{
    if (post(QStringLiteral("/control/password"), {{QStringLiteral("password"), password}})
            .isEmpty())
        return false;
    m_password = QString::fromUtf8(password);
    return true;
}

bool DemoHost::injectFault(const QString &kind, int count, qint64 value, const QString &option)
{
    QList<QPair<QString, QByteArray>> fields{
        {QStringLiteral("kind"), kind.toUtf8()},
        {QStringLiteral("count"),
         count < 0 ? QByteArrayLiteral("all") : QByteArray::number(count)}};
    if (value != 0)
        fields.append({QStringLiteral("value"), QByteArray::number(value)});
    if (!option.isEmpty())
        fields.append({QStringLiteral("option"), option.toUtf8()});
    return !post(QStringLiteral("/control/faults"), fields).isEmpty();
}

bool DemoHost::clearFaults()
{
    return !post(QStringLiteral("/control/faults/clear"), {}).isEmpty();
}

QJsonObject DemoHost::stats()
{
    const Reply r = request("GET", QStringLiteral("/control/stats"));
    return r.status == 200 ? QJsonDocument::fromJson(r.body).object() : QJsonObject();
}

bool DemoHost::resetStats()
{
    return !post(QStringLiteral("/control/stats/reset"), {}).isEmpty();
}
