#include "controller.h"

#include "app/prompter.h"
#include "base/logging.h"
#include "blog/blogaddress.h"
#include "client/poller.h"
#include "client/reachability.h"
#include "desktop/browser.h"
#include "desktop/desktopnotifier.h"
#include "desktop/passwordkeyring.h"
#include "desktop/trayavailability.h"
#include "model/account.h"
#include "model/dashboardmodel.h"
#include "model/noticepause.h"
#include "model/outagewatch.h"
#include "model/seenmemory.h"
#include "settings/settings.h"
#include "ui/commandactions.h"
#include "ui/noticepopup.h"
#include "ui/statusstrip.h"
#include "ui/trayicon.h"

#include <QAction>
#include <QCoreApplication>
#include <QRect>
#include <QSignalBlocker>

#include <utility>

Controller::Controller(Account &account, DashboardModel &model, Settings &settings,
                       Prompter &prompter)
    : m_account(account), m_model(model), m_settings(settings), m_prompter(prompter)
{
    m_poller = new Poller(account, model, settings, this);
    // Queued: the dialog runs from the event loop, once the poller's handler is done.
    connect(m_poller, &Poller::loginNeeded, this, &Controller::runLoginDialog,
            Qt::QueuedConnection);
    connect(m_poller, &Poller::loginSucceeded, this, &Controller::onLoginSucceeded);
    connect(m_poller, &Poller::loadFailed, this, &Controller::showLoadFailure);
    // The box would go on asserting a failure that no longer holds.
    connect(&model, &DashboardModel::readingChanged, this, [this] { m_prompter.closeErrorBox(); });

    m_notifier = new DesktopNotifier(this);
    settings.observe(Settings::DesktopNotify, m_notifier,
                     [this](bool on) { m_notifier->setEnabled(on); });
    // The notifications follow the model's announcements, as the notice does.
    connect(&model, &DashboardModel::announced, m_notifier,
            [this](ItemKind kind, const RecentItem &item) {
                m_notifier->notify(kind, NoticePopup::heading(kind),
                                   QString::fromStdString(item.text), item);
            });
    connect(m_notifier, &DesktopNotifier::itemRequested, this, &Controller::openItem);
    connect(m_notifier, &DesktopNotifier::kindRead, &model, &DashboardModel::clearNew);
    m_seen = new SeenMemory(model, SeenMemory::defaultPath(), this);
    m_pause = new NoticePause(model, settings, this);
    m_outage = new OutageWatch(model, this);
    connect(m_outage, &OutageWatch::outageBegan, this, &Controller::onOutageBegan);
    connect(m_outage, &OutageWatch::outageEnded, this, &Controller::onOutageEnded);
    connect(m_poller, &Poller::resumed, m_pause, &NoticePause::check);
    m_commands = new CommandActions(this);
    connectCommands();
    settings.observe(Settings::RememberSeen, this, [this](bool) { rememberSeenIfWanted(); });
    // The icon waits for the strip it stands for.
    settings.observe(Settings::TrayIcon, this, [this](bool) {
        if (m_strip)
            updateTrayIcon();
    });
}

void Controller::connectCommands()
{
    connect(m_commands->checkNow, &QAction::triggered, this, [this] {
        if (m_poller)
            m_poller->checkNow();
    });
    connect(m_commands->markAllRead, &QAction::triggered, &m_model, &DashboardModel::markAllRead);
    connect(m_commands->pauseHour, &QAction::triggered, this,
            [this] { m_pause->pauseFor(qint64(60) * 60 * 1000); });
    connect(m_commands->pauseTomorrow, &QAction::triggered, m_pause,
            &NoticePause::pauseUntilMidnight);
    connect(m_commands->resume, &QAction::triggered, m_pause, &NoticePause::resume);
    connect(m_commands->openDashboard, &QAction::triggered, this,
            [this] { openInBrowser(blogaddress::dashboardAddress(m_account.blogUrl)); });
    connect(&m_model, &DashboardModel::pauseChanged, this,
            [this] { m_commands->setPaused(m_model.isPaused()); });
}

void Controller::onOutageBegan(const QString &failure)
{
    // Said where a person may not look at the strip; a pause silences this too.
    if (m_model.isPaused())
        return;
    qCWarning(lcPoll) << "the dashboard has not read for" << OutageWatch::LongMs / 60000
                      << "minutes";
    m_notifier->notifyStatus(QStringLiteral("블로그를 읽지 못하고 있습니다"),
                             QStringLiteral("%1분 넘게 대시보드를 읽지 못했습니다.\n%2")
                                 .arg(OutageWatch::LongMs / 60000)
                                 .arg(failure));
    m_outageTold = m_notifier->isEnabled();
}

