#pragma once

#include "client/iviewhost.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>
#include <string>

class COrmixView;
class COrmixWnd;
class DesktopNotifier;
class NetworkReachability;
class QLineEdit;
class QMessageBox;

// The hidden main window. It never shows; closing it ends the run. It hosts the view
// (with its hidden address field and "Go" button) and gives the view the windows and
// dialogs that live above the client layer.
class CMainFrame final : public QMainWindow, public IViewHost
{
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;
    CMainFrame(const CMainFrame &) = delete;
    CMainFrame &operator=(const CMainFrame &) = delete;

    // Runs the view's initial update: status window, login post. credentialsTyped: the
    // store's credentials come from the login dialog rather than the keyring.
    void start(bool credentialsTyped);

    COrmixView *view() const { return m_view; }
    COrmixWnd *statusWindow() const { return m_status.get(); }

    void HideFrame() override;
    IStatusWindow *CreateStatusWindow(const QRect &rect) override;
    bool RunLoginDialog(bool keepTyped) override;
    void ShowNavigationError(const QString &message) override;
    bool IsNavigationErrorShowing() const override;
    void CloseNavigationError() override;
    void CloseMainFrame() override;
    void LoginSucceeded() override;

    DesktopNotifier *desktopNotifier() const { return m_notifier; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void runSettingsDialog();
    void runAboutDialog();
    void tearDown();
    void openNotifiedItem(int kind, const std::string &link);

    COrmixView *m_view = nullptr;
    std::unique_ptr<COrmixWnd> m_status;
    QLineEdit *m_address = nullptr;
    QPointer<QMessageBox> m_errorBox;
    DesktopNotifier *m_notifier = nullptr;
    NetworkReachability *m_reachability = nullptr; // a Qt child
};
