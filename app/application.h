#pragma once

#include "app/windowprompter.h"
#include "model/account.h"
#include "model/dashboardmodel.h"
#include "settings/settings.h"

#include <QApplication>

#include <memory>

class Controller;

// The application object: asks for the login before anything else exists, then starts the
// controller whose poller does the rest. It owns the settings, the account and the model.
class Application final : public QApplication
{
    Q_OBJECT
public:
    Application(int &argc, char **argv);
    ~Application() override;

    // Logs in (from the keyring, or with the login dialog) and starts the controller; false
    // when the program should end at once (the first login was cancelled).
    bool start();
    Controller *controller() const { return m_controller.get(); }
    Account &account() { return m_account; }
    DashboardModel &model() { return m_model; }
    Settings &settings() { return *m_settings; }
    // Another start asked for this run: the strip, or the login dialog, comes to the front.
    void bringToFront();

private:
    std::unique_ptr<Settings> m_settings;
    Account m_account;
    DashboardModel m_model;
    WindowPrompter m_prompter;
    std::unique_ptr<Controller> m_controller;
};

// Handles --help and --version without a display, on a command line checkCommandLine
// accepted; true when the program should end with exitCode.
bool handleInformationalOptions(int argc, char **argv, int &exitCode);
// Rejects, without a display, unknown options, arguments that are no option and Qt options
// that lack their value; false when the program should end with exitCode (2).
bool checkCommandLine(int argc, char **argv, int &exitCode);
