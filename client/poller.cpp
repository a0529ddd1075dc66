#include "poller.h"

#include "base/asciitext.h"
#include "base/logging.h"
#include "base/secret.h"
#include "blog/blogaddress.h"
#include "client/reachability.h"
#include "model/account.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"

#include <QAbstractEventDispatcher>
#include <QTimerEvent>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <utility>

namespace {

// An error that says nothing of the credentials: the network, the server, or the host asking
// to wait.
bool isOutage(int error)
{
    return error < 0 || error >= 500 || error == 408 || error == 429;
}

// The poll period for an interval in seconds, clamped to what a timer can hold.
int periodForInterval(int intervalSeconds)
{
    const long long ms = static_cast<long long>(intervalSeconds) * 1000;
    return static_cast<int>(std::clamp<long long>(ms, 1000, INT_MAX));
}

} // namespace

Poller::Poller(Account &account, DashboardModel &model, const Settings &settings, QObject *parent)
    : QObject(parent), m_account(account), m_model(model), m_settings(settings)
{
    // A new interval takes effect at once; before the first login there is no timer yet.
    settings.observe(Settings::PollInterval, this, [this](int) { restartTimer(); });
    connect(&m_loader, &PageLoader::finished, this, &Poller::onLoadFinished);
    connect(&m_reader, &PageReader::finished, this, &Poller::onPageRead);
    // A resume shows first as the event loop waking (input, the desktop redrawing) long
    // before the poll timer, whose clock stood still while the machine slept, comes due.
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, &Poller::checkForResume);
    m_resumePoll.setSingleShot(true);
    m_resumePoll.setInterval(0);
    connect(&m_resumePoll, &QTimer::timeout, this, [this] {
        emit resumed();
        extraPoll("a resume");
    });
}

Poller::~Poller()
{
    stop();
}

void Poller::start()
{
    logIn();
}

void Poller::logIn()
{
    const std::string &blogUrl = m_account.blogUrl;
    std::string body = blogaddress::loginBody(blogUrl, m_account.id, m_account.password());

    qCInfo(lcLogin) << "posting the login form to"
                    << logging::safeAddress(blogaddress::loginAddress(blogUrl));
    // The loader keeps a copy of its own until the post is answered, and wipes it then.
    m_loader.post(QUrl(QString::fromStdString(blogaddress::loginAddress(blogUrl))),
                  QByteArray::fromRawData(body.data(), static_cast<qsizetype>(body.size())),
                  QByteArrayLiteral("application/x-www-form-urlencoded"));
    wipeString(body);
    m_loginState = LoginState::LoginPosted;
}

void Poller::onLoadFinished(const PageLoader::Result &result)
{
    const std::string address = result.address.toString(QUrl::FullyEncoded).toStdString();
    if (!result.ok()) {
        const QString message = reportLoadFailure(result);
        // A failed poll has nothing to read; the next one comes at its time.
        if (m_loginState != LoginState::LoginPosted)
            return;
        // The host took the login and sent it on to the dashboard, which failed: logged in,
        // with a failed reading. Otherwise only a page the host answered with refuses a
        // login; a failure on the way there, a server error, or an answer that asks to wait
        // (408, 429) is an outage.
        if (!blogaddress::isDashboardAddress(address, m_account.blogUrl) &&
            isOutage(result.error)) {
            loginDidNotReachHost(result.error, message);
            return;
        }
    }
    onPageLoaded(result);
}

QString Poller::reportLoadFailure(const PageLoader::Result &result)
{
    const std::string address = result.address.toString(QUrl::FullyEncoded).toStdString();
    // Both filled in one step: an address holds "%2F" and the like, which a second arg()
    // would take for its own place marker.
    QString message = QStringLiteral("웹페이지 조회에 실패했습니다(%1), 오류 코드 (%2)")
                          .arg(QString::fromStdString(address), QString::number(result.error));
    m_lastFailure = message;
    // The first failure after a good reading starts an outage in the log; the rest of it
    // would only repeat that line at every poll.
    if (!std::exchange(m_failing, true))
        qCWarning(lcNetwork) << "outage: load failed with code" << result.error << "at"
                             << logging::safeAddress(address);
    else
        qCDebug(lcNetwork) << "load failed with code" << result.error << "at"
                           << logging::safeAddress(address);
    reportPollStatus();
    emit loadFailed(message);
    return message;
}

