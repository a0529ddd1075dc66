#pragma once

#include <QMainWindow>
#include <QPointer>

#include <memory>

class Account;
class COrmixView;
class StatusStrip;
class DashboardModel;
class DesktopNotifier;
class NetworkReachability;
class QMessageBox;
class Settings;

// The hidden main window. It never shows; closing it ends the run. It owns the poller, the
// status strip and the desktop notifier, connects them to the model, and runs the dialogs
// and the error box they ask for.
class CMainFrame final : public QMainWindow
{
    Q_OBJECT
public:
    CMainFrame(Account &account, DashboardModel &model, Settings &settings);
    ~CMainFrame() override;
    CMainFrame(const CMainFrame &) = delete;
    CMainFrame &operator=(const CMainFrame &) = delete;

    // Shows the status strip where it was left and sends the first login. credentialsTyped:
    // the account comes from the login dialog rather than the keyring.
    void start(bool credentialsTyped);

    COrmixView *view() const { return m_view; }
    StatusStrip *statusWindow() const { return m_status.get(); }
    DesktopNotifier *desktopNotifier() const { return m_notifier; }
    // The box that says a page could not be loaded, while it is open.
    QMessageBox *errorBox() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createStatusWindow();
    void runLoginDialog(bool keepTyped);
    void showLoadFailure(const QString &message);
    void storePasswordAfterLogin();
    void runSettingsDialog();
    void runAboutDialog();
    void tearDown();

    Account &m_account;
    DashboardModel &m_model;
    Settings &m_settings;
    COrmixView *m_view = nullptr;
    std::unique_ptr<StatusStrip> m_status;
    QPointer<QMessageBox> m_errorBox;
    DesktopNotifier *m_notifier = nullptr;
    NetworkReachability *m_reachability = nullptr; // a Qt child
};
