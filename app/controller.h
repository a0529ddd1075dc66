#pragma once

#include "dialogs/logindialog.h"
#include "state/recentitem.h"

#include <QObject>
#include <QPointer>

#include <optional>

class Account;
class Poller;
class Prompter;
class StatusStrip;
class DashboardModel;
class DesktopNotifier;
class NetworkReachability;
class SeenMemory;
class Settings;
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

    // The one place that opens an item the person asked for, from a box, the notice, a list
    // row or a notification: the web browser gets its link, and the model hears that the
    // person attended to its kind.
    void openItem(ItemKind kind, const RecentItem &item);

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
    NetworkReachability *m_reachability = nullptr; // a Qt child
    SeenMemory *m_seen = nullptr;                  // a Qt child
};
