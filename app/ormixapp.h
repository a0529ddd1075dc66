#pragma once

#include "state/account.h"
#include "state/dashboardmodel.h"
#include "state/settings.h"

#include <QApplication>

#include <memory>

class CMainFrame;

// The application object: asks for the login before anything else exists, then builds
// the hidden frame whose poller does the rest. It owns the account and the model.
class COrmixApp final : public QApplication
{
    Q_OBJECT
public:
    COrmixApp(int &argc, char **argv);
    ~COrmixApp() override;

    // False when the program should end at once (the first login was cancelled).
    bool InitInstance();
    CMainFrame *mainFrame() const { return m_frame.get(); }
    Account &account() { return m_account; }
    DashboardModel &model() { return m_model; }
    Settings &settings() { return *m_settings; }
    // Another start asked for this run: the strip, or the login dialog, comes to the front.
    void bringToFront();

private:
    std::unique_ptr<Settings> m_settings;
    Account m_account;
    DashboardModel m_model;
    std::unique_ptr<CMainFrame> m_frame;
};

// Handles --help and --version without a display; true when the program should end
// with exitCode.
bool HandleInformationalOptions(int argc, char **argv, int &exitCode);
// Rejects unknown options without a display; false when the program should end with
// exitCode (2).
bool CheckCommandLine(int argc, char **argv, int &exitCode);
