#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class Account;
class Poller;
class StatusStrip;
class DashboardModel;
class DesktopNotifier;
class NetworkReachability;
class QMessageBox;
class SeenMemory;
class Settings;

// One run after the login: owns the poller, the status strip and the desktop notifier,
// connects them to the model and the settings, and runs the dialogs and the error box they
// ask for. Ending it ends the program.
class Controller final : public QObject
{
    Q_OBJECT
public:
    Controller(Account &account, DashboardModel &model, Settings &settings);
    ~Controller() override;
    Controller(const Controller &) = delete;
    Controller &operator=(const Controller &) = delete;

    // Shows the status strip where it was left and sends the first login. credentialsTyped:
    // the account comes from the login dialog rather than the keyring.
    void start(bool credentialsTyped);

    // The poller stops, the windows go, and the event loop is asked to end.
    void end();

    Poller *poller() const { return m_poller; }
    StatusStrip *strip() const { return m_strip.get(); }
    DesktopNotifier *desktopNotifier() const { return m_notifier; }
    // The box that says a page could not be loaded, while it is open.
    QMessageBox *errorBox() const;

private:
    void createStrip();
    void runLoginDialog(bool keepTyped);
    void showLoadFailure(const QString &message);
    // The host accepted the account: the keyring keeps the password if it is to, and what
    // is seen of this blog is remembered if it is to.
    void onLoginSucceeded();
    void rememberSeenIfWanted();
    void runSettingsDialog();
    void runAboutDialog();
    void tearDown();

    Account &m_account;
    DashboardModel &m_model;
    Settings &m_settings;
    Poller *m_poller = nullptr;
    std::unique_ptr<StatusStrip> m_strip;
    QPointer<QMessageBox> m_errorBox;
    DesktopNotifier *m_notifier = nullptr;
    NetworkReachability *m_reachability = nullptr; // a Qt child
    SeenMemory *m_seen = nullptr;                  // a Qt child
};
