#pragma once

#include "dialogs/logindialog.h"

#include <QString>

#include <optional>

class Account;
class Settings;

// What the controller asks of the person at the screen: the login and settings dialogs, the
// about box and the error box. The program's own shows windows; a test answers in-process.
class Prompter
{
public:
    Prompter() = default;
    virtual ~Prompter() = default;
    Prompter(const Prompter &) = delete;
    Prompter &operator=(const Prompter &) = delete;

    // Runs the login dialog until it is accepted or cancelled: with again, after a login that
    // did not work; without, at the start (the remembered values). Accepted, the account holds
    // what was typed (the interval is the settings' interval in use, kept for this run only)
    // and the answer is the choice made, which nothing has stored yet; Cancel
    // gives nothing.
    virtual std::optional<LoginChoice> askLogin(Account &account, Settings &settings,
                                                const std::optional<LoginAgain> &again) = 0;
    // Runs the settings dialog, which stores what it shows (the interval in use too).
    virtual void askSettings(Settings &settings) = 0;
    // Runs the about box.
    virtual void showAbout() = 0;

    // The error box: shown without waiting for it, closed by the person or by the program.
    virtual void openErrorBox(const QString &text) = 0;
    virtual void closeErrorBox() = 0;
    virtual bool isErrorBoxOpen() const = 0;
};