void Controller::onOutageEnded()
{
    // Only an outage that was told of is told to be over.
    if (!std::exchange(m_outageTold, false))
        return;
    m_notifier->notifyStatus(QStringLiteral("블로그를 다시 읽습니다"),
                             QStringLiteral("대시보드를 다시 읽을 수 있습니다."));
}

void Controller::updateTrayIcon()
{
    if (m_ended)
        return;
    const bool wanted = m_settings.value(Settings::TrayIcon);
    if (!wanted) {
        removeTrayIcon();
        delete m_trayAvailability;
        m_trayAvailability = nullptr;
        return;
    }
    if (!m_trayAvailability) {
        m_trayAvailability = new TrayAvailability(this);
        connect(m_trayAvailability, &TrayAvailability::changed, this, &Controller::updateTrayIcon);
    }
    if (!m_trayAvailability->isKnown() || !m_strip)
        return;
    const bool available = m_trayAvailability->isAvailable();
    const bool overStatusNotifier = m_trayAvailability->hasStatusNotifierHost();
    // A watcher that came after the icon was made over X11 (or went away) takes a new icon:
    // Qt chooses the protocol when the icon is made.
    if (m_tray && (!available || overStatusNotifier != m_trayOverStatusNotifier))
        removeTrayIcon();
    if (available && !m_tray) {
        qCInfo(lcState) << "tray icon shown"
                        << (overStatusNotifier ? "(StatusNotifierItem)" : "(X11 tray)");
        m_tray = new TrayIcon(m_model, *m_strip, this);
        m_trayOverStatusNotifier = overStatusNotifier;
    }
}

void Controller::removeTrayIcon()
{
    delete m_tray;
    m_tray = nullptr;
}

Controller::~Controller()
{
    tearDown();
    // Nothing runs on the windows by now; a deferred delete may not have come yet.
    delete m_strip.data();
}

StatusStrip *Controller::strip() const
{
    return m_ended ? nullptr : m_strip.data();
}

TrayIcon *Controller::trayIcon() const
{
    return m_tray;
}

void Controller::start(const std::optional<LoginChoice> &typed)
{
    // A pause that an earlier run began and that has not ended yet.
    m_pause->restore();
    createStrip();
    updateTrayIcon();
    // Polls at once when the network comes back after an outage or a suspend.
    m_reachability = new NetworkReachability(this);
    m_poller->setReachabilitySource(m_reachability);
    m_typed = typed;
    m_poller->setCredentialsTyped(typed.has_value());
    // The application reads the keyring only when it asks for no login.
    qCInfo(lcNotice) << "logging in with the password"
                     << (typed ? "typed in the login dialog" : "from the keyring");
    m_poller->start();
}

void Controller::tearDown()
{
    // The poll timer stops and the poller goes before the windows that show its readings.
    if (m_poller) {
        m_poller->stop();
        delete m_poller;
        m_poller = nullptr;
    }
    m_prompter.closeErrorBox();
    // The icon goes first: it would show the strip again as it goes.
    if (m_tray) {
        const QSignalBlocker quiet(m_tray->hideStripAction());
        m_tray->hideStripAction()->setChecked(false);
        removeTrayIcon();
    }
    // The strip may be what a menu or a dialog still runs its own loop on (a login refused
    // while the strip's menu is open, cancelled in the dialog): deleting it now would return
    // those loops into a deleted object. Qt deletes it once they have returned.
    if (m_strip) {
        m_strip->hide();
        m_strip->deleteLater();
    }
}

void Controller::createStrip()
{
    m_strip = new StatusStrip(m_model, m_settings);
    connect(m_strip, &StatusStrip::closeRequested, this, &Controller::end, Qt::QueuedConnection);
    connect(m_strip, &StatusStrip::settingsRequested, this, &Controller::runSettingsDialog,
            Qt::QueuedConnection);
    connect(m_strip, &StatusStrip::aboutRequested, this, &Controller::runAboutDialog,
            Qt::QueuedConnection);
    connect(m_strip, &StatusStrip::blogRequested, this,
            [this] { openInBrowser(m_account.blogUrl); });
    connect(m_strip, &StatusStrip::itemRequested, this, &Controller::openItem);
    m_strip->setCommands(m_commands);
    m_strip->showAt(QRect(m_settings.value(Settings::LeftPos), m_settings.value(Settings::TopPos),
                          m_settings.value(Settings::Width), m_settings.value(Settings::Height)));
}

