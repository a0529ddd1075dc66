#pragma once

#include "app/prompter.h"

#include <QPointer>

class QMessageBox;

// The prompter of the program itself: modal dialogs, and the error box as a window of its own.
class WindowPrompter final : public Prompter
{
public:
    WindowPrompter();
    ~WindowPrompter() override;

    std::optional<LoginChoice> askLogin(Account &account, Settings &settings,
                                        const std::optional<LoginAgain> &again) override;
    void askSettings(Settings &settings) override;
    void showAbout() override;
    void openErrorBox(const QString &text) override;
    void closeErrorBox() override;
    bool isErrorBoxOpen() const override;

private:
    QPointer<QMessageBox> m_errorBox;
};