void Poller::onPageLoaded(const PageLoader::Result &result)
{
    // The path keeps its case: the blog's own may need it.
    const std::string location =
        withLowerCaseSchemeAndHost(result.address.toString(QUrl::FullyEncoded).toStdString());
    const bool onDashboard = blogaddress::isDashboardAddress(location, m_account.blogUrl);

    switch (m_loginState) {
    case LoginState::LoginPosted:
        if (onDashboard) {
            m_pollUrl = location;
            m_loginState = LoginState::LoggedIn;
            m_loginRetry = false;
            m_credentialsTyped = false;
            qCInfo(lcLogin) << "logged in";
            m_model.logIn(m_account.blogUrl, m_account.id);
            emit loginSucceeded();
            readPage(result);
            // A login renewed after the session expired keeps the timer that runs.
            if (m_timerId == 0)
                startPollTimer();
        } else {
            m_loginState = LoginState::LoggedOut;
            m_loginRetry = false;
            qCWarning(lcLogin) << "login refused: the host answered from"
                               << logging::safeAddress(location);
            emit loginNeeded({LoginProblem::Reason::Refused, {}});
        }
        break;
    case LoginState::LoggedIn:
        if (!onDashboard) {
            // The host ended the session and sent us elsewhere: log in again silently
            // with the credentials in memory rather than show stale numbers for ever.
            qCInfo(lcLogin) << "session ended (sent to" << logging::safeAddress(location)
                            << "); logging in again with the password kept for this run";
            logIn();
            return;
        }
        readPage(result);
        break;
    default:
        break;
    }
}

void Poller::loginDidNotReachHost(int statusCode, const QString &message)
{
    m_loginState = LoginState::LoggedOut;
    if (m_credentialsTyped) {
        // Someone typed these a moment ago: they may have mistyped the address.
        qCWarning(lcLogin).nospace()
            << "the login did not reach the host (code " << statusCode << "); asking again";
        emit loginNeeded({LoginProblem::Reason::HostUnreachable, message});
        return;
    }
    // Nobody is asked for what waiting can fix: the network may not be up yet, the host
    // may be down for maintenance. The same credentials go out again at every poll.
    if (!std::exchange(m_loginRetry, true))
        qCWarning(lcLogin).nospace() << "the login did not reach the host (code " << statusCode
                                     << "); trying again at every poll";
    if (m_timerId == 0)
        startPollTimer();
}

void Poller::readPage(const PageLoader::Result &result)
{
    // No page: the load failed, and that was reported as it is.
    if (m_loginState != LoginState::LoggedIn || !result.ok())
        return;
    m_reader.read(result.body, result.charset, result.address);
}

void Poller::onPageRead(const PageReader::Result &result)
{
    // Read from a session that has since ended: another login (maybe into another blog or
    // ID) is under way, and its own first reading follows.
    if (m_loginState != LoginState::LoggedIn)
        return;
    if (result.outcome != PageReader::Result::Read) {
        m_lastFailure = QStringLiteral("대시보드를 읽지 못했습니다");
        // A reader that cannot start was logged by the page reader, once.
        const QString where = logging::safeAddress(m_pollUrl) + QLatin1Char(':');
        if (result.outcome == PageReader::Result::CannotStart || m_failing)
            qCDebug(lcPoll).noquote() << "no reading at" << where << result.why;
        else
            qCWarning(lcPoll).noquote()
                << "outage: the dashboard could not be read at" << where << result.why;
        m_failing = true;
        reportPollStatus();
        return;
    }
    m_model.takeReading(result.reading);
    m_lastSuccess = QDateTime::currentDateTime();
    m_lastFailure.clear();
    qCDebug(lcPoll) << "dashboard read; today" << result.reading.todayCount;
    // The outage's end, with its length, is the outage watch's line.
    m_failing = false;
    reportPollStatus();
}

void Poller::stop()
{
    if (m_timerId != 0) {
        killTimer(m_timerId);
        m_timerId = 0;
    }
}