void Controller::openItem(ItemKind kind, const RecentItem &item)
{
    // A lit box whose list emptied has nothing to open, but the person attended to it.
    if (!item.link.empty())
        openInBrowser(item.link);
    m_model.clearNew(kind);
}

void Controller::openInBrowser(const std::string &url)
{
    // A link a page made up (javascript:, a file) is refused, and is not the browser's
    // failure.
    if (!isOpenableWebAddress(url))
        return;
    if (::openInBrowser(url)) {
        m_model.setBrowserFailure({});
        return;
    }
    m_model.setBrowserFailure(QStringLiteral("웹 브라우저를 시작하지 못했습니다"));
}

void Controller::runLoginDialog(const LoginProblem &problem)
{
    if (m_ended)
        return;
    // The box would stand over the fields to correct; being modal, it came first and could
    // not even be closed while the dialog runs.
    m_prompter.closeErrorBox();
    LoginAgain again;
    // Shown as last chosen: typed a moment ago, or as remembered.
    const bool saveId = m_settings.value(Settings::SaveId);
    again.choice = m_typed.value_or(
        LoginChoice{saveId, saveId && m_settings.value(Settings::KeyringPassword)});
    // A refusal says so; a login that got no answer says what failed, as the box did.
    const bool unreachable = problem.reason == LoginProblem::Reason::HostUnreachable;
    again.keepPassword = unreachable;
    again.reason =
        unreachable ? problem.errorText : QStringLiteral("아이디 또는 비밀번호가 맞지 않습니다.");
    const std::optional<LoginChoice> typed = m_prompter.askLogin(m_account, m_settings, again);
    if (!typed) {
        // Cancel ends the run without sending the credentials once more.
        qCWarning(lcLogin) << "the login dialog was cancelled; Ormix ends";
        end();
        return;
    }
    // The run may have ended while the dialog was open.
    if (!m_poller)
        return;
    m_typed = typed;
    m_poller->setCredentialsTyped(true);
    qCInfo(lcNotice) << "logging in with the password typed in the login dialog";
    m_poller->logIn();
}

void Controller::showLoadFailure(const QString &message)
{
    // One box at a time: an outage must not pile up a box per poll.
    if (m_prompter.isErrorBoxOpen())
        return;
    m_prompter.openErrorBox(message);
}

void Controller::rememberSeenIfWanted()
{
    // Only a login that worked names the blog and ID whose items are remembered.
    if (!m_settings.value(Settings::RememberSeen))
        m_seen->detach();
    else if (m_poller->loginState() == LoginState::LoggedIn)
        m_seen->attach(m_account.blogUrl, m_account.id);
}

void Controller::onLoginSucceeded()
{
    // Only now: a login the host refused, then cancelled, leaves the settings and the keyring
    // as they were, and the next start logs in as before.
    if (m_typed) {
        storeTypedLogin(*m_typed);
        m_typed.reset();
    }
    rememberSeenIfWanted();
}

void Controller::storeTypedLogin(const LoginChoice &choice)
{
    // What the settings still name is the entry this login replaces.
    const QString oldEntry = passwordkeyring::rememberedEntry(m_settings);
    const bool remember = choice.saveId;
    const bool keep = remember && choice.keyring;
    // Unticked forgets by overwriting: values are never deleted.
    m_settings.set(Settings::Interval, remember ? m_settings.value(Settings::PollInterval)
                                                : Settings::defaultValue(Settings::Interval));
    m_settings.set(Settings::SaveId, remember);
    m_settings.set(Settings::Id, remember ? QString::fromStdString(m_account.id) : QString());
    m_settings.set(Settings::BlogUrl,
                   remember ? QString::fromStdString(m_account.blogUrl) : QString());
    m_settings.set(Settings::KeyringPassword, keep);
    // Answered for the application, not for this run, which may end before the keyring does.
    QObject *context = QCoreApplication::instance();
    if (keep)
        passwordkeyring::replacePassword(context,
                                         passwordkeyring::entryKey(m_account.blogUrl, m_account.id),
                                         m_account.password(), oldEntry);
    else if (!oldEntry.isEmpty())
        passwordkeyring::deletePassword(context, oldEntry);
}

void Controller::end()
{
    if (m_ended)
        return;
    m_ended = true;
    tearDown();
    emit ended();
}

void Controller::runSettingsDialog()
{
    // The strip's transparency, the notifier, the memory and the poll timer follow the
    // choices by themselves.
    if (!m_ended)
        m_prompter.askSettings(m_settings);
}

void Controller::runAboutDialog()
{
    if (!m_ended)
        m_prompter.showAbout();
}
