#pragma once

#include "client/pageloader.h"
#include "client/pagereader.h"
#include "client/resumedetector.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <string>

class Account;
class DashboardModel;
class ReachabilitySource;
class Settings;

// Login state towards the blog host, moved only by the poller.
enum class LoginState
{
    LoggedOut,
    LoginPosted,
    LoggedIn
};

// Why the poller needs a person to log in.
struct LoginProblem
{
    enum class Reason
    {
        Refused,        // the host answered the login, but not with the dashboard
        HostUnreachable // a login typed a moment ago got no answer from the host
    };
    Reason reason = Reason::Refused;
    // For HostUnreachable, the failed load's message as the error box shows it.
    QString errorText;
};

// Logs in to the blog host with the account, reloads the dashboard on its poll timer (at
// the interval the settings give this run, which it follows) and hands every reading, and
// how each poll went, to the model. What it needs of a person
// (a login dialog, the error box) it asks for with signals.
class Poller final : public QObject
{
    Q_OBJECT
public:
    Poller(Account &account, DashboardModel &model, const Settings &settings,
           QObject *parent = nullptr);
    ~Poller() override;
    Poller(const Poller &) = delete;
    Poller &operator=(const Poller &) = delete;

    // Sends the first login.
    void start();
    // Posts the login form with the account's credentials.
    void logIn();
    // Stops the poll timer.
    void stop();

    // Whether the account's credentials were typed into the login dialog a moment ago, so
    // a person is there (true until the host accepts them), or come from the keyring or an
    // earlier login. A login of the latter kind that cannot reach the host is retried, never
    // handed to a person.
    void setCredentialsTyped(bool typed) { m_credentialsTyped = typed; }
    LoginState loginState() const { return m_loginState; }

    // One poll exactly as the timer runs it (skipped while a load, a reading or a login is
    // under way), so the soak test and benchmarks need not wait for the timer.
    void pollNow();
    // True while a load or the reading of a page is under way.
    bool isBusy() const { return m_loader.isBusy() || m_reader.isBusy(); }

    // The person asked to check now: one poll at once, unless one was asked for less than
    // CheckNowGapMs ago (on the timers' clock) or a load or a login runs; false when none
    // went out.
    bool checkNow();
    static constexpr qint64 CheckNowGapMs = 5000;

    // Polls at once when the network comes back (not owned; null for none).
    void setReachabilitySource(ReachabilitySource *source);
    // The clocks the resume check reads; tests replace them.
    ResumeDetector &resumeDetector() { return m_resume; }

    // The loader's and the reader's limits and deadlines; tests and benchmarks set them.
    PageLoader &loader() { return m_loader; }
    PageReader &reader() { return m_reader; }

signals:
    // The host refused the login, or one typed a moment ago could not reach it: the login
    // dialog is to run and then logIn, or the run ends.
    void loginNeeded(const LoginProblem &problem);
    // The host accepted the account's credentials.
    void loginSucceeded();
    // A page could not be loaded; message is the error box's text.
    void loadFailed(const QString &message);
    // The machine woke from a suspend (the wall clock ran ahead of the timers).
    void resumed();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    void startPollTimer();
    // Restarts the poll timer with the interval in use; nothing before the first login.
    void restartTimer();
    // The driver of login and polls: every load ends here, with its page or its error.
    void onLoadFinished(const PageLoader::Result &result);
    // The error box's message, the tooltip and the log for a load that failed; gives the
    // message.
    QString reportLoadFailure(const PageLoader::Result &result);
    // A page the host answered with (an error answer too, at a login).
    void onPageLoaded(const PageLoader::Result &result);
    // Hands the dashboard to the page reader.
    void readPage(const PageLoader::Result &result);
    // Takes the reading into the model, or reports why there is none.
    void onPageRead(const PageReader::Result &result);
    void reportPollStatus();
    void onReachabilityChanged(bool online);
    // Polls at once when the wall clock ran well ahead of the timers (a resume from
    // suspend). Runs whenever the event loop wakes, the poll timer's wake-ups included.
    void checkForResume();
    // One extra poll, unless a load or a login runs (then it would add nothing); false
    // when none was made.
    bool extraPoll(const char *reason);
    // A login post that failed before the host answered it with a page; message is the
    // failure's text.
    void loginDidNotReachHost(int statusCode, const QString &message);

    Account &m_account;
    DashboardModel &m_model;
    const Settings &m_settings;
    PageLoader m_loader;
    PageReader m_reader;
    LoginState m_loginState = LoginState::LoggedOut;
    int m_timerId = 0;
    int m_pollPeriodMs = 0;
    std::string m_pollUrl;
    QDateTime m_lastSuccess;
    QString m_lastFailure;
    // The last poll failed; the next good reading is a recovery.
    bool m_failing = false;
    QPointer<ReachabilitySource> m_reachability;
    int m_online = -1; // unknown until the source says
    ResumeDetector m_resume;
    QTimer m_resumePoll;
    // When the network last brought a poll out of turn (steady clock); a flapping network
    // brings at most one per poll period.
    qint64 m_lastNetworkPollMs = -1;
    // When the person last had a poll sent by checkNow (steady clock).
    qint64 m_lastCheckNowMs = -1;
    bool m_credentialsTyped = true;
    bool m_loginRetry = false;
};