void Poller::restartTimer()
{
    if (m_timerId == 0)
        return;
    killTimer(m_timerId);
    m_timerId = 0;
    startPollTimer();
}

void Poller::startPollTimer()
{
    m_pollPeriodMs = periodForInterval(m_settings.value(Settings::PollInterval));
    m_timerId = startTimer(m_pollPeriodMs, Qt::CoarseTimer);
    qCInfo(lcPoll) << "polling every" << m_pollPeriodMs / 1000 << "s";
}

void Poller::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId || m_timerId == 0) {
        QObject::timerEvent(event);
        return;
    }
    checkForResume();
    pollNow();
}

void Poller::pollNow()
{
    // Polls due while a login is under way or while the last load still runs are skipped:
    // a reload would cancel the login post or the slow load (which then could never time
    // out). An open error box does not stop them; a further failure opens no second box.
    if (isBusy()) {
        qCDebug(lcPoll) << "poll skipped: the last load or its reading still runs";
        return;
    }
    const LoginState state = m_loginState;
    if (state == LoginState::LoggedOut && m_loginRetry) {
        qCInfo(lcLogin) << "trying the login again with the password kept for this run";
        logIn();
        return;
    }
    if (state != LoginState::LoggedIn) {
        qCDebug(lcPoll) << "poll skipped: not logged in";
        return;
    }
    qCDebug(lcPoll) << "poll";
    m_lastFailure.clear();
    m_loader.get(QUrl(QString::fromStdString(m_pollUrl)));
}

void Poller::reportPollStatus()
{
    m_model.setPollStatus(m_lastSuccess, m_lastFailure);
}

void Poller::setReachabilitySource(ReachabilitySource *source)
{
    if (m_reachability)
        disconnect(m_reachability, nullptr, this, nullptr);
    m_reachability = source;
    m_online = -1;
    if (source)
        connect(source, &ReachabilitySource::reachabilityChanged, this,
                &Poller::onReachabilityChanged);
}

void Poller::onReachabilityChanged(bool online)
{
    const bool cameBack = online && m_online == 0;
    m_online = online ? 1 : 0;
    if (!cameBack)
        return;
    // A network that flaps must not turn into a poll per flap.
    const qint64 now = m_resume.steadyMs();
    if (m_lastNetworkPollMs >= 0 && now - m_lastNetworkPollMs < m_pollPeriodMs) {
        qCDebug(lcPoll) << "the network came back again within a poll period; no extra poll";
        return;
    }
    if (extraPoll("the network came back"))
        m_lastNetworkPollMs = now;
}

void Poller::checkForResume()
{
    // Gaining more than a poll period (up to half a minute) means at least one poll was
    // missed while the machine slept.
    const qint64 gap = std::clamp(m_pollPeriodMs, 2000, 30000);
    const qint64 gained = m_resume.check(gap);
    if (gained == 0 || m_resumePoll.isActive())
        return;
    qCInfo(lcPoll) << "resumed: the wall clock ran" << gained / 1000 << "s ahead of the timers";
    // Not from inside the event dispatcher's wake-up: the poll goes out from the loop.
    m_resumePoll.start();
}

bool Poller::checkNow()
{
    // A person clicking again and again must not turn into a load per click.
    const qint64 now = m_resume.steadyMs();
    if (m_lastCheckNowMs >= 0 && now - m_lastCheckNowMs < CheckNowGapMs) {
        qCInfo(lcPoll) << "check now: the last one was less than" << CheckNowGapMs / 1000
                       << "s ago";
        return false;
    }
    if (!extraPoll("the person asked"))
        return false;
    m_lastCheckNowMs = now;
    return true;
}

bool Poller::extraPoll(const char *reason)
{
    const LoginState state = m_loginState;
    const bool waiting =
        state == LoginState::LoggedIn || (state == LoginState::LoggedOut && m_loginRetry);
    if (!waiting || isBusy()) {
        qCDebug(lcPoll) << "no extra poll after" << reason << "while a load or a login runs";
        return false;
    }
    qCInfo(lcPoll) << "polling at once after" << reason;
    pollNow();
    return true;
}
