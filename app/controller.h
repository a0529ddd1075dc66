#pragma once

#include "dialogs/logindialog.h"
#include "model/recentitem.h"

#include <QObject>
#include <QPointer>

#include <optional>

class Account;
class CommandActions;
class NoticePause;
class OutageWatch;
class Poller;
class Prompter;
class StatusStrip;
class DashboardModel;
class DesktopNotifier;
class NetworkReachability;
class SeenMemory;
class Settings;
class TrayAvailability;
class TrayIcon;
struct LoginProblem;

// One run after the login: owns the poller, the status strip and the desktop notifier,
// connects them to the model and the settings, and runs the dialogs and the error box they
// ask for through the prompter. Ending it ends the program.
class Controller final : public QObject
{
    Q_OBJECT
public:
    Controller(Account &account, DashboardModel &model, Settings &settings, Prompter &prompter);
    ~Controller() override;
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    // Shows the status strip where it was left and sends the first login. typed: the choice
    // made in the login dialog when the account comes from it rather than the keyring.
    void start(const std::optional<LoginChoice> &typed);

    // The poller stops, the windows hide, and ended() is emitted. The windows are deleted
    // once every loop that runs on them (a menu, a dialog) has returned.
    void end();

    Poller *poller() const { return m_poller; }
    // Null once the run ended.
    StatusStrip *strip() const;
    DesktopNotifier *desktopNotifier() const { return m_notifier; }
    // The commands both menus offer: check now, mark all read, pause, resume, the dashboard.
    CommandActions *commands() const { return m_commands; }
    NoticePause *pause() const { return m_pause; }
    OutageWatch *outageWatch() const { return m_outage; }
    // The tray icon while it is wanted and the desktop has a tray; null otherwise.
    TrayIcon *trayIcon() const;

    // The one place that opens an item the person asked for, from a box, the notice, a list
    // row or a notification: the web browser gets its link, and the model hears that the
    // person attended to its kind.
    void openItem(ItemKind kind, const RecentItem &item);
    // Starts the web browser with url. A start that fails is logged and shown in the strip's
    // tooltip; only a web address is ever handed over.
    void openInBrowser(const std::string &url);

signals:
    // The run is over: the event loop is to end.
    void ended();

private:
    void createStrip();
    void runLoginDialog(const LoginProblem &problem);
    void showLoadFailure(const QString &message);
    // The host accepted the account: what was typed is remembered as chosen, and what is
    // seen of this blog if that is wanted.
    void onLoginSucceeded();
    // The choice made in the login dialog, stored with the account it was made for: the
    // address, ID and interval, and the password in the keyring or out of it.
    void storeTypedLogin(const LoginChoice &choice);
    void rememberSeenIfWanted();
    void runSettingsDialog();
    void runAboutDialog();
    void tearDown();
    void connectCommands();
    // The tray icon follows the choice and the desktop: made when both allow, gone otherwise.
    void updateTrayIcon();
    void removeTrayIcon();
    void onOutageBegan(const QString &failure);
    void onOutageEnded();

    Account &m_account;
    DashboardModel &m_model;
    Settings &m_settings;
    Prompter &m_prompter;
    Poller *m_poller = nullptr;
    QPointer<StatusStrip> m_strip;
    bool m_ended = false;
    // What the login dialog chose for the account it filled, until the host accepts it.
    std::optional<LoginChoice> m_typed;
    DesktopNotifier *m_notifier = nullptr;
    NetworkReachability *m_reachability = nullptr;  // a Qt child
    SeenMemory *m_seen = nullptr;                   // a Qt child
    CommandActions *m_commands = nullptr;           // a Qt child
    NoticePause *m_pause = nullptr;                 // a Qt child
    OutageWatch *m_outage = nullptr;                // a Qt child
    TrayAvailability *m_trayAvailability = nullptr; // a Qt child, while the icon is wanted
    TrayIcon *m_tray = nullptr;                     // a Qt child, while shown
    // Whether the tray icon's availability was known with the watcher's host at hand.
    bool m_trayOverStatusNotifier = false;
    // A long outage was told of by a notification; its end will be too.
    bool m_outageTold = false;
};
